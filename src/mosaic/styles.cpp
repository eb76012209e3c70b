#include "mosaic/styles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "platform/numbers.h"

namespace qlcore {
namespace {

constexpr std::array<const char*, 4> NAMES = {"mosaic", "coarse", "blur", "solid"};

constexpr int MIN_COARSE_BLOCK = 6;
// The blur runs on a copy shrunk by a whole factor until its sigma is about
// this many pixels: a Gaussian at 1/f scale is close to one f times wider at
// full size, for a fraction of the cost.
constexpr double SMALL_SIGMA = 2.5;

// Whole part toward zero inside int range; NaN counts as 0.
int _whole(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -1e9, 1e9));
}

// The chroma rectangle of an even luma rectangle, kept inside the plane.
cv::Rect _half(const MosaicRect& r, const cv::Mat& plane) {
    return cv::Rect(r.x0 / 2, r.y0 / 2, (r.x1 - r.x0) / 2, (r.y1 - r.y0) / 2) &
           cv::Rect(0, 0, plane.cols, plane.rows);
}

cv::Rect _full(const MosaicRect& r, const cv::Mat& plane) {
    return cv::Rect(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0) & cv::Rect(0, 0, plane.cols, plane.rows);
}

bool _usable(const cv::Rect& r) {
    return r.width >= 2 && r.height >= 2;
}

// The region grown at its right and bottom to whole multiples of `n` pixels,
// by repeating its last column and row: an area resize by a whole factor
// takes OpenCV's fast path, several times quicker than a fractional one.
cv::Mat _padded(const cv::Mat& roi, int n) {
    cv::Mat out;
    const int w = (roi.cols + n - 1) / n * n, h = (roi.rows + n - 1) / n * n;
    cv::copyMakeBorder(roi, out, 0, h - roi.rows, 0, w - roi.cols, cv::BORDER_REPLICATE);
    return out;
}

void _blocks(cv::Mat& plane, const cv::Rect& r, int block) {
    if (!_usable(r)) return;
    cv::Mat roi = plane(r), padded = _padded(roi, block), cells;
    cv::resize(padded, cells, {padded.cols / block, padded.rows / block}, 0, 0, cv::INTER_AREA);
    cv::resize(cells, padded, padded.size(), 0, 0, cv::INTER_NEAREST);
    padded(cv::Rect(0, 0, r.width, r.height)).copyTo(roi);
}

void _fill(cv::Mat& plane, const cv::Rect& r) {
    if (!_usable(r)) return;
    cv::Mat roi = plane(r);
    roi.setTo(cv::Scalar(static_cast<double>(round_half_even(cv::mean(roi)[0]))));
}

// Sides of the rectangle that lie on the frame's border get no feather: there
// is nothing beyond them to blend into, and a ramp there would leave the
// face's outermost pixels sharp.
struct Sides {
    bool left, top, right, bottom;
};

void _blur(cv::Mat& plane, const cv::Rect& r, double sigma, int feather, Sides edge) {
    if (!_usable(r) || !(sigma > 0)) return;
    cv::Mat roi = plane(r);
    const int f = std::clamp(_whole(sigma / SMALL_SIGMA), 1, std::min(r.width, r.height));
    cv::Mat padded = _padded(roi, f), small;
    cv::resize(padded, small, {padded.cols / f, padded.rows / f}, 0, 0, cv::INTER_AREA);
    // In float with a kernel of our own: GaussianBlur's exact integer path
    // costs several times more on these small images.
    const double s = sigma / f;
    const cv::Mat k = cv::getGaussianKernel(2 * _whole(std::ceil(3 * s)) + 1, s, CV_32F);
    cv::Mat fl;
    small.convertTo(fl, CV_32F);
    cv::sepFilter2D(fl, fl, -1, k, k, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    fl.convertTo(small, plane.type());
    cv::resize(small, padded, padded.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat soft = padded(cv::Rect(0, 0, r.width, r.height));

    // The n outermost rows and columns mix in more of the original the nearer
    // they are to the edge; a corner gets the product of both weights.
    const int n = std::clamp(feather, 0, std::min(r.width, r.height) / 2);
    auto mix = [&](cv::Mat out, const cv::Mat& orig, int i) {
        const double a = static_cast<double>(i + 1) / (n + 1);
        cv::addWeighted(out, a, orig, 1 - a, 0, out);
    };
    for (int i = 0; i < n; ++i) {
        if (!edge.top) mix(soft.row(i), roi.row(i), i);
        if (!edge.bottom) mix(soft.row(r.height - 1 - i), roi.row(r.height - 1 - i), i);
    }
    for (int i = 0; i < n; ++i) {
        if (!edge.left) mix(soft.col(i), roi.col(i), i);
        if (!edge.right) mix(soft.col(r.width - 1 - i), roi.col(r.width - 1 - i), i);
    }
    soft.copyTo(roi);
}

}  // namespace

std::optional<HideStyle> parse_hide_style(std::string_view name) {
    for (size_t i = 0; i < NAMES.size(); ++i)
        if (name == NAMES[i]) return static_cast<HideStyle>(i);
    return std::nullopt;
}

std::string hide_style_name(HideStyle style) {
    return NAMES.at(static_cast<size_t>(style));
}

std::vector<std::string> hide_style_names() {
    return {NAMES.begin(), NAMES.end()};
}

MosaicRect cover_rect(const BoxF& box, int W, int H, const StyleFigures& f) {
    MosaicRect r = scaled_rect(box, W, H, f.scale_w, f.scale_h, f.shift_up);
    // Rounded up, so there are never more blocks across the face than asked.
    const double per_block = face_width(box) / f.coarse_across;
    int block = std::isfinite(per_block) ? _whole(std::ceil(per_block)) : 0;
    r.block = std::max(MIN_COARSE_BLOCK, block + (block & 1));
    return r;
}

void hide_yuv(cv::Mat& y, cv::Mat& u, cv::Mat& v, const BoxF& box, int W, int H, HideStyle style,
              const StyleFigures& f) {
    if (style == HideStyle::mosaic) {
        mosaic_yuv(y, u, v, box, W, H);
        return;
    }
    const MosaicRect r = cover_rect(box, W, H, f);
    const cv::Rect ry = _full(r, y), ru = _half(r, u), rv = _half(r, v);
    switch (style) {
        case HideStyle::coarse:
            _blocks(y, ry, r.block);
            _blocks(u, ru, r.block / 2);
            _blocks(v, rv, r.block / 2);
            break;
        case HideStyle::blur: {
            // A box without a usable width is judged by its rectangle, as
            // the other styles are, rather than left sharp.
            double face = face_width(box);
            if (!std::isfinite(face)) face = (r.x1 - r.x0) / f.scale_w;
            const double sigma = f.blur_sigma * face;
            // x1 and y1 are even, so on an odd-sized frame the border is one
            // pixel further on.
            const Sides edge{r.x0 == 0, r.y0 == 0, r.x1 >= W - 1, r.y1 >= H - 1};
            _blur(y, ry, sigma, f.feather, edge);
            _blur(u, ru, sigma / 2, std::max(1, f.feather / 2), edge);
            _blur(v, rv, sigma / 2, std::max(1, f.feather / 2), edge);
            break;
        }
        case HideStyle::solid:
            _fill(y, ry);
            _fill(u, ru);
            _fill(v, rv);
            break;
        case HideStyle::mosaic:
            break;
    }
}

}  // namespace qlcore
