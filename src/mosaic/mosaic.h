// The mosaic rectangle of a face box and its pixelation.
#pragma once

#include <opencv2/core.hpp>

#include "geometry/box.h"

namespace qlcore {

// The mosaic covers the face box scaled by these, moved up by a share of its
// height, in about BLOCKS_ACROSS blocks across the face.
inline constexpr double BOX_SCALE_W = 1.45;
inline constexpr double BOX_SCALE_H = 1.65;
inline constexpr double BOX_SHIFT_UP = 0.1;
inline constexpr int BLOCKS_ACROSS = 6;

// [x0, x1) x [y0, y1) in frame pixels, all even, plus the block size.
struct MosaicRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0, block = 4;
    bool operator==(const MosaicRect&) const = default;
};

MosaicRect mosaic_rect(const BoxF& box, int W, int H);

// The box scaled about its centre by (scale_w, scale_h) and raised by
// shift_up box heights, clipped to the W x H frame, every edge even; the
// block is left to the caller.
MosaicRect scaled_rect(const BoxF& box, int W, int H, double scale_w, double scale_h,
                       double shift_up);

// The width of the face a box stands for: a face cut by the frame's side has
// a narrow box, and a frontal face is about three quarters as wide as high.
double face_width(const BoxF& box);

// Pixelates the rectangle of `plane` in place (8- or 16-bit samples).
void pixelate(cv::Mat& plane, int x0, int y0, int x1, int y1, int block);

// Mosaics one box into a planar YUV 4:2:0 frame in place.
void mosaic_yuv(cv::Mat& y, cv::Mat& u, cv::Mat& v, const BoxF& box, int W, int H);

}  // namespace qlcore
