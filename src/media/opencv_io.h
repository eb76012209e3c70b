// Reading image files (enrolment photos) and OpenCV's own reading of video
// files (the rate fallback, enrolment from a video). OpenCV's image and video
// modules bring in some 200 shared libraries, whose loading was nearly all of
// every start of the program, so they live in a module beside the program,
// loaded on the first call. Each call throws std::runtime_error when that
// module cannot be loaded.
#pragma once

#include <filesystem>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

namespace qlcore {

struct OpenCvIoTable;

// The module's file, beside the program's real file.
std::filesystem::path opencv_io_module_path();

// The picture in BGR as cv::imread reads it; nothing when it cannot be read.
std::optional<cv::Mat> read_image_file(const std::filesystem::path& path);

// An opened video file, read frame by frame in BGR.
class VideoFile {
  public:
    // MediaError "cannot open <path>" when OpenCV cannot open it.
    explicit VideoFile(const std::string& path);
    ~VideoFile();
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;

    double fps() const;
    double frame_count() const;
    // False at the end or on a frame that cannot be read.
    bool read(cv::Mat& frame);

  private:
    const OpenCvIoTable* io_;
    void* video_ = nullptr;
};

}  // namespace qlcore
