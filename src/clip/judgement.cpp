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

// Where no mark can name the face alone, say so rather than give a line
// that takes another face.
constexpr const char* NO_LINE =
    " No overrides line can name this face alone: another face overlaps it in every frame.";

std::string _write(const MarkLine& m, const char* key) {
    return "write " + overrides_line_text(key, m) +
           " into the overrides file and run the clip again.";
}

// A frame of the clip gets a marker for a mark not applied; the console
// says it in any case.
void _mark_problems(Judgement& j, const std::vector<MarkProblem>& problems, int64_t n_frames) {
    for (const MarkProblem& p : problems) {
        const std::string what =
            "the \"" + p.key + "\" mark " + mark_text(p.mark) + " was not applied: " + p.why;
        j.warnings.push_back("  \u26a0 " + what);
        int64_t frame =
            p.mark.is_object() ? p.mark.value("frame", int64_t{-1}) : p.mark.get<int64_t>();
        if (frame < 0 || frame >= n_frames) continue;
        std::string note = what + ".";
        note[0] = 'T';
        j.mark_markers.push_back(
            {frame, 1, "Red", "Quillet: mark not applied", note + " Check the overrides file."});
    }
}

// A flagged verdict of a spot of at least six frames.
std::optional<Marker> _review_marker(const JudgedTrack& t) {
    const Decision& d = t.decision;
    // A mixed run is marked however short: it is a face left visible.
    const bool mixed = d.review == Review::KeptMixed;
    if (!d.review || (!mixed && t.path.end - t.path.start < 5)) return std::nullopt;
    Marker m{t.path.start, t.path.end - t.path.start + 1, "", "", ""};
    switch (*d.review) {
        case Review::KeptMixed:
            m.frame = t.mixed ? t.mixed->first : m.frame;
            m.duration = t.mixed ? t.mixed->second - t.mixed->first + 1 : m.duration;
            m.color = "Red";
            m.name = "Quillet: check visible face";
            m.note = "Left visible as " + d.person.value_or("") + " (similarity " +
                     _median_text(d) +
                     "), but here the face did not match them. Make sure this is really them.";
            m.note +=
                t.override_mark ? " If not, hide it: " + _write(*t.override_mark, "hide") : NO_LINE;
            break;
        case Review::KeptBorderline:
            m.color = "Red";
            m.name = "Quillet: check visible face";
            m.note = "Left visible as " + d.person.value_or("") + " (similarity " +
                     _median_text(d) + "). Make sure this is really them.";
            if (t.override_mark)
                m.note += " If it is not them, hide it: " + _write(*t.override_mark, "hide");
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
                shortest(t.failed_check.value_or(0.0)) + ").";
            m.note += t.override_mark ? " If it is not a face, lift the mosaic: " +
                                            _write(*t.override_mark, "keep")
                                      : NO_LINE;
            break;
    }
    return m;
}

// A non-face tracked long enough to be a face left visible: at least
// LONG_TRACK detection frames and a path of at least six frames.
std::optional<Marker> _left_visible_marker(const JudgedTrack& t) {
    if (t.n_detections < LONG_TRACK || t.path.end - t.path.start < 5) return std::nullopt;
    return Marker{
        t.path.start, t.path.end - t.path.start + 1, "Purple", "Quillet: check face left visible",
        "Left visible: judged not to be a face (best detector score " + shortest(t.best_score) +
            ")." +
            (t.override_mark ? " If it is a face, hide it: " + _write(*t.override_mark, "hide")
                             : NO_LINE)};
}

}  // namespace

bool is_hidden(Verdict v) {
    return v == Verdict::mosaicked || v == Verdict::hidden_by_you || v == Verdict::weak_candidate;
}

bool is_ignored(Verdict v) {
    return v == Verdict::ignored_flash || v == Verdict::ignored_nonface || v == Verdict::weak_thin;
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

std::optional<std::pair<int64_t, int64_t>> mixed_frames(const Track& track, int person,
                                                        double keep_threshold, double fps) {
    std::optional<std::pair<int64_t, int64_t>> span;
    const auto& s = track.samples;
    for (size_t i = 0; i < s.size();) {
        auto other = [&](size_t k) { return s[k].sim < keep_threshold || s[k].person != person; };
        if (!other(i)) {
            ++i;
            continue;
        }
        size_t e = i;
        while (e + 1 < s.size() && other(e + 1))
            ++e;
        const bool long_run = e - i + 1 >= static_cast<size_t>(MIXED_SAMPLES) ||
                              (fps > 0.0 && static_cast<double>(s[e].frame - s[i].frame) >= fps);
        if (long_run) {
            if (!span) span.emplace(s[i].frame, s[e].frame);
            span->second = s[e].frame;
        }
        i = e + 1;
    }
    return span;
}

Judgement judge(const SearchResult& result, FrameSize size, const std::vector<std::string>& names,
                const json& overrides, const Tuning& tuning, double fps) {
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
            if (jt.decision.keep) {
                const auto who = std::find(names.begin(), names.end(), *jt.decision.person);
                jt.mixed = mixed_frames(t, static_cast<int>(who - names.begin()),
                                        tuning.keep_threshold, fps);
                if (jt.mixed) jt.decision.review = Review::KeptMixed;
            }
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
    std::vector<MarkProblem> problems = apply_marks(all, overrides);
    for (MarkProblem& p : apply_hides(all, overrides))
        problems.push_back(std::move(p));
    _mark_problems(j, problems, result.n_frames);
    std::stable_sort(all.begin(), all.end(),
                     [](const JudgedTrack& a, const JudgedTrack& b) { return a.id < b.id; });

    for (JudgedTrack& t : all) {
        switch (t.verdict) {
            case Verdict::kept:
                t.override_mark = hide_mark(t, all);
                ++j.kept;
                break;
            case Verdict::kept_by_you:
                ++j.kept;
                break;
            case Verdict::mosaicked:
            case Verdict::weak_candidate:
                t.override_mark = keep_mark(t, all, t.best_frame);
                ++j.mosaicked;
                break;
            case Verdict::hidden_by_you:
                ++j.mosaicked;
                break;
            case Verdict::ignored_flash:
                t.override_mark = hide_mark(t, all);
                ++j.n_flash;
                break;
            case Verdict::ignored_nonface:
                t.override_mark = hide_mark(t, all);
                ++j.n_look;
                break;
            case Verdict::weak_thin:
                // Not in the summary: the default search never sees these.
                t.override_mark = hide_mark(t, all);
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
