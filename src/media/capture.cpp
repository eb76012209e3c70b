#include "media/capture.h"

#include "platform/failure.h"

namespace qlcore {

cv::VideoCapture open_video(const std::string& path) {
    cv::VideoCapture cap(path);
    if (!cap.isOpened()) throw MediaError("cannot open " + path);
    return cap;
}

}  // namespace qlcore
