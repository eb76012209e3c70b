// mosaic_yuv for one 200-pixel face on a 1080p frame, 8- and 10-bit; the
// target is well under a millisecond.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <opencv2/core.hpp>
#include <vector>

#include "mosaic/mosaic.h"

using namespace qlcore;

namespace {

double now_us() {
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

void bench(int type, const char* label) {
    const int W = 1920, H = 1080, runs = 2000;
    cv::Mat y(H, W, type), u(H / 2, W / 2, type), v(H / 2, W / 2, type);
    const int top = type == CV_16U ? 1024 : 256;
    for (cv::Mat* p : {&y, &u, &v})
        cv::randu(*p, 0, top);
    std::vector<double> times;
    times.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        // Move the face a little so every call works on fresh pixels.
        BoxF box{860.0f + static_cast<float>(i % 7), 440.0f + static_cast<float>(i % 5), 200, 200};
        double t0 = now_us();
        mosaic_yuv(y, u, v, box, W, H);
        times.push_back(now_us() - t0);
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf(
        "mosaic_yuv, 200 px face on 1920x1080 %s: median %.1f us, mean %.1f us, "
        "p99 %.1f us\n",
        label, times[runs / 2], sum / runs, times[runs * 99 / 100]);
}

}  // namespace

int main() {
    bench(CV_8U, "8-bit");
    bench(CV_16U, "10-bit");
    return 0;
}
