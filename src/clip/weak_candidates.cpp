#include "clip/weak_candidates.h"

#include <algorithm>

namespace qlcore {
namespace {

Box _box(const BoxF& b) {
    return {b.x, b.y, b.w, b.h};
}

bool _overlaps(const BoxPath& a, const BoxPath& b) {
    if (a.end < b.start || b.end < a.start) return false;
    for (const auto& [frame, box] : a.entries)
        if (auto other = b.at(frame); other && iou(_box(box), _box(*other)) >= CANDIDATE_OVERLAP)
            return true;
    return false;
}

}  // namespace

std::vector<JudgedTrack> weak_tracks(const std::vector<Track>& candidates,
                                     const std::vector<JudgedTrack>& judged, int64_t n_frames) {
    std::vector<JudgedTrack> out;
    for (const Track& c : candidates) {
        if (c.frames.size() < static_cast<size_t>(CANDIDATE_MIN_DETECTIONS)) continue;
        JudgedTrack t = judged_track(c, n_frames);
        if (std::any_of(judged.begin(), judged.end(), [&](const JudgedTrack& l) {
                return !is_ignored(l.verdict) && _overlaps(t.path, l.path);
            }))
            continue;
        t.verdict = Verdict::weak_candidate;
        t.decision.review = Review::WeakEvidence;
        t.decision.n_samples = 0;
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace qlcore
