#include "mosaic/mosaic.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "platform/numbers.h"

namespace qlcore {
namespace {

constexpr double FACE_ASPECT = 0.75;

// Whole part toward zero, kept inside int range; a NaN (which the min/max
// clamps below already replace) counts as 0.
int _whole(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -1e9, 1e9));
}

// Lowest bit cleared: rounds down to even, also for negative values.
int _even(int v) {
    return v & ~1;
}

// Floor of v / 2 for the chroma planes.
int _half(int v) {
    return v >> 1;
}

}  // namespace

// The geometry is computed in double: the box's single-precision values are
// widened first and every product with the double constants stays double.
MosaicRect scaled_rect(const BoxF& box, int W, int H, double scale_w, double scale_h,
                       double shift_up) {
    const double x = box.x, y = box.y, w = box.w, h = box.h;
    const double cx = x + w / 2;
    const double cy = y + h / 2 - shift_up * h;
    const double nw = w * scale_w;
    const double nh = h * scale_h;
    MosaicRect r;
    r.x0 = _even(_whole(std::max(0.0, cx - nw / 2)));
    r.y0 = _even(_whole(std::max(0.0, cy - nh / 2)));
    r.x1 = _even(_whole(std::min(static_cast<double>(W), cx + nw / 2)));
    r.y1 = _even(_whole(std::min(static_cast<double>(H), cy + nh / 2)));
    return r;
}

double face_width(const BoxF& box) {
    return std::max(static_cast<double>(box.w), FACE_ASPECT * box.h);
}

MosaicRect mosaic_rect(const BoxF& box, int W, int H) {
    MosaicRect r = scaled_rect(box, W, H, BOX_SCALE_W, BOX_SCALE_H, BOX_SHIFT_UP);
    // The block follows the face's width, but a face cut by the frame's side
    // gets a narrower box (and the smoothed path a narrower mean) than the face
    // really is, and a mosaic that fine still reads as a face; the height
    // stands in then.
    double per_block = face_width(box) / BLOCKS_ACROSS;
    int block = std::isfinite(per_block)
                    ? static_cast<int>(round_half_even(std::clamp(per_block, -1e9, 1e9)))
                    : 4;
    r.block = _even(std::max(4, block));
    return r;
}

void pixelate(cv::Mat& plane, int x0, int y0, int x1, int y1, int block) {
    // Kept inside the plane whatever the caller passes: a stray rectangle must
    // never write outside the frame buffer.
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, plane.cols);
    y1 = std::min(y1, plane.rows);
    if (x1 - x0 < 2 || y1 - y0 < 2) return;
    block = std::max(block, 1);
    const int rw = x1 - x0, rh = y1 - y0;
    const int sw = std::max(1, (rw + block - 1) / block);
    const int sh = std::max(1, (rh + block - 1) / block);
    cv::Mat roi = plane(cv::Rect(x0, y0, rw, rh));
    cv::Mat small;
    cv::resize(roi, small, cv::Size(sw, sh), 0, 0, cv::INTER_AREA);
    // roi already has the target size and type, so resize writes into the
    // plane itself rather than a new buffer.
    cv::resize(small, roi, roi.size(), 0, 0, cv::INTER_NEAREST);
}

void mosaic_yuv(cv::Mat& y, cv::Mat& u, cv::Mat& v, const BoxF& box, int W, int H) {
    const MosaicRect r = mosaic_rect(box, W, H);
    pixelate(y, r.x0, r.y0, r.x1, r.y1, r.block);
    const int cb = std::max(2, r.block / 2);
    pixelate(u, _half(r.x0), _half(r.y0), _half(r.x1), _half(r.y1), cb);
    pixelate(v, _half(r.x0), _half(r.y0), _half(r.x1), _half(r.y1), cb);
}

}  // namespace qlcore
