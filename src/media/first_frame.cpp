#include <opencv2/imgcodecs.hpp>

#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/interrupt.h"
#include "platform/step_timer.h"
#include "platform/subprocess.h"

namespace qlcore {
namespace {

FrameSize _picture_size(std::string& png) {
    cv::Mat img;
    if (!png.empty()) {
        cv::Mat bytes(1, static_cast<int>(png.size()), CV_8U, png.data());
        img = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    }
    if (img.empty()) throw MediaError("could not decode the first frame");
    return {img.cols, img.rows};
}

}  // namespace

FrameSize frame_size(const std::string& path) {
    RunResult r = run_capture(first_frame_size_command(ffmpeg_bin(), path));
    return _picture_size(r.out);
}

ProbedClip probe_with_size(const std::string& path) {
    // Its error text is discarded, as frame_size discards it.
    Child first(first_frame_size_command(ffmpeg_bin(), path),
                {Stdio::Null, Stdio::Pipe, Stdio::Null});
    ProbedClip clip;
    clip.info = timed("probe", [&] { return probe(path); });
    // What is left of the first frame's wait once the probe is done.
    StepTimer timer("first-frame size");
    std::string png = first.read_all_stdout();
    first.wait();
    check_interrupted();
    clip.size = _picture_size(png);
    return clip;
}

}  // namespace qlcore
