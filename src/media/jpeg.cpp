#include "media/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace qlcore {
namespace {

struct ErrorJump {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

// libjpeg's own handler ends the process.
[[noreturn]] void _error_exit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

// Only plain data lives in this frame, as a longjmp out of libjpeg skips
// destructors. BGR rows go in as they are: libjpeg-turbo's JCS_EXT_BGR reads
// them in that order, with the same conversion as for RGB.
bool _compress(const cv::Mat& img, int quality, unsigned char** out, unsigned long* out_size) {
    jpeg_compress_struct cinfo;
    ErrorJump err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = _error_exit;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, out_size);
    cinfo.image_width = static_cast<JDIMENSION>(img.cols);
    cinfo.image_height = static_cast<JDIMENSION>(img.rows);
    cinfo.input_components = img.channels();
    cinfo.in_color_space = img.channels() == 3 ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    cinfo.restart_interval = 0;
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < img.rows; ++y) {
        JSAMPROW row = const_cast<unsigned char*>(img.ptr<unsigned char>(y));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

std::string encode_jpeg(const cv::Mat& img, int quality) {
    if (img.empty() || img.depth() != CV_8U || (img.channels() != 1 && img.channels() != 3))
        return {};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok = _compress(img, std::clamp(quality, 0, 100), &out, &size);
    if (!ok) return {};  // the buffer may be half handed over: left, not freed twice
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

bool write_jpeg_file(const std::filesystem::path& path, const cv::Mat& img, int quality) {
    const std::string bytes = encode_jpeg(img, quality);
    if (bytes.empty()) return false;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f.flush());
}

}  // namespace qlcore
