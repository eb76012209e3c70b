#include "clip/weak_candidates.h"

#include <algorithm>

#include "platform/numbers.h"

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
                                     const std::vector<JudgedTrack>& live, int64_t n_frames) {
    std::vector<JudgedTrack> out;
    for (const Track& c : candidates) {
        if (c.frames.size() < static_cast<size_t>(CANDIDATE_MIN_DETECTIONS)) continue;
        JudgedTrack t;
        t.id = c.id;
        t.path = track_boxes(c, n_frames);
        if (std::any_of(live.begin(), live.end(),
                        [&](const JudgedTrack& l) { return _overlaps(t.path, l.path); }))
            continue;
        t.decision.review = Review::WeakEvidence;
        // As the cache stores scores, so a rerun from it says the same.
        for (double s : c.scores)
            t.best_score = std::max(t.best_score, round_places(s, 3));
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace qlcore
