#include "clip/judgement.h"

#include <algorithm>
#include <iterator>

#include "clip/marks.h"
#include "clip/weak_candidates.h"
#include "platform/numbers.h"
#include "tracking/face_evidence.h"

namespace qlcore {
namespace {

Verdict _ignored_verdict(IgnoreReason reason) {
    return reason == IgnoreReason::Flash ? Verdict::ignored_flash : Verdict::ignored_nonface;
}

std::string _median_text(const Decision& d) {
    return d.median ? shortest(*d.median) : "unknown";
}

// A flagged verdict of a spot of at least six frames.
std::optional<Marker> _review_marker(const JudgedTrack& t) {
    const Decision& d = t.decision;
    if (!d.review || t.path.end - t.path.start < 5) return std::nullopt;
    Marker m{t.path.start, t.path.end - t.path.start + 1, "", "", ""};
    switch (*d.review) {
        case Review::KeptBorderline:
            m.color = "Red";
            m.name = "Quillet: check visible face";
            m.note = "Left visible as " + d.person.value_or("") + " (similarity " +
                     _median_text(d) + "). Make sure this is really them.";
            break;
        case Review::WeakEvidence:
            m.color = "Purple";
            m.name = "Quillet: mosaicked on weak evidence";
            m.note =
                "Mosaicked, though the detector was unsure it is a face (best detector "
                "score " +
                shortest(t.best_score) + ").";
            break;
        case Review::MosaicBorderline:
            m.color = "Yellow";
            m.name = "Quillet: possibly over-mosaicked";
            m.note = "Mosaicked, but looked a bit like an enrolled person (similarity " +
                     _median_text(d) + ").";
            break;
        case Review::FailedChecks:
            m.color = "Cyan";
            m.name = "Quillet: mosaicked, may not be a face";
            m.note =
                "Mosaicked for privacy, though every re-check said it is no face (best re-check " +
                shortest(t.failed_check.value_or(0.0)) +
                "). If it is not a face, lift the mosaic: write {\"keep\": [" +
                std::to_string(t.override_frame.value_or(t.best_frame)) +
                "]} into the overrides file and run the clip again.";
            break;
    }
    return m;
}

// A non-face tracked long enough to be a face left visible: at least
// LONG_TRACK detection frames and a path of at least six frames.
std::optional<Marker> _left_visible_marker(const JudgedTrack& t) {
    if (t.n_detections < LONG_TRACK || t.path.end - t.path.start < 5) return std::nullopt;
    const int64_t frame = t.override_frame.value_or(t.best_frame);
    return Marker{t.path.start, t.path.end - t.path.start + 1, "Purple",
                  "Quillet: check face left visible",
                  "Left visible: judged not to be a face (best detector score " +
                      shortest(t.best_score) + "). If it is a face, hide it: write {\"hide\": [" +
                      std::to_string(frame) + "]} into the overrides file and run the clip again."};
}

}  // namespace

bool is_hidden(Verdict v) {
    return v == Verdict::mosaicked || v == Verdict::hidden_by_you || v == Verdict::weak_candidate;
}

bool is_ignored(Verdict v) {
    return v == Verdict::ignored_flash || v == Verdict::ignored_nonface;
}

JudgedTrack judged_track(const Track& t, int64_t n_frames) {
    JudgedTrack j;
    j.id = t.id;
    j.path = track_boxes(t, n_frames);
    j.n_detections = static_cast<int64_t>(t.frames.size());
    j.decision.n_samples = static_cast<int>(t.samples.size());
    for (size_t i = 0; i < t.scores.size() && i < t.frames.size(); ++i)
        if (i == 0 || t.scores[i] > j.best_score) {
            j.best_score = t.scores[i];
            j.best_frame = t.frames[i];
        }
    return j;
}

Judgement judge(const SearchResult& result, FrameSize size, const std::vector<std::string>& names,
                const json& overrides, const Tuning& tuning) {
    const double long_side = static_cast<double>(std::max(size.w, size.h));
    Judgement j;
    std::vector<JudgedTrack>& all = j.tracks;
    for (size_t i = 0; i < result.tracks.size(); ++i) {
        const Track& t = result.tracks[i];
        JudgedTrack jt = judged_track(t, result.n_frames);
        // Thorough keeps a long track whose re-checks failed only when it
        // shows a face some other way (tracking/face_evidence.h).
        const bool keep_long =
            tuning.thorough && backed_by_evidence(result.tracks, result.evidence, i);
        if (auto reason = ignored(t, long_side, keep_long)) {
            jt.verdict = _ignored_verdict(*reason);
        } else {
            jt.decision = decide(t, names, tuning.keep_threshold);
            jt.verdict = jt.decision.keep ? Verdict::kept : Verdict::mosaicked;
            // Hidden for privacy, but flagged: a long track whose re-checks
            // all failed may well be a defocused head or no face at all.
            if (tuning.thorough && !jt.decision.keep && is_lookalike(t, long_side)) {
                jt.failed_check = *std::max_element(t.checks.begin(), t.checks.end());
                if (!jt.decision.review) jt.decision.review = Review::FailedChecks;
            }
        }
        all.push_back(std::move(jt));
    }
    // Only the thorough search has candidates; it acts on those that show a
    // face besides their score.
    std::vector<JudgedTrack> weak = weak_tracks(
        backed_tracks(result.candidates, result.candidate_evidence), all, result.n_frames);
    std::move(weak.begin(), weak.end(), std::back_inserter(all));
    apply_marks(all, overrides);
    apply_hides(all, overrides);
    std::stable_sort(all.begin(), all.end(),
                     [](const JudgedTrack& a, const JudgedTrack& b) { return a.id < b.id; });

    for (JudgedTrack& t : all) {
        switch (t.verdict) {
            case Verdict::kept:
            case Verdict::kept_by_you:
                ++j.kept;
                break;
            case Verdict::mosaicked:
            case Verdict::weak_candidate:
                t.override_frame = keep_frame(t, all, t.best_frame);
                ++j.mosaicked;
                break;
            case Verdict::hidden_by_you:
                ++j.mosaicked;
                break;
            case Verdict::ignored_flash:
                t.override_frame = hide_frame(t, all);
                ++j.n_flash;
                break;
            case Verdict::ignored_nonface:
                t.override_frame = hide_frame(t, all);
                ++j.n_look;
                break;
        }
        t.marker = track_marker(t);
    }
    return j;
}

std::optional<Marker> track_marker(const JudgedTrack& t) {
    if (t.verdict == Verdict::ignored_nonface) return _left_visible_marker(t);
    if (is_ignored(t.verdict)) return std::nullopt;
    return _review_marker(t);
}

MosaicPlan mosaic_plan(const Judgement& j) {
    MosaicPlan plan;
    for (const JudgedTrack& t : j.tracks)
        if (is_hidden(t.verdict))
            for (const auto& [frame, box] : t.path.entries)
                plan[frame].push_back(box);
    return plan;
}

}  // namespace qlcore
