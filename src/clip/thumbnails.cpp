#include "clip/thumbnails.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "media/jpeg.h"

namespace qlcore {
namespace {

// A plane's part [x0, x1) x [y0, y1), clamped to the plane: a view.
cv::Mat _part(const cv::Mat& plane, int x0, int y0, int x1, int y1) {
    x0 = std::clamp(x0, 0, plane.cols);
    x1 = std::clamp(x1, x0, plane.cols);
    y0 = std::clamp(y0, 0, plane.rows);
    y1 = std::clamp(y1, y0, plane.rows);
    if (x1 <= x0 || y1 <= y0) return cv::Mat();
    return plane(cv::Rect(x0, y0, x1 - x0, y1 - y0));
}

// `m` at `size` as floats on the 8-bit scale (16-bit planes hold 10-bit
// samples): area averaging when shrinking, bilinear when growing (chroma is
// half size). Resized first, so only the thumbnail's samples are converted:
// the render waits for this.
cv::Mat _fit(const cv::Mat& m, cv::Size size) {
    cv::Mat small, out;
    const bool shrink = m.cols >= size.width && m.rows >= size.height;
    cv::resize(m, small, size, 0, 0, shrink ? cv::INTER_AREA : cv::INTER_LINEAR);
    small.convertTo(out, CV_32F, m.depth() == CV_16U ? 1.0 / 4.0 : 1.0);
    return out;
}

uint8_t _byte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

std::optional<ThumbRequest> track_thumbnail(const Track& track, const BoxPath& path) {
    if (track.frames.empty() || track.boxes.size() != track.frames.size()) return std::nullopt;
    size_t best = 0;
    for (size_t i = 1; i < track.scores.size() && i < track.frames.size(); ++i)
        if (track.scores[i] > track.scores[best]) best = i;
    const int64_t frame = track.frames[best];
    const Box& d = track.boxes[best];
    const BoxF box =
        path.at(frame).value_or(BoxF{static_cast<float>(d.x), static_cast<float>(d.y),
                                     static_cast<float>(d.w), static_cast<float>(d.h)});
    return ThumbRequest{track.id, frame, box};
}

YuvColors yuv_colors(const std::optional<std::string>& color_space,
                     const std::optional<std::string>& color_range, int height) {
    YuvColors c;
    const std::string cs = color_space.value_or("");
    if (cs == "bt709") {
        c.kr = 0.2126, c.kb = 0.0722;
    } else if (cs == "bt2020nc" || cs == "bt2020c") {
        c.kr = 0.2627, c.kb = 0.0593;
    } else if (cs == "smpte170m" || cs == "bt470bg" || cs == "fcc" || height < 720) {
        c.kr = 0.299, c.kb = 0.114;
    }
    c.full_range = color_range && (*color_range == "pc" || *color_range == "jpeg");
    return c;
}

std::string crop_jpeg(const cv::Mat& y, const cv::Mat& u, const cv::Mat& v, const MosaicRect& r,
                      const YuvColors& colors) {
    cv::Mat yp = _part(y, r.x0, r.y0, r.x1, r.y1);
    if (yp.empty()) return "";
    // Chroma samples covering the rectangle, odd edges included.
    const int cx0 = r.x0 >> 1, cy0 = r.y0 >> 1, cx1 = (r.x1 + 1) >> 1, cy1 = (r.y1 + 1) >> 1;
    cv::Mat up = _part(u, cx0, cy0, cx1, cy1);
    cv::Mat vp = _part(v, cx0, cy0, cx1, cy1);
    if (up.empty() || vp.empty()) return "";

    const int th = std::min(THUMB_MAX_HEIGHT, yp.rows);
    const int tw = std::max(1, static_cast<int>(std::lround(double(yp.cols) * th / yp.rows)));
    const cv::Size size(tw, th);
    yp = _fit(yp, size);
    up = _fit(up, size);
    vp = _fit(vp, size);

    const double kr = colors.kr, kb = colors.kb, kg = 1.0 - kr - kb;
    const double ys = colors.full_range ? 1.0 : 255.0 / 219.0;
    const double cs = colors.full_range ? 1.0 : 255.0 / 224.0;
    const double y_off = colors.full_range ? 0.0 : 16.0;
    cv::Mat bgr(size, CV_8UC3);
    for (int row = 0; row < th; ++row) {
        const float* py = yp.ptr<float>(row);
        const float* pu = up.ptr<float>(row);
        const float* pv = vp.ptr<float>(row);
        auto* out = bgr.ptr<cv::Vec3b>(row);
        for (int col = 0; col < tw; ++col) {
            const double l = (py[col] - y_off) * ys;
            const double cb = (pu[col] - 128.0) * cs, cr = (pv[col] - 128.0) * cs;
            const double red = l + 2.0 * (1.0 - kr) * cr;
            const double blue = l + 2.0 * (1.0 - kb) * cb;
            const double green = (l - kr * red - kb * blue) / kg;
            out[col] = cv::Vec3b(_byte(blue), _byte(green), _byte(red));
        }
    }
    return encode_jpeg(bgr, THUMB_JPEG_QUALITY);
}

Thumbnails ThumbnailShots::pictures() const {
    Thumbnails t;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (i < shots.before.size() && !shots.before[i].empty())
            t.source[tracks[i]] = shots.before[i];
        if (i < shots.after.size() && !shots.after[i].empty()) t.output[tracks[i]] = shots.after[i];
    }
    return t;
}

ThumbnailShots thumbnail_shots(std::vector<ThumbRequest> wanted, int W, int H,
                               const YuvColors& colors) {
    std::stable_sort(
        wanted.begin(), wanted.end(),
        [](const ThumbRequest& a, const ThumbRequest& b) { return a.frame < b.frame; });
    ThumbnailShots s;
    for (const auto& w : wanted) {
        s.shots.requests.push_back({w.frame, mosaic_rect(w.box, W, H)});
        s.tracks.push_back(w.track);
    }
    s.shots.take = [colors](const cv::Mat& y, const cv::Mat& u, const cv::Mat& v,
                            const MosaicRect& r) { return crop_jpeg(y, u, v, r, colors); };
    return s;
}

}  // namespace qlcore
