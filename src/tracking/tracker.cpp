#include "tracking/tracker.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace qlcore {

void Track::add(int64_t fi, const Box& box, double score) {
    frames.push_back(fi);
    boxes.push_back(box);
    scores.push_back(score);
    last = fi;
}

double iou(const Box& a, const Box& b) {
    double ax2 = a.x + a.w, ay2 = a.y + a.h;
    double bx2 = b.x + b.w, by2 = b.y + b.h;
    double iw = std::max(0.0, std::min(ax2, bx2) - std::max(a.x, b.x));
    double ih = std::max(0.0, std::min(ay2, by2) - std::max(a.y, b.y));
    double inter = iw * ih;
    double u = a.w * a.h + b.w * b.h - inter;
    return u > 0 ? inter / u : 0.0;
}

namespace {

struct Candidate {
    double score;
    size_t di;
    size_t ti;
};

// The pair score of detection b against track t, or nothing when a gate drops it.
std::optional<double> _pair_score(const Box& b, const Track& t, int64_t fi) {
    const Box& tb = t.boxes.back();
    double ov = iou(b, tb);
    double bs = std::sqrt(b.w * b.h);
    double ts = std::sqrt(tb.w * tb.h);
    double ratio = ts > 0 ? bs / ts : 0.0;
    // Written so that NaN fails the gate too.
    if (!(0.5 <= ratio && ratio <= 2.0)) return std::nullopt;
    double d = std::hypot((b.x + b.w / 2) - (tb.x + tb.w / 2), (b.y + b.h / 2) - (tb.y + tb.h / 2));
    auto gap = static_cast<double>(fi - t.last);
    double reach = std::max(bs, ts) * (0.6 + 0.08 * gap);
    if (!(ov > 0.15 || d < reach)) return std::nullopt;
    return (ov + 0.5 * std::max(0.0, 1.0 - d / reach)) - 0.01 * gap;
}

}  // namespace

std::vector<Track*> Tracker::update(int64_t fi, const std::vector<Box>& boxes,
                                    const std::optional<std::vector<double>>& scores) {
    if (scores && scores->size() != boxes.size())
        throw std::invalid_argument("tracker: " + std::to_string(scores->size()) + " scores for " +
                                    std::to_string(boxes.size()) + " boxes");
    // A frame at or before a track's latest detection would break its
    // strictly increasing frames, which the box paths rely on.
    for (const Track* t : active)
        if (t->last >= fi)
            throw std::invalid_argument("tracker: frame " + std::to_string(fi) +
                                        " does not follow frame " + std::to_string(t->last));

    std::erase_if(active, [&](const Track* t) { return fi - t->last > MAX_GAP; });

    std::vector<Candidate> pairs;
    pairs.reserve(boxes.size() * active.size());
    for (size_t di = 0; di < boxes.size(); ++di)
        for (size_t ti = 0; ti < active.size(); ++ti)
            if (auto s = _pair_score(boxes[di], *active[ti], fi)) pairs.push_back({*s, di, ti});

    // Ties go to the larger detection index, then the larger track index.
    std::sort(pairs.begin(), pairs.end(), [](const Candidate& a, const Candidate& b) {
        if (a.score != b.score) return a.score > b.score;
        if (a.di != b.di) return a.di > b.di;
        return a.ti > b.ti;
    });

    // Indices refer to the active list as it stood before new tracks join it.
    std::vector<Track*> result(boxes.size(), nullptr);
    std::vector<bool> track_used(active.size(), false);
    for (const Candidate& p : pairs) {
        if (result[p.di] || track_used[p.ti]) continue;
        track_used[p.ti] = true;
        result[p.di] = active[p.ti];
    }

    for (size_t di = 0; di < boxes.size(); ++di) {
        if (!result[di]) {
            tracks.emplace_back(static_cast<int>(tracks.size()));
            active.push_back(&tracks.back());
            result[di] = &tracks.back();
        }
        result[di]->add(fi, boxes[di], scores ? (*scores)[di] : 1.0);
    }
    return result;
}

}  // namespace qlcore
