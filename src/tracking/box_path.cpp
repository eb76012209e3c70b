#include "tracking/box_path.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace qlcore {

namespace {

// Box arithmetic is per component in single precision; double operands are
// rounded to single first so every platform gets the same boxes.
BoxF _plus(const BoxF& a, const BoxF& b) {
    return {a.x + b.x, a.y + b.y, a.w + b.w, a.h + b.h};
}
BoxF _minus(const BoxF& a, const BoxF& b) {
    return {a.x - b.x, a.y - b.y, a.w - b.w, a.h - b.h};
}
BoxF _times(const BoxF& a, float k) {
    return {a.x * k, a.y * k, a.w * k, a.h * k};
}
BoxF _divided(const BoxF& a, float k) {
    return {a.x / k, a.y / k, a.w / k, a.h / k};
}

// Smoothed boxes of the detection span, indexed by frame - origin.
struct Span {
    int64_t origin;
    std::vector<BoxF> boxes;
    const BoxF& at(int64_t f) const { return boxes[static_cast<size_t>(f - origin)]; }
};

// Per-frame motion of x and y between the first and last of the consecutive
// frames f0 ... f1; the padding keeps the end box's size.
BoxF velocity(const Span& sm, int64_t f0, int64_t f1) {
    if (f1 <= f0) return {0.0f, 0.0f, 0.0f, 0.0f};
    BoxF v = _divided(_minus(sm.at(f1), sm.at(f0)), static_cast<float>(f1 - f0));
    v.w = 0.0f;
    v.h = 0.0f;
    return v;
}

}  // namespace

std::optional<BoxF> BoxPath::at(int64_t f) const {
    if (entries.empty() || f < start || f > end) return std::nullopt;
    // The layout is span, lead-in, lead-out; find f there first and fall back
    // to a scan for paths put together some other way.
    const int64_t n = static_cast<int64_t>(entries.size());
    const int64_t first = entries.front().first;
    auto hit = [&](int64_t i) { return i >= 0 && i < n && entries[i].first == f; };
    if (f >= first) {
        if (hit(f - first)) return entries[f - first].second;
        if (hit(n - 1 - (end - f))) return entries[n - 1 - (end - f)].second;
    } else {
        // Span entries satisfy entries[i].first == first + i; the lead-in
        // follows them.
        int64_t lo = 0, hi = n;
        while (lo < hi) {
            int64_t mid = lo + (hi - lo) / 2;
            if (entries[mid].first == first + mid)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (hit(lo + (f - start))) return entries[lo + (f - start)].second;
    }
    for (const auto& [frame, box] : entries)
        if (frame == f) return box;
    return std::nullopt;
}

BoxPath track_boxes(const Track& track, int64_t n_frames) {
    const std::vector<int64_t>& fr = track.frames;
    BoxPath path;
    if (fr.empty()) return path;
    if (track.boxes.size() != fr.size())
        throw std::invalid_argument("track_boxes: track " + std::to_string(track.id) + " has " +
                                    std::to_string(track.boxes.size()) + " boxes for " +
                                    std::to_string(fr.size()) + " frames");
    for (size_t k = 1; k < fr.size(); ++k)
        if (fr[k] <= fr[k - 1])
            throw std::invalid_argument("track_boxes: frames of track " + std::to_string(track.id) +
                                        " are not increasing");

    const int64_t first = fr.front();
    const int64_t last = fr.back();
    const size_t len = static_cast<size_t>(last - first + 1);

    // Gaps between detections become straight-line blends of their two boxes.
    std::vector<BoxF> dense(len);
    auto to_f = [](const Box& b) {
        return BoxF{static_cast<float>(b.x), static_cast<float>(b.y), static_cast<float>(b.w),
                    static_cast<float>(b.h)};
    };
    for (size_t k = 0; k < fr.size(); ++k) {
        BoxF a = to_f(track.boxes[k]);
        dense[static_cast<size_t>(fr[k] - first)] = a;
        if (k + 1 == fr.size() || fr[k + 1] - fr[k] <= 1) continue;
        BoxF diff = _minus(to_f(track.boxes[k + 1]), a);
        int64_t span = fr[k + 1] - fr[k];
        for (int64_t j = 1; j < span; ++j) {
            auto t = static_cast<float>(static_cast<double>(j) / static_cast<double>(span));
            dense[static_cast<size_t>(fr[k] - first + j)] = _plus(a, _times(diff, t));
        }
    }

    // Moving average over the unsmoothed boxes; the window shrinks at the ends
    // rather than being padded.
    Span sm{first, std::vector<BoxF>(len)};
    const auto n = static_cast<int64_t>(len);
    for (int64_t i = 0; i < n; ++i) {
        BoxF sum{0.0f, 0.0f, 0.0f, 0.0f};
        int64_t lo = std::max<int64_t>(0, i - SMOOTH), hi = std::min<int64_t>(n - 1, i + SMOOTH);
        for (int64_t k = lo; k <= hi; ++k)
            sum = _plus(sum, dense[static_cast<size_t>(k)]);
        sm.boxes[static_cast<size_t>(i)] = _divided(sum, static_cast<float>(hi - lo + 1));
    }

    const size_t ndet = fr.size();
    int64_t p0 = 2, p1 = 2;
    if (ndet >= 4) {
        p0 = PAD_START;
        p1 = PAD_END;
    } else if (ndet >= 2) {
        p0 = 3;
        p1 = 4;
    }
    const int64_t m = std::min<int64_t>(6, n);
    const BoxF v_end = velocity(sm, last - m + 1, last);
    const BoxF v_start = velocity(sm, first, first + m - 1);

    const int64_t lead_from = std::max<int64_t>(0, first - p0);
    const int64_t stop = n_frames > 0 ? std::min(n_frames, last + p1 + 1) : last + p1 + 1;
    path.entries.reserve(len + static_cast<size_t>(first - lead_from) +
                         static_cast<size_t>(std::max<int64_t>(0, stop - last - 1)));
    for (int64_t f = first; f <= last; ++f)
        path.entries.emplace_back(f, sm.at(f));
    const BoxF& head = sm.at(first);
    for (int64_t f = lead_from; f < first; ++f)
        path.entries.emplace_back(f, _plus(head, _times(v_start, static_cast<float>(f - first))));
    const BoxF& tail = sm.at(last);
    for (int64_t f = last + 1; f < stop; ++f)
        path.entries.emplace_back(f, _plus(tail, _times(v_end, static_cast<float>(f - last))));

    path.start = std::min(first, lead_from);
    path.end = std::max(last, stop - 1);
    return path;
}

}  // namespace qlcore
