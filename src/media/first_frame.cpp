#include <opencv2/imgcodecs.hpp>

#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/subprocess.h"

namespace qlcore {

FrameSize frame_size(const std::string& path) {
    RunResult r = run_capture(first_frame_size_command(ffmpeg_bin(), path));
    cv::Mat img;
    if (!r.out.empty()) {
        cv::Mat bytes(1, static_cast<int>(r.out.size()), CV_8U, r.out.data());
        img = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    }
    if (img.empty()) throw MediaError("could not decode the first frame");
    return {img.cols, img.rows};
}

}  // namespace qlcore
