// The mosaic rectangle of a face box and its pixelation.
#pragma once

#include <opencv2/core.hpp>

#include "tracking/box.h"

namespace qlcore {

// [x0, x1) x [y0, y1) in frame pixels, all even, plus the block size.
struct MosaicRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0, block = 4;
    bool operator==(const MosaicRect&) const = default;
};

MosaicRect mosaic_rect(const BoxF& box, int W, int H);

// Pixelates the rectangle of `plane` in place (8- or 16-bit samples).
void _pixelate(cv::Mat& plane, int x0, int y0, int x1, int y1, int block);

// Mosaics one box into a planar YUV 4:2:0 frame in place.
void mosaic_yuv(cv::Mat& y, cv::Mat& u, cv::Mat& v, const BoxF& box, int W, int H);

}  // namespace qlcore
