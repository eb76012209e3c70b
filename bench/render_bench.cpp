// The render pass on a 1080p clip with two mosaicked faces, next to a plain
// ffmpeg transcode of the same clip with the same encoder entry. Targets: at
// least 90 % of ffmpeg's pace, no heap allocation per frame once the loop
// runs, and a 4K 10-bit render peaking under 300 MB.
//
// Allocations are counted by interposing malloc and friends (OpenCV's
// buffers included); per-frame counts come from the difference between a
// long and a short clip, so set-up costs cancel out. The peak is the VmHWM of
// a child process that does nothing but the render.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_common.h"
#include "encode/encoders.h"
#include "encode/render.h"
#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/subprocess.h"
#include "support/face_clips.h"
#include "support/test_support.h"

// ---- the benchmark ---------------------------------------------------------

using namespace qlcore;
namespace fs = std::filesystem;

namespace {

constexpr int SHORT = 20, LONG = 60;
constexpr int ROUNDS = 3;

// Both faces of the two-people clip, in every frame.
MosaicPlan two_faces(int frames, int W, int H) {
    MosaicPlan plan;
    const float w = W / 6.0f, h = H * 0.4f, y = H * 0.3f;
    for (int f = 0; f < frames; ++f)
        plan[f] = {BoxF{W / 4.0f - w / 2, y, w, h}, BoxF{3 * W / 4.0f - w / 2, y, w, h}};
    return plan;
}

double plain_ffmpeg(const fs::path& clip, const Args& enc, const ClipInfo& info,
                    const fs::path& out) {
    Args cmd{ffmpeg_bin(), "-hide_banner", "-loglevel", "error", "-y"};
    const Args hw = hwaccel_args();
    cmd.insert(cmd.end(), hw.begin(), hw.end());
    cmd.insert(cmd.end(), {"-i", clip.string()});
    cmd.insert(cmd.end(), enc.begin(), enc.end());
    const Args colour = color_args(info);
    cmd.insert(cmd.end(), colour.begin(), colour.end());
    cmd.insert(cmd.end(), {"-an", out.string()});
    const double t0 = now_s();
    RunResult r = run_capture(cmd);
    if (r.status != 0) std::printf("ffmpeg failed: %s\n", r.err.c_str());
    return now_s() - t0;
}

// The two ffmpeg processes of the render joined by a plain pipe, with no
// program in the middle: what the three-process design costs by itself.
double piped_ffmpeg(const fs::path& clip, const Args& enc, const ClipInfo& info, FrameSize size,
                    const fs::path& out) {
    auto quoted = [](const Args& a) {
        std::string s;
        for (const auto& item : a)
            s += "'" + item + "' ";
        return s;
    };
    const std::string line =
        quoted(yuv_reader_command(ffmpeg_bin(), hwaccel_args(), clip.string(), "yuv420p")) + "| " +
        quoted(encode_command(ffmpeg_bin(), "yuv420p", size.w, size.h, info.rate.value_or("25"),
                              enc, color_args(info), out.string()));
    const double t0 = now_s();
    RunResult r = run_capture({"/bin/sh", "-c", line});
    if (r.status != 0) std::printf("ffmpeg pipe failed: %s\n", r.err.c_str());
    return now_s() - t0;
}

struct Pass {
    double seconds = 0;
    long allocs = 0;
    int64_t frames = 0;
};

Pass ours(const fs::path& clip, const Args& enc, const ClipInfo& info, FrameSize size, int frames,
          const fs::path& out, bool faces = true) {
    const MosaicPlan plan = faces ? two_faces(frames, size.w, size.h) : MosaicPlan{};
    QuietStdout quiet;
    g_allocs = 0;
    g_counting = true;
    const double t0 = now_s();
    Pass p;
    RenderJob job{clip.string(), out.string(), plan, frames, -1, size, info};
    p.frames = encode_pass(job, out.string(), enc);
    p.seconds = now_s() - t0;
    g_counting = false;
    p.allocs = g_allocs;
    return p;
}

long vm_hwm_kb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// The child's part: one render of the 4K clip, then its own peak.
int render_only(const char* clip, const char* out) {
    const long before = vm_hwm_kb();
    const ClipInfo info = probe(clip);
    const FrameSize size = frame_size(clip);
    QuietStdout quiet;
    render({clip, out, two_faces(static_cast<int>(info.frames), size.w, size.h), info.frames, -1,
            size, info},
           "prores");
    std::fprintf(stderr, "VmHWM %ld %ld\n", before, vm_hwm_kb());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--render-only") == 0)
        return render_only(argv[2], argv[3]);

    const fs::path dir =
        fs::temp_directory_path() / ("qlcore-render-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    qltest::FaceClipSpec spec = fhd_clip_spec(SHORT);
    const fs::path short_clip = qltest::make_two_people_clip(dir / "short.mov", spec);
    spec.frames = LONG;
    const fs::path long_clip = qltest::make_two_people_clip(dir / "long.mov", spec);
    const ClipInfo info = probe(long_clip.string());
    const FrameSize size = frame_size(long_clip.string());

    std::printf("render_bench: %dx%d, two mosaicked faces, %d frames, median of %d rounds\n",
                size.w, size.h, LONG, ROUNDS);
    for (const char* codec : {"h264", "prores"}) {
        const Args enc = encoder_candidates(codec, info, size).back();
        std::vector<double> ref_fps, our_fps, ratio, pipe_fps, pipe_ratio;
        Pass p_long, p_short;
        for (int round = 0; round < ROUNDS; ++round) {
            const double ref = plain_ffmpeg(long_clip, enc, info, dir / "plain.mov");
            p_long = ours(long_clip, enc, info, size, LONG, dir / "ours.mov");
            const double piped = piped_ffmpeg(long_clip, enc, info, size, dir / "piped.mov");
            pipe_fps.push_back(LONG / piped);
            pipe_ratio.push_back(pipe_fps.back() / (LONG / ref));
            ref_fps.push_back(LONG / ref);
            our_fps.push_back(p_long.frames / p_long.seconds);
            ratio.push_back(our_fps.back() / ref_fps.back());
        }
        p_short = ours(short_clip, enc, info, size, SHORT, dir / "ours.mov");
        auto per_frame = [](const Pass& a, const Pass& b) {
            return static_cast<double>(b.allocs - a.allocs) /
                   static_cast<double>(b.frames - a.frames);
        };
        // The same loop with nothing to pixelate: what the loop itself costs.
        const Pass bare_short = ours(short_clip, enc, info, size, SHORT, dir / "ours.mov", false);
        const Pass bare_long = ours(long_clip, enc, info, size, LONG, dir / "ours.mov", false);
        std::printf(
            "  %-7s (%s): plain ffmpeg %6.1f fps, render pass %6.1f fps, ratio %.1f %% "
            "(target >= 90 %%); heap allocations per frame %.2f with two faces, %.2f with "
            "none (target 0)\n",
            codec, enc.at(1).c_str(), median(ref_fps), median(our_fps), 100.0 * median(ratio),
            per_frame(p_short, p_long), per_frame(bare_short, bare_long));
        std::printf(
            "           ffmpeg decoder piped straight into the encoder %6.1f fps (%.1f %% of "
            "plain ffmpeg): the floor of the three-process design\n",
            median(pipe_fps), 100.0 * median(pipe_ratio));
    }

    // Peak memory of a 4K 10-bit render, in a process of its own.
    qltest::FaceClipSpec k4;
    k4.width = 3840;
    k4.height = 2160;
    k4.frames = 12;
    k4.audio = true;
    k4.codec = "prores_ks";
    k4.pix_fmt = "yuv422p10le";
    const fs::path clip4k = qltest::make_two_people_clip(dir / "uhd.mov", k4);
    RunResult child = run_capture({fs::read_symlink("/proc/self/exe").string(), "--render-only",
                                   clip4k.string(), (dir / "uhd_mosaic.mov").string()});
    long before = 0, peak = 0;
    if (child.status != 0 || std::sscanf(child.err.c_str(), "VmHWM %ld %ld", &before, &peak) != 2)
        std::printf("  4K render failed (%d): %s\n", child.status, child.err.c_str());
    else
        std::printf(
            "  3840x2160 10-bit ProRes source to prores: peak resident memory %.1f MB "
            "(target < 300 MB; %.1f MB before the render started)\n",
            peak / 1024.0, before / 1024.0);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
