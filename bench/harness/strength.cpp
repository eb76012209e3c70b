#include "strength.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "faces/models.h"
#include "mosaic/mosaic.h"
#include "platform/numbers.h"

namespace bench {

using qlcore::json;

namespace {

constexpr int FRAME_W = 1280, FRAME_H = 720;

// Pixelates every face box the way the renderer does (on the YUV planes,
// chroma at half size), with `across` blocks over the box width.
cv::Mat _pixelated(const cv::Mat& bgr, const std::vector<Truth>& truth, int across) {
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV_I420);
    cv::Mat y(FRAME_H, FRAME_W, CV_8U, yuv.data);
    cv::Mat u(FRAME_H / 2, FRAME_W / 2, CV_8U, yuv.data + FRAME_W * FRAME_H);
    cv::Mat v(FRAME_H / 2, FRAME_W / 2, CV_8U,
              yuv.data + FRAME_W * FRAME_H + FRAME_W * FRAME_H / 4);
    for (const Truth& t : truth) {
        const qlcore::BoxF box = {static_cast<float>(t.box.x), static_cast<float>(t.box.y),
                                  static_cast<float>(t.box.width),
                                  static_cast<float>(t.box.height)};
        const qlcore::MosaicRect r = qlcore::mosaic_rect(box, FRAME_W, FRAME_H);
        int block = static_cast<int>(qlcore::round_half_even(t.box.width / across));
        block = std::max(4, block) & ~1;
        qlcore::pixelate(y, r.x0, r.y0, r.x1, r.y1, block);
        qlcore::pixelate(u, r.x0 / 2, r.y0 / 2, r.x1 / 2, r.y1 / 2, std::max(2, block / 2));
        qlcore::pixelate(v, r.x0 / 2, r.y0 / 2, r.x1 / 2, r.y1 / 2, std::max(2, block / 2));
    }
    cv::Mat out;
    cv::cvtColor(yuv, out, cv::COLOR_YUV2BGR_I420);
    return out;
}

}  // namespace

json mosaic_strength(const std::vector<Sprite>& sprites, qlcore::Models& models) {
    const std::vector<int> widths = {30, 45, 58, 80, 120};
    const std::vector<int> across = {0, 6, 4, 3};  // 0: not pixelated
    json rows = json::array();
    for (int w : widths) {
        std::vector<int> found(across.size(), 0);
        int total = 0;
        // Two groups of three faces, each at two offsets, so the cells fall
        // differently on the face.
        for (int group = 0; group < 2; ++group) {
            for (int shift : {0, 3}) {
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
                for (size_t k = 0; k < across.size(); ++k) {
                    const cv::Mat img = across[k] ? _pixelated(frame, truth, across[k]) : frame;
                    const cv::Mat det = models.detect(img, 1000000);
                    for (const Truth& t : truth) {
                        for (int d = 0; d < det.rows; ++d) {
                            const float* r = det.ptr<float>(d);
                            if (face_at(cv::Rect2d(r[0], r[1], r[2], r[3]), t.box)) {
                                ++found[k];
                                break;
                            }
                        }
                    }
                }
                total += static_cast<int>(truth.size());
            }
        }
        json row = json::object();
        row["width"] = w;
        row["faces"] = total;
        row["found_unpixelated"] = found[0];
        json after = json::object();
        for (size_t k = 1; k < across.size(); ++k)
            after[std::to_string(across[k])] = found[k];
        row["found_after"] = std::move(after);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace bench
