// Tracker updates and box paths next to a detector pass (tens of ms a frame).
#include <chrono>
#include <cstdio>
#include <vector>

#include "tracking/box_path.h"
#include "tracking/tracker.h"

using namespace qlcore;

namespace {

double now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// 50 faces; `spacing` apart they pair only with their own track, 1 px apart
// every detection pairs with every track.
void bench_update(const char* label, double spacing) {
    const int faces = 50, frames = 2000;
    auto boxes_at = [&](int64_t fi) {
        std::vector<Box> boxes;
        for (int i = 0; i < faces; ++i)
            boxes.push_back({spacing * i + 0.1 * static_cast<double>(fi % 3), 100, 80, 90});
        return boxes;
    };
    Tracker t;
    t.update(0, boxes_at(0));
    double begin = now_ms();
    for (int64_t fi = 1; fi <= frames; ++fi)
        t.update(fi, boxes_at(fi));
    double per = (now_ms() - begin) / frames;
    std::printf("tracker update, 50 detections x %zu active (%s): %.4f ms per frame, %zu tracks\n",
                t.active.size(), label, per, t.tracks.size());
}

void bench_path(const char* label, int64_t every) {
    const int64_t length = 100000;
    std::vector<int64_t> frames;
    for (int64_t f = 0; f < length - 1; f += every)
        frames.push_back(f);
    frames.push_back(length - 1);
    Track track(0);
    for (int64_t f : frames)
        track.add(f, {static_cast<double>(f % 700), 200.0 + static_cast<double>(f % 50), 120, 140});
    const int runs = 20;
    size_t entries = 0;
    double begin = now_ms();
    for (int r = 0; r < runs; ++r)
        entries += track_boxes(track, length).entries.size();
    double per = (now_ms() - begin) / runs;
    std::printf("track_boxes, %lld-frame track (%s, %zu detections): %.3f ms, %zu entries\n",
                static_cast<long long>(length), label, track.frames.size(), per, entries / runs);
}

}  // namespace

int main() {
    bench_update("spread, 50 pairs", 200.0);
    bench_update("crowded, 2500 pairs", 1.0);
    bench_path("a detection every frame", 1);
    bench_path("a detection every 4th frame", 4);
    return 0;
}
