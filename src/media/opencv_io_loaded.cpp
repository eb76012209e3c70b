#include "media/opencv_io.h"

#include <memory>
#include <mutex>
#include <stdexcept>

#include "media/opencv_io_table.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/shared_library.h"

namespace qlcore {
namespace {

// Loaded once and kept for the life of the process.
const OpenCvIoTable& _io() {
    static std::once_flag once;
    static std::unique_ptr<SharedLibrary> library;
    static const OpenCvIoTable* table = nullptr;
    std::call_once(once, [] {
        const fs::path path = opencv_io_module_path();
        library = std::make_unique<SharedLibrary>(path);
        using Entry = const OpenCvIoTable* (*)();
        const auto entry = reinterpret_cast<Entry>(library->symbol(OPENCV_IO_SYMBOL));
        const OpenCvIoTable* t = entry();
        if (!t || t->version != OPENCV_IO_VERSION)
            throw std::runtime_error("cannot load " + u8string(path) +
                                     ": it belongs to another version of the program");
        table = t;
    });
    // A failed load leaves the flag unset, so each call says why again.
    return *table;
}

}  // namespace

// Only beside the program's real file: a library found anywhere else would
// be code the installation did not bring.
fs::path opencv_io_module_path() {
    return self_exe_path().parent_path() / QLCORE_OPENCV_IO_MODULE;
}

std::optional<cv::Mat> read_image_file(const fs::path& path) {
    cv::Mat img;
    if (!_io().read_image(narrow_path(path).c_str(), &img)) return std::nullopt;
    return img;
}

VideoFile::VideoFile(const std::string& path) : io_(&_io()) {
    video_ = io_->open_video(path.c_str());
    if (!video_) throw MediaError("cannot open " + path);
}

VideoFile::~VideoFile() {
    if (video_) io_->close_video(video_);
}

double VideoFile::fps() const {
    return io_->video_property(video_, VideoProperty::Fps);
}

double VideoFile::frame_count() const {
    return io_->video_property(video_, VideoProperty::FrameCount);
}

bool VideoFile::read(cv::Mat& frame) {
    return io_->read_video(video_, &frame);
}

}  // namespace qlcore
