// The review page's cost in the render pass: a frame without thumbnails
// (one map lookup), a source-and-output pair of 1080p face crops, and the
// page for 200 tracks. The pair is taken once per track, so a clip of a
// few thousand frames pays a fraction of a percent of its render time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <opencv2/core.hpp>
#include <vector>

#include "clip/review_page.h"
#include "clip/thumbnails.h"

using namespace qlcore;

namespace {

double now_us() {
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void bench(int type, const char* label) {
    const int W = 1920, H = 1080, runs = 300;
    cv::Mat y(H, W, type), u(H / 2, W / 2, type), v(H / 2, W / 2, type);
    const int top = type == CV_16U ? 1024 : 256;
    for (cv::Mat* p : {&y, &u, &v})
        cv::randu(*p, 0, top);
    const YuvColors colors = yuv_colors("bt709", "tv", H);
    ThumbnailPlan plan;
    for (int i = 0; i < runs; ++i)
        add_thumbnail(plan, 2 * i, i, BoxF{860.0f + float(i % 7), 400.0f, 200, 260});

    std::vector<double> idle, pair;
    ThumbnailSet src, out;
    for (int i = 0; i < runs; ++i) {
        double t0 = now_us();
        capture_thumbnails(plan, 2 * i + 1, y, u, v, W, H, colors, src);
        double t1 = now_us();
        capture_thumbnails(plan, 2 * i, y, u, v, W, H, colors, src);
        capture_thumbnails(plan, 2 * i, y, u, v, W, H, colors, out);
        double t2 = now_us();
        idle.push_back(t1 - t0);
        pair.push_back(t2 - t1);
    }
    std::printf(
        "%s 1920x1080, 200x260 face: frame without thumbnails %.2f us, "
        "source+output pair %.0f us\n",
        label, median(idle), median(pair));

    std::vector<ReviewCard> cards(200);
    for (int i = 0; i < 200; ++i) {
        cards[i].id = i;
        cards[i].source_jpeg = src[i];
        cards[i].output_jpeg = out[i];
    }
    double t0 = now_us();
    const std::string page = review_page_html(ReviewHeader{}, cards);
    std::printf("%s page of 200 cards (noise pictures, a worst case): %zu KiB in %.1f ms\n", label,
                page.size() / 1024, (now_us() - t0) / 1000);
}

}  // namespace

int main() {
    bench(CV_8U, "8-bit");
    bench(CV_16U, "10-bit");
    return 0;
}
