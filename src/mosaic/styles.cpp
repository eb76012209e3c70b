#include "mosaic/styles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "platform/numbers.h"

namespace qlcore {
namespace {

constexpr std::array<const char*, 4> _NAMES = {"mosaic", "coarse", "blur", "solid"};

// A frontal face is about three quarters as wide as high: for a box cut by
// the frame's side the height tells the face's real width.
constexpr double _FACE_ASPECT = 0.75;
constexpr int _MIN_COARSE_BLOCK = 6;
// The blur runs on a copy shrunk until its sigma is about this many pixels:
// a Gaussian at 1/f scale is close to one f times wider at full size, for a
// fraction of the cost.
constexpr double _SMALL_SIGMA = 2.5;

// Whole part toward zero inside int range; NaN counts as 0.
int _whole(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -1e9, 1e9));
}

int _even(int v) {
    return v & ~1;
}

double _face_width(const BoxF& box) {
    return std::max(static_cast<double>(box[2]), _FACE_ASPECT * box[3]);
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

void _blocks(cv::Mat& plane, const cv::Rect& r, int block) {
    if (!_usable(r)) return;
    cv::Mat roi = plane(r);
    const cv::Size small(std::max(1, (r.width + block - 1) / block),
                         std::max(1, (r.height + block - 1) / block));
    cv::Mat cells;
    cv::resize(roi, cells, small, 0, 0, cv::INTER_AREA);
    cv::resize(cells, roi, roi.size(), 0, 0, cv::INTER_NEAREST);
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

// 1 inside, rising over `n` pixels from each feathered end.
cv::Mat _ramp(int len, int n, bool start, bool end) {
    cv::Mat r(1, len, CV_32F, cv::Scalar(1.0));
    for (int i = 0; i < n; ++i) {
        const float a = static_cast<float>(i + 1) / static_cast<float>(n + 1);
        if (start) r.at<float>(0, i) = a;
        if (end) r.at<float>(0, len - 1 - i) = a;
    }
    return r;
}

// Blends `soft` into `roi` over the part `s` of the rectangle, weighted by
// the feather mask there.
void _blend(const cv::Mat& roi, cv::Mat& soft, const cv::Rect& s, const cv::Mat& rx,
            const cv::Mat& ry) {
    if (s.width <= 0 || s.height <= 0) return;
    cv::Mat mask;
    cv::min(cv::repeat(rx.colRange(s.x, s.x + s.width), s.height, 1),
            cv::repeat(ry.colRange(s.y, s.y + s.height).t(), 1, s.width), mask);
    cv::Mat o, b;
    roi(s).convertTo(o, CV_32F);
    soft(s).convertTo(b, CV_32F);
    cv::Mat out = o + (b - o).mul(mask);
    cv::Mat dst = soft(s);
    out.convertTo(dst, soft.type());
}

void _blur(cv::Mat& plane, const cv::Rect& r, double sigma, int feather, Sides edge) {
    if (!_usable(r) || !(sigma > 0)) return;
    cv::Mat roi = plane(r);
    const double f = std::max(1.0, sigma / _SMALL_SIGMA);
    const cv::Size small(std::max(1, _whole(std::round(r.width / f))),
                         std::max(1, _whole(std::round(r.height / f))));
    cv::Mat shrunk, soft;
    cv::resize(roi, shrunk, small, 0, 0, cv::INTER_AREA);
    cv::GaussianBlur(shrunk, shrunk, cv::Size(0, 0), sigma * small.width / r.width,
                     sigma * small.height / r.height, cv::BORDER_REPLICATE);
    cv::resize(shrunk, soft, roi.size(), 0, 0, cv::INTER_LINEAR);

    // Only the band along the edge is blended; inside it the blur is copied.
    const int n = std::clamp(feather, 0, std::min(r.width, r.height) / 2);
    const int l = edge.left ? 0 : n, t = edge.top ? 0 : n;
    const int ri = edge.right ? 0 : n, b = edge.bottom ? 0 : n;
    const cv::Mat rx = _ramp(r.width, n, !edge.left, !edge.right);
    const cv::Mat ry = _ramp(r.height, n, !edge.top, !edge.bottom);
    const int mid = r.height - t - b;
    _blend(roi, soft, cv::Rect(0, 0, r.width, t), rx, ry);
    _blend(roi, soft, cv::Rect(0, r.height - b, r.width, b), rx, ry);
    _blend(roi, soft, cv::Rect(0, t, l, mid), rx, ry);
    _blend(roi, soft, cv::Rect(r.width - ri, t, ri, mid), rx, ry);
    soft.copyTo(roi);
}

}  // namespace

std::optional<HideStyle> parse_hide_style(std::string_view name) {
    for (size_t i = 0; i < _NAMES.size(); ++i)
        if (name == _NAMES[i]) return static_cast<HideStyle>(i);
    return std::nullopt;
}

std::string hide_style_name(HideStyle style) {
    return _NAMES.at(static_cast<size_t>(style));
}

std::vector<std::string> hide_style_names() {
    return {_NAMES.begin(), _NAMES.end()};
}

MosaicRect cover_rect(const BoxF& box, int W, int H, const StyleFigures& f) {
    const double x = box[0], y = box[1], w = box[2], h = box[3];
    const double cx = x + w / 2;
    const double cy = y + h / 2 - f.shift_up * h;
    const double nw = w * f.scale_w, nh = h * f.scale_h;
    MosaicRect r;
    r.x0 = _even(_whole(std::max(0.0, cx - nw / 2)));
    r.y0 = _even(_whole(std::max(0.0, cy - nh / 2)));
    r.x1 = _even(_whole(std::min(static_cast<double>(W), cx + nw / 2)));
    r.y1 = _even(_whole(std::min(static_cast<double>(H), cy + nh / 2)));
    // Rounded up, so there are never more blocks across the face than asked.
    const double per_block = _face_width(box) / f.coarse_across;
    int block = std::isfinite(per_block) ? _whole(std::ceil(per_block)) : 0;
    r.block = std::max(_MIN_COARSE_BLOCK, block + (block & 1));
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
            const double sigma = f.blur_sigma * _face_width(box);
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
