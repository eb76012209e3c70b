// The module behind media/opencv_io.h: the only code linked with OpenCV's
// image and video modules.
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "media/opencv_io_table.h"
#include "platform/export.h"

namespace {

bool _read_image(const char* path, cv::Mat* out) {
    try {
        *out = cv::imread(path);
        return !out->empty();
    } catch (const cv::Exception&) {
        return false;
    }
}

void* _open_video(const char* path) {
    try {
        auto cap = std::make_unique<cv::VideoCapture>(path);
        if (cap->isOpened()) return cap.release();
    } catch (const cv::Exception&) {
    }
    return nullptr;
}

double _video_property(void* video, qlcore::VideoProperty property) {
    const int id =
        property == qlcore::VideoProperty::Fps ? cv::CAP_PROP_FPS : cv::CAP_PROP_FRAME_COUNT;
    try {
        return static_cast<cv::VideoCapture*>(video)->get(id);
    } catch (const cv::Exception&) {
        return 0.0;
    }
}

bool _read_video(void* video, cv::Mat* frame) {
    try {
        return static_cast<cv::VideoCapture*>(video)->read(*frame);
    } catch (const cv::Exception&) {
        return false;
    }
}

void _close_video(void* video) {
    delete static_cast<cv::VideoCapture*>(video);
}

const qlcore::OpenCvIoTable TABLE = {qlcore::OPENCV_IO_VERSION, _read_image, _open_video,
                                     _video_property,           _read_video, _close_video};

}  // namespace

extern "C" QLCORE_EXPORT const qlcore::OpenCvIoTable* qlcore_opencv_io_table() {
    return &TABLE;
}
