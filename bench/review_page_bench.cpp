// The review page's cost. The 1080p render pass with the page's pictures
// taken and the page made, against the same pass without, in alternating
// pairs (the machine's load drifts; a pair shares it), and, as a shared
// machine's load can swamp a few milliseconds, the time spent taking the
// pictures and making the page, clocked directly, as a share of the pass;
// a source-and-output pair of 1080p face pictures; and a worst-case page of
// 200 cards. Target: the pass with the page at most 5 % slower.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "bench_common.h"
#include "clip/review_page.h"
#include "clip/thumbnails.h"
#include "encode/encoders.h"
#include "encode/render.h"
#include "media/probe.h"
#include "platform/files.h"
#include "support/face_clips.h"

using namespace qlcore;
namespace fs = std::filesystem;

namespace {

constexpr int FRAMES = 60;
constexpr int PAIRS = 7;

// CPU seconds of this process and of its waited-for children (the ffmpeg
// decoder and encoder): steadier than the wall clock on a shared machine,
// and the page's work is all in this process.
double cpu_s() {
    double t = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        ::getrusage(who, &u);
        t += u.ru_utime.tv_sec + u.ru_stime.tv_sec +
             1e-6 * (u.ru_utime.tv_usec + u.ru_stime.tv_usec);
    }
    return t;
}

struct Timing {
    double wall = 0, cpu = 0;
};

// Both faces of the two-people clip, in every frame.
MosaicPlan two_faces(int W, int H) {
    MosaicPlan plan;
    const float w = W / 6.0f, h = H * 0.4f, y = H * 0.3f;
    for (int f = 0; f < FRAMES; ++f)
        plan[f] = {BoxF{W / 4.0f - w / 2, y, w, h}, BoxF{3 * W / 4.0f - w / 2, y, w, h}};
    return plan;
}

// `tracks` pictures spread over the clip, each of one of the two faces; the
// seconds spent taking them are added to `spent`.
ThumbnailShots shots_for(const MosaicPlan& plan, int tracks, FrameSize size, double& spent) {
    std::vector<ThumbRequest> wanted;
    for (int t = 0; t < tracks; ++t) {
        const int64_t frame = (t * 7 + 3) % FRAMES;
        wanted.push_back({t, frame, plan.at(frame)[t % 2]});
    }
    ThumbnailShots s = thumbnail_shots(wanted, size.w, size.h, yuv_colors("bt709", "tv", size.h));
    s.shots.take = [take = s.shots.take, &spent](const cv::Mat& y, const cv::Mat& u,
                                                 const cv::Mat& v, const MosaicRect& r) {
        const double t0 = now_s();
        std::string jpeg = take(y, u, v, r);
        spent += now_s() - t0;
        return jpeg;
    };
    return s;
}

// One render pass; with `shots`, also the page made from its pictures and
// written beside the output, as the clip processor does.
Timing pass(const fs::path& clip, const fs::path& out, const Args& enc, const MosaicPlan& plan,
            FrameSize size, const ClipInfo& info, ThumbnailShots* shots, size_t* page_size,
            double* spent) {
    QuietStdout quiet;
    const double t0 = now_s(), c0 = cpu_s();
    encode_pass({clip.string(), out.string(), plan, FRAMES, -1, size, info, HideStyle::mosaic,
                 shots ? &shots->shots : nullptr},
                out.string(), enc);
    // Both write the report, as the program does after every render: its
    // flush to disk is no cost of the page.
    write_file_atomic(fs::path(out).replace_extension(".json"), "{}");
    if (shots) {
        const double p0 = now_s();
        const Thumbnails pics = shots->pictures();
        std::vector<ReviewCard> cards;
        for (const auto& [id, jpeg] : pics.source) {
            ReviewCard c;
            c.id = id;
            c.source_jpeg = jpeg;
            c.output_jpeg = pics.output.at(id);
            cards.push_back(std::move(c));
        }
        const std::string page = review_page_html(ReviewHeader{}, cards);
        write_review_page(out, page);
        *page_size = page.size();
        *spent += now_s() - p0;
    }
    return {now_s() - t0, cpu_s() - c0};
}

void render_pairs(const fs::path& dir) {
    const fs::path clip = qltest::make_two_people_clip(dir / "fhd.mov", fhd_clip_spec(FRAMES));
    const ClipInfo info = probe(clip.string());
    const FrameSize size = frame_size(clip.string());
    const MosaicPlan plan = two_faces(size.w, size.h);
    std::printf("review_page_bench: %dx%d, two mosaicked faces, %d frames, median of %d pairs\n",
                size.w, size.h, FRAMES, PAIRS);
    for (const char* codec : {"h264", "prores"}) {
        const Args enc = encoder_candidates(codec, info, size).back();
        for (int tracks : {2, 20}) {
            std::vector<double> with, without, ratio, cpu_ratio, share;
            size_t page_size = 0;
            for (int p = 0; p < PAIRS; ++p) {
                double spent = 0;
                ThumbnailShots shots = shots_for(plan, tracks, size, spent);
                Timing a, b;
                // Alternate which goes first, so neither always meets a warm cache.
                if (p % 2 == 0) {
                    a = pass(clip, dir / "with.mov", enc, plan, size, info, &shots, &page_size,
                             &spent);
                    b = pass(clip, dir / "without.mov", enc, plan, size, info, nullptr, nullptr,
                             nullptr);
                } else {
                    b = pass(clip, dir / "without.mov", enc, plan, size, info, nullptr, nullptr,
                             nullptr);
                    a = pass(clip, dir / "with.mov", enc, plan, size, info, &shots, &page_size,
                             &spent);
                }
                with.push_back(FRAMES / a.wall);
                without.push_back(FRAMES / b.wall);
                ratio.push_back(a.wall / b.wall);
                cpu_ratio.push_back(a.cpu / b.cpu);
                share.push_back(spent / b.wall);
            }
            std::printf(
                "  %-7s %2d tracks pictured: without the page %6.2f fps, with it %6.2f fps; "
                "with / without: wall time %.3f, CPU time %.3f (medians of pairs; target <= "
                "1.05); pictures and page alone %.2f %% of the pass; page %zu KiB\n",
                codec, tracks, median(without), median(with), median(ratio), median(cpu_ratio),
                100.0 * median(share), page_size / 1024);
        }
    }
}

void crops(int type, const char* label) {
    const int W = 1920, H = 1080, runs = 100;
    cv::Mat y(H, W, type), u(H / 2, W / 2, type), v(H / 2, W / 2, type);
    const int top = type == CV_16U ? 1024 : 256;
    for (cv::Mat* p : {&y, &u, &v})
        cv::randu(*p, 0, top);
    const YuvColors colors = yuv_colors("bt709", "tv", H);
    std::vector<double> pair;
    std::vector<ReviewCard> cards(200);
    for (int i = 0; i < runs; ++i) {
        const MosaicRect r = mosaic_rect(BoxF{860.0f + float(i % 7), 400.0f, 200, 260}, W, H);
        const double t0 = now_s();
        std::string a = crop_jpeg(y, u, v, r, colors);
        std::string b = crop_jpeg(y, u, v, r, colors);
        pair.push_back(1e3 * (now_s() - t0));
        for (int c = i; c < 200; c += runs) {
            cards[c].id = c;
            cards[c].source_jpeg = a;
            cards[c].output_jpeg = b;
        }
    }
    const double t0 = now_s();
    const std::string page = review_page_html(ReviewHeader{}, cards);
    std::printf(
        "  %s 1920x1080, 200x260 face: source+output pictures %.2f ms; page of 200 cards "
        "(noise pictures, a worst case) %zu KiB in %.1f ms\n",
        label, median(pair), page.size() / 1024, 1e3 * (now_s() - t0));
}

}  // namespace

int main() {
    const fs::path dir =
        fs::temp_directory_path() / ("qlcore-review-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    render_pairs(dir);
    crops(CV_8U, "8-bit");
    crops(CV_16U, "10-bit");
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
