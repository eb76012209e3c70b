#include "analysis/views.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "platform/numbers.h"

namespace qlcore {

namespace {

// The frame scaled by z, both sides even.
cv::Size _scaled(cv::Size frame, double z) {
    return {static_cast<int>(2 * round_half_even(frame.width * z / 2)),
            static_cast<int>(2 * round_half_even(frame.height * z / 2))};
}

// The usual search size: long side at most det_max_side, as the decoder is
// asked for it.
cv::Size _usual_size(cv::Size frame, int det_max_side) {
    return _scaled(frame,
                   std::min(1.0, double(det_max_side) / std::max(frame.width, frame.height)));
}

View _view(const cv::Rect& tile, bool tiled, cv::Size size, bool mirror) {
    View v;
    v.tile = tile;
    v.tiled = tiled;
    v.size = size;
    v.mirror = mirror;
    v.scale = double(size.width) / tile.width;
    return v;
}

// Starts of tiles of length `side` covering [0, length), evenly spread so
// neighbours overlap by at least `overlap` pixels.
std::vector<int> _starts(int length, int side, int overlap) {
    if (length <= side) return {0};
    const int step = std::max(1, side - overlap);
    const int n = 1 + (length - side + step - 1) / step;
    std::vector<int> out;
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<int>(std::lround(double(length - side) * i / (n - 1))));
    return out;
}

double _iou(const float* a, const float* b) {
    const double x0 = std::max(a[0], b[0]), y0 = std::max(a[1], b[1]);
    const double x1 = std::min(a[0] + a[2], b[0] + b[2]), y1 = std::min(a[1] + a[3], b[1] + b[3]);
    const double inter = std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0);
    const double uni = double(a[2]) * a[3] + double(b[2]) * b[3] - inter;
    return uni > 0 ? inter / uni : 0.0;
}

}  // namespace

std::vector<View> search_views(cv::Size frame, int det_max_side, const ViewOptions& o) {
    const cv::Rect whole(0, 0, frame.width, frame.height);
    const int long_side = std::max(frame.width, frame.height);
    std::vector<View> out;
    const cv::Size usual = _usual_size(frame, det_max_side);
    out.push_back(_view(whole, false, usual, false));
    // The largest scale of the frame that keeps within max_pixels.
    double cap = std::numeric_limits<double>::infinity();
    if (o.max_pixels > 0.0)
        cap = std::sqrt(o.max_pixels * usual.area() / (double(frame.width) * frame.height));
    if (long_side <= det_max_side && o.zoom > 1.0) {
        double z = std::min(o.zoom, cap);
        if (o.zoom_side > 0) z = std::min(z, double(o.zoom_side) / long_side);
        if (z > 1.0) out.push_back(_view(whole, false, _scaled(frame, z), false));
    }
    if (long_side > det_max_side && o.full) {
        if (cap < 1.0) {
            // Capped: one whole picture scaled down to the cap.
            const cv::Size capped = _scaled(frame, cap);
            if (capped.width > usual.width) out.push_back(_view(whole, false, capped, false));
        } else {
            const int side = o.tile_side > 0 ? o.tile_side : long_side;
            const int overlap = static_cast<int>(std::lround(o.tile_overlap * side));
            const std::vector<int> xs = _starts(frame.width, side, overlap);
            const std::vector<int> ys = _starts(frame.height, side, overlap);
            const bool tiled = xs.size() > 1 || ys.size() > 1;
            for (int y : ys)
                for (int x : xs) {
                    const cv::Rect t =
                        cv::Rect(x, y, std::min(side, frame.width), std::min(side, frame.height)) &
                        whole;
                    out.push_back(_view(t, tiled, t.size(), false));
                }
        }
    }
    // The enlarged views, every n-th frame: on average within zoom_budget.
    if (o.zoom_budget > 0.0 && out.size() > 1) {
        double pixels = 0.0;
        for (size_t i = 1; i < out.size(); ++i)
            pixels += out[i].size.area();
        const double ratio = pixels / usual.area();
        const int every = std::max(1, static_cast<int>(std::ceil(ratio / o.zoom_budget - 1e-9)));
        for (size_t i = 1; i < out.size(); ++i)
            out[i].every = every;
    }
    if (o.mirror) out.push_back(_view(whole, false, usual, true));
    return out;
}

cv::Mat view_picture(const cv::Mat& frame, const View& view) {
    ViewBuffers fresh;
    return view_picture(frame, view, fresh);
}

cv::Mat view_picture(const cv::Mat& frame, const View& view, ViewBuffers& buffers) {
    cv::Mat pic = view.tiled ? frame(view.tile) : frame;
    if (pic.size() != view.size) {
        cv::resize(pic, buffers.sized, view.size, 0, 0,
                   view.scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
        pic = buffers.sized;
    }
    if (view.mirror) {
        cv::flip(pic, buffers.flipped, 1);
        pic = buffers.flipped;
    }
    return pic;
}

cv::Mat rows_to_frame(const cv::Mat& rows, const View& view) {
    cv::Mat out = rows.empty() ? cv::Mat(0, 15, CV_32F) : rows.clone();
    // One factor for both axes, as the usual search has: an even height
    // rounded off is not stretched back.
    const float up = static_cast<float>(double(view.tile.width) / view.size.width);
    const float pw = static_cast<float>(view.size.width);
    for (int i = 0; i < out.rows; ++i) {
        float* r = out.ptr<float>(i);
        if (view.mirror) {
            r[0] = pw - r[0] - r[2];
            for (int k = 4; k < 14; k += 2)
                r[k] = pw - r[k];
            // Eyes (4-7) and mouth corners (10-13) trade sides in a mirror.
            std::swap(r[4], r[6]);
            std::swap(r[5], r[7]);
            std::swap(r[10], r[12]);
            std::swap(r[11], r[13]);
        }
        for (int k = 0; k < 14; ++k)
            r[k] *= up;
        r[0] += view.tile.x;
        r[1] += view.tile.y;
        for (int k = 4; k < 14; k += 2) {
            r[k] += view.tile.x;
            r[k + 1] += view.tile.y;
        }
    }
    return out;
}

cv::Mat merge_rows(const std::vector<cv::Mat>& rows_by_view, double iou) {
    std::vector<const float*> all;
    for (const cv::Mat& m : rows_by_view)
        for (int i = 0; i < m.rows; ++i)
            all.push_back(m.ptr<float>(i));
    std::vector<size_t> order(all.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return all[a][14] > all[b][14]; });
    cv::Mat out(0, 15, CV_32F);
    std::vector<const float*> kept;
    for (size_t i : order) {
        bool clash = false;
        for (const float* k : kept)
            clash = clash || _iou(all[i], k) > iou;
        if (clash) continue;
        kept.push_back(all[i]);
        out.push_back(cv::Mat(1, 15, CV_32F, const_cast<float*>(all[i])));
    }
    return out;
}

}  // namespace qlcore
