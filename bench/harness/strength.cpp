#include "strength.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>

#include "faces/models.h"
#include "mosaic/mosaic.h"
#include "mosaic/styles.h"
#include "platform/numbers.h"

namespace bench {

using qlcore::json;

namespace {

constexpr int FRAME_W = 1280, FRAME_H = 720;

// One way of hiding a face: the mosaic's rectangle with `across` blocks over
// the box width, or (across 0) a hiding style with its figures.
struct Hider {
    std::string key;
    int across = 0;
    qlcore::HideStyle style = qlcore::HideStyle::mosaic;
    qlcore::StyleFigures figures;
};

// 4, 3.5, 0.2: as short as the figure allows.
std::string _figure(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

std::vector<Hider> _hiders() {
    using qlcore::HideStyle;
    std::vector<Hider> h;
    for (int a : {6, 4, 3})
        h.push_back({std::to_string(a), a, HideStyle::mosaic, {}});
    for (HideStyle s : {HideStyle::mosaic, HideStyle::coarse, HideStyle::blur, HideStyle::solid})
        h.push_back({"style " + qlcore::hide_style_name(s), 0, s, {}});
    // The figures the styles' defaults were chosen among.
    for (double a : {4.0, 3.5}) {
        qlcore::StyleFigures f;
        f.coarse_across = a;
        h.push_back({"coarse, " + _figure(a) + " across", 0, HideStyle::coarse, f});
    }
    {
        qlcore::StyleFigures f;
        f.scale_w = 1.45;
        f.scale_h = 1.65;
        f.shift_up = 0.1;
        h.push_back({"coarse in the mosaic's rectangle", 0, HideStyle::coarse, f});
    }
    for (double s : {0.2, 0.3, 0.4, 0.6}) {
        qlcore::StyleFigures f;
        f.blur_sigma = s;
        h.push_back({"blur, sigma " + _figure(s) + " w", 0, HideStyle::blur, f});
    }
    return h;
}

qlcore::BoxF _box(const Truth& t) {
    return {static_cast<float>(t.box.x), static_cast<float>(t.box.y),
            static_cast<float>(t.box.width), static_cast<float>(t.box.height)};
}

// Hides every face box the way the renderer does, on the YUV planes with
// chroma at half size.
cv::Mat _hidden(const cv::Mat& bgr, const std::vector<Truth>& truth, const Hider& h) {
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV_I420);
    cv::Mat y(FRAME_H, FRAME_W, CV_8U, yuv.data);
    cv::Mat u(FRAME_H / 2, FRAME_W / 2, CV_8U, yuv.data + FRAME_W * FRAME_H);
    cv::Mat v(FRAME_H / 2, FRAME_W / 2, CV_8U,
              yuv.data + FRAME_W * FRAME_H + FRAME_W * FRAME_H / 4);
    for (const Truth& t : truth) {
        const qlcore::BoxF box = _box(t);
        if (!h.across) {
            qlcore::hide_yuv(y, u, v, box, FRAME_W, FRAME_H, h.style, h.figures);
            continue;
        }
        const qlcore::MosaicRect r = qlcore::mosaic_rect(box, FRAME_W, FRAME_H);
        int block = static_cast<int>(qlcore::round_half_even(t.box.width / h.across));
        block = std::max(4, block) & ~1;
        qlcore::pixelate(y, r.x0, r.y0, r.x1, r.y1, block);
        qlcore::pixelate(u, r.x0 / 2, r.y0 / 2, r.x1 / 2, r.y1 / 2, std::max(2, block / 2));
        qlcore::pixelate(v, r.x0 / 2, r.y0 / 2, r.x1 / 2, r.y1 / 2, std::max(2, block / 2));
    }
    cv::Mat out;
    cv::cvtColor(yuv, out, cv::COLOR_YUV2BGR_I420);
    return out;
}

int _found(qlcore::Models& models, const cv::Mat& img, const std::vector<Truth>& truth) {
    const cv::Mat det = models.detect(img, 1000000);
    int n = 0;
    for (const Truth& t : truth) {
        for (int d = 0; d < det.rows; ++d) {
            const float* r = det.ptr<float>(d);
            if (face_at(cv::Rect2d(r[0], r[1], r[2], r[3]), t.box)) {
                ++n;
                break;
            }
        }
    }
    return n;
}

}  // namespace

json mosaic_strength(const std::vector<Sprite>& sprites, qlcore::Models& models) {
    const std::vector<int> widths = {30, 38, 45, 58, 80, 100, 120};
    const std::vector<Hider> hiders = _hiders();
    json rows = json::array();
    for (int w : widths) {
        std::vector<int> found(hiders.size(), 0);
        int unhidden = 0, total = 0;
        // Two groups of three faces, each at four offsets, so the cells fall
        // differently on the face.
        for (int group = 0; group < 2; ++group) {
            for (int shift : {0, 3, 5, 8}) {
                Scene s;
                s.w = FRAME_W;
                s.h = FRAME_H;
                s.frames = 1;
                s.seed = static_cast<unsigned>(100 + w + group + shift);
                for (int i = 0; i < 3; ++i)
                    s.actors.push_back({3 * group + i,
                                        false,
                                        {{0, 213.0 + 427 * i + shift, 360.0 + shift, double(w)}}});
                std::vector<Truth> truth;
                const cv::Mat frame = compose(s, sprites, make_canvas(s), 0, truth);
                unhidden += _found(models, frame, truth);
                for (size_t k = 0; k < hiders.size(); ++k)
                    found[k] += _found(models, _hidden(frame, truth, hiders[k]), truth);
                total += static_cast<int>(truth.size());
            }
        }
        json row = json::object();
        row["width"] = w;
        row["faces"] = total;
        row["found_unpixelated"] = unhidden;
        json after = json::object(), styles = json::object(), figures = json::object();
        for (size_t k = 0; k < hiders.size(); ++k) {
            const std::string& key = hiders[k].key;
            if (hiders[k].across)
                after[key] = found[k];
            else if (key.rfind("style ", 0) == 0)
                styles[key.substr(6)] = found[k];
            else
                figures[key] = found[k];
        }
        row["found_after"] = std::move(after);
        row["found_after_style"] = std::move(styles);
        row["found_after_figures"] = std::move(figures);
        rows.push_back(std::move(row));
    }
    return rows;
}

cv::Mat style_strip(const std::vector<Sprite>& sprites, int sprite, int width) {
    // A flat background without grain, so the strip stays small as a PNG.
    Scene s;
    s.w = 4 * width;
    s.h = 4 * width;
    s.frames = 1;
    s.actors.push_back({sprite, false, {{0, s.w / 2.0, s.h / 2.0 + width * 0.2, double(width)}}});
    Canvas canvas;
    canvas.background = cv::Mat(s.h, s.w, CV_8UC3, cv::Scalar(150, 160, 165));
    canvas.grain = cv::Mat::zeros(s.h, s.w, CV_16SC3);
    std::vector<Truth> truth;
    const cv::Mat frame = compose(s, sprites, canvas, 0, truth);
    const qlcore::BoxF box = _box(truth.at(0));
    // The head rectangle with a margin, so the edge of each style shows.
    const qlcore::MosaicRect r = qlcore::cover_rect(box, s.w, s.h);
    const int m = width / 4;
    const cv::Rect tile(r.x0 - m, r.y0 - m, r.x1 - r.x0 + 2 * m, r.y1 - r.y0 + 2 * m);
    std::vector<cv::Mat> tiles;
    for (const std::string& name : qlcore::hide_style_names()) {
        cv::Mat yuv;
        cv::cvtColor(frame, yuv, cv::COLOR_BGR2YUV_I420);
        cv::Mat y(s.h, s.w, CV_8U, yuv.data);
        cv::Mat u(s.h / 2, s.w / 2, CV_8U, yuv.data + s.w * s.h);
        cv::Mat v(s.h / 2, s.w / 2, CV_8U, yuv.data + s.w * s.h * 5 / 4);
        qlcore::hide_yuv(y, u, v, box, s.w, s.h, *qlcore::parse_hide_style(name));
        cv::Mat bgr;
        cv::cvtColor(yuv, bgr, cv::COLOR_YUV2BGR_I420);
        cv::Mat t = bgr(tile).clone();
        cv::putText(t, name, cv::Point(6, t.rows - 7), cv::FONT_HERSHEY_SIMPLEX, 0.5,
                    cv::Scalar(30, 30, 30), 1, cv::LINE_AA);
        tiles.push_back(t);
    }
    cv::Mat strip;
    cv::hconcat(tiles, strip);
    return strip;
}

}  // namespace bench
