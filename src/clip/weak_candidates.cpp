#include "clip/weak_candidates.h"

#include <algorithm>

namespace qlcore {
namespace {

// Whether a live track's path holds a box over `box` at `frame`.
bool _covered(int64_t frame, const Box& box, const std::vector<JudgedTrack>& judged) {
    return std::any_of(judged.begin(), judged.end(), [&](const JudgedTrack& l) {
        if (is_ignored(l.verdict)) return false;
        auto other = l.path.at(frame);
        return other && iou(box, to_box(*other)) >= CANDIDATE_OVERLAP;
    });
}

// The runs of consecutive detections of `c` that no live track covers.
std::vector<Track> _uncovered_runs(const Track& c, const std::vector<JudgedTrack>& judged) {
    std::vector<Track> runs;
    bool open = false;
    for (size_t i = 0; i < c.frames.size() && i < c.boxes.size(); ++i) {
        if (_covered(c.frames[i], c.boxes[i], judged)) {
            open = false;
            continue;
        }
        if (!open) runs.emplace_back(c.id);
        open = true;
        runs.back().add(c.frames[i], c.boxes[i], i < c.scores.size() ? c.scores[i] : 1.0);
    }
    return runs;
}

}  // namespace

std::vector<JudgedTrack> weak_tracks(const std::vector<Track>& candidates,
                                     const std::vector<JudgedTrack>& judged, int64_t n_frames) {
    int next_id = 0;
    for (const JudgedTrack& t : judged)
        next_id = std::max(next_id, t.id + 1);
    for (const Track& c : candidates)
        next_id = std::max(next_id, c.id + 1);

    std::vector<JudgedTrack> out;
    for (const Track& c : candidates) {
        std::vector<Track> runs = _uncovered_runs(c, judged);
        for (size_t i = 0; i < runs.size(); ++i) {
            if (i > 0) runs[i].id = next_id++;
            JudgedTrack t = judged_track(runs[i], n_frames);
            t.decision.n_samples = 0;
            if (t.n_detections < CANDIDATE_MIN_DETECTIONS) {
                t.verdict = Verdict::weak_thin;
            } else {
                t.verdict = Verdict::weak_candidate;
                t.decision.review = Review::WeakEvidence;
            }
            out.push_back(std::move(t));
        }
    }
    return out;
}

}  // namespace qlcore
