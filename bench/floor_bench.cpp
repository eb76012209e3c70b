// The floor a run of the program stands on: decoding at search size plus
// the detector on every frame with its buffers kept, and a plain transcode
// with the program's default encoder entry. bench/floor_pairs.py runs the
// program against it; this program does the pieces:
//
//   floor_bench make DIR FRAMES      two-people clips at 640x360, 1280x720,
//                                    1920x1080 and 3840x2160 into DIR
//   floor_bench detect CLIP [thorough]
//                                    decoding + the detector (the thorough
//                                    search's views at their own cadence)
//   floor_bench transcode CLIP OUT   the transcode
//
// Each measurement prints one line: "floor <what> wall <s> user <s> sys <s>
// minflt <n> frames <n>", CPU time and page faults of this process and its
// children (the decoder, the encoder) together.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "analysis/analyse.h"
#include "analysis/views.h"
#include "encode/encoders.h"
#include "faces/models.h"
#include "faces/yunet.h"
#include "media/ffmpeg_commands.h"
#include "media/frame_readers.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/subprocess.h"
#include "support/face_clips.h"
#include "support/test_install.h"

using namespace qlcore;
namespace fs = std::filesystem;

namespace {

struct Usage {
    double wall = 0, user = 0, sys = 0;
    long minflt = 0;
};

double _seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

Usage _now() {
    Usage u;
    u.wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage r{};
        getrusage(who, &r);
        u.user += _seconds(r.ru_utime);
        u.sys += _seconds(r.ru_stime);
        u.minflt += r.ru_minflt;
    }
    return u;
}

void _print(const char* what, const Usage& a, const Usage& b, long frames) {
    std::printf("floor %s wall %.3f user %.3f sys %.3f minflt %ld frames %ld\n", what,
                b.wall - a.wall, b.user - a.user, b.sys - a.sys, b.minflt - a.minflt, frames);
}

std::unique_ptr<YuNetDetector> _detector(cv::Size size, double score) {
    return std::make_unique<YuNetDetector>(qltest::test_detector_model().string(), "", size,
                                           static_cast<float>(score), 0.3f, 5000);
}

int _make(const fs::path& dir, int frames) {
    fs::create_directories(dir);
    for (cv::Size s :
         {cv::Size(640, 360), cv::Size(1280, 720), cv::Size(1920, 1080), cv::Size(3840, 2160)}) {
        qltest::FaceClipSpec spec;
        spec.width = s.width;
        spec.height = s.height;
        spec.frames = frames;
        spec.audio = false;
        spec.extra = {"-preset", "veryfast"};
        const std::string name =
            "two_" + std::to_string(s.width) + "x" + std::to_string(s.height) + ".mov";
        std::printf("%s\n", qltest::make_two_people_clip(dir / name, spec).string().c_str());
    }
    return 0;
}

// What the search cannot avoid: the frames as it decodes them, each through
// the detector (the thorough search: each view on its frames).
int _detect(const std::string& clip, bool thorough) {
    const FrameSize size = frame_size(clip);
    const SearchGeometry g =
        search_geometry(size, thorough ? std::max(size.w, size.h) : DEFAULT_DET_MAX_SIDE);
    std::vector<View> views;
    if (thorough)
        views = search_views({g.dw, g.dh}, DEFAULT_DET_MAX_SIDE, thorough_view_options());
    else
        views.push_back(search_views({g.dw, g.dh}, g.dw, {}).front());
    std::vector<std::unique_ptr<YuNetDetector>> nets;
    std::vector<ViewBuffers> buffers(views.size());
    for (const View& v : views)
        nets.push_back(_detector(v.size, thorough ? WEAK_DET_SCORE : DET_SCORE));

    const Usage a = _now();
    long n = 0;
    {
        FFReader reader(clip, {g.dw, g.dh}, 1, size);
        cv::Mat frame, faces;
        while (reader.read(frame)) {
            for (size_t i = 0; i < views.size(); ++i)
                if (n % views[i].every == 0)
                    nets[i]->detect(view_picture(frame, views[i], buffers[i]), faces);
            ++n;
        }
    }
    _print(thorough ? "detect-thorough" : "detect", a, _now(), n);
    return 0;
}

int _transcode(const std::string& clip, const fs::path& out) {
    const ClipInfo info = probe(clip);
    const FrameSize size = frame_size(clip);
    const Args enc = encoder_candidates("prores", info, size).front();
    Args cmd = {ffmpeg_bin(), "-hide_banner",   "-loglevel", "error", "-y",
                "-i",         media_path(clip), "-map",      "0:v:0"};
    cmd.insert(cmd.end(), enc.begin(), enc.end());
    const Args colour = color_args(info);
    cmd.insert(cmd.end(), colour.begin(), colour.end());
    cmd.insert(cmd.end(), {"-an", out.string()});
    const Usage a = _now();
    const int status = run_capture(cmd).status;
    _print("transcode", a, _now(), info.frames);
    return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "make") return _make(args[1], std::stoi(args[2]));
    if ((args.size() == 2 || args.size() == 3) && args[0] == "detect")
        return _detect(args[1], args.size() == 3 && args[2] == "thorough");
    if (args.size() == 3 && args[0] == "transcode") return _transcode(args[1], args[2]);
    std::fprintf(stderr,
                 "usage: floor_bench make DIR FRAMES | detect CLIP [thorough] | transcode CLIP "
                 "OUT\n");
    return 2;
}
