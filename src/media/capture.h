// OpenCV's own view of a clip (rate fallback, enrollment).
#pragma once

#include <opencv2/videoio.hpp>
#include <string>

namespace qlcore {

// An opened capture; MediaError "cannot open <path>" otherwise.
cv::VideoCapture open_video(const std::string& path);

}  // namespace qlcore
