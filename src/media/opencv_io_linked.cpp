// Image files and video reading for builds that link OpenCV statically with
// no video module (Windows): images decoded from the file's bytes, which
// opens names outside the ANSI code page too, and video read through the
// ffmpeg pipe reader.
#include <memory>
#include <opencv2/imgcodecs.hpp>

#include "media/frame_readers.h"
#include "media/opencv_io.h"
#include "media/probe.h"
#include "media/rates.h"
#include "platform/failure.h"
#include "platform/files.h"

namespace qlcore {
namespace {

struct PipedVideo {
    std::unique_ptr<FFReader> reader;
    double fps = 0.0;
    double frames = 0.0;
};

}  // namespace

// Linked in: no module file.
fs::path opencv_io_module_path() {
    return {};
}

std::optional<cv::Mat> read_image_file(const fs::path& path) {
    std::string bytes;
    try {
        bytes = read_file(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (bytes.empty()) return std::nullopt;
    try {
        const cv::Mat raw(1, static_cast<int>(bytes.size()), CV_8U, bytes.data());
        cv::Mat img = cv::imdecode(raw, cv::IMREAD_COLOR);
        if (img.empty()) return std::nullopt;
        return img;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

VideoFile::VideoFile(const std::string& path) : io_(nullptr) {
    auto video = std::make_unique<PipedVideo>();
    ProbedClip clip;
    try {
        clip = probe_with_size(path);
    } catch (const MediaError&) {
        throw MediaError("cannot open " + path);
    }
    video->fps = rate_value(clip.info.rate);
    video->frames = static_cast<double>(clip.info.frames);
    video->reader = std::make_unique<FFReader>(path, clip.size, 1, clip.size);
    video_ = video.release();
}

VideoFile::~VideoFile() {
    delete static_cast<PipedVideo*>(video_);
}

double VideoFile::fps() const {
    return static_cast<PipedVideo*>(video_)->fps;
}

double VideoFile::frame_count() const {
    return static_cast<PipedVideo*>(video_)->frames;
}

bool VideoFile::read(cv::Mat& frame) {
    return static_cast<PipedVideo*>(video_)->reader->read(frame);
}

}  // namespace qlcore
