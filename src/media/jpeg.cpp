#include "media/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

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
// destructors. The rows arrive as RGB, the order libjpeg expects.
bool _compress(const unsigned char* rows, int w, int h, int channels, int quality,
               unsigned char** out, unsigned long* out_size) {
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
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = channels;
    cinfo.in_color_space = channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    cinfo.restart_interval = 0;
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(w) * static_cast<size_t>(channels);
    for (int y = 0; y < h; ++y) {
        JSAMPROW row = const_cast<unsigned char*>(rows + stride * static_cast<size_t>(y));
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
    const int channels = img.channels();
    std::vector<unsigned char> rows(img.total() * static_cast<size_t>(channels));
    for (int y = 0; y < img.rows; ++y) {
        const unsigned char* src = img.ptr<unsigned char>(y);
        unsigned char* dst = rows.data() + static_cast<size_t>(y) * img.cols * channels;
        if (channels == 1) {
            std::copy(src, src + img.cols, dst);
            continue;
        }
        for (int x = 0; x < img.cols; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok = _compress(rows.data(), img.cols, img.rows, channels,
                              std::clamp(quality, 0, 100), &out, &size);
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
