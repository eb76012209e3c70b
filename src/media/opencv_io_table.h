// What the OpenCV image-and-video module exports: one table of plain
// functions. No exception crosses it; each function catches OpenCV's own.
#pragma once

#include <opencv2/core.hpp>

namespace qlcore {

// Raised whenever a function's meaning or signature changes, so a stale
// module beside a newer program is refused rather than called.
inline constexpr int OPENCV_IO_VERSION = 1;
inline constexpr const char* OPENCV_IO_SYMBOL = "qlcore_opencv_io_table";

enum class VideoProperty { Fps, FrameCount };

struct OpenCvIoTable {
    int version;
    bool (*read_image)(const char* path, cv::Mat* out);  // as cv::imread, in BGR
    void* (*open_video)(const char* path);               // null when it cannot be opened
    double (*video_property)(void* video, VideoProperty property);
    bool (*read_video)(void* video, cv::Mat* frame);
    void (*close_video)(void* video);
};

}  // namespace qlcore

extern "C" const qlcore::OpenCvIoTable* qlcore_opencv_io_table();
