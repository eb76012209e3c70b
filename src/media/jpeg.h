// JPEG files made with libjpeg directly, byte for byte as OpenCV's own
// encoder makes them (baseline, the standard tables scaled to the quality,
// JFIF header, 4:2:0 for colour). OpenCV's image module would load some 200
// libraries for it on every run that writes a review page.
#pragma once

#include <filesystem>
#include <opencv2/core.hpp>
#include <string>

namespace qlcore {

// The file's bytes for an 8-bit BGR or grey picture; empty for any other
// picture or when libjpeg fails. `quality` is clamped to 0..100.
std::string encode_jpeg(const cv::Mat& img, int quality);

// False when the picture cannot be encoded or the file not written.
bool write_jpeg_file(const std::filesystem::path& path, const cv::Mat& img, int quality);

}  // namespace qlcore
