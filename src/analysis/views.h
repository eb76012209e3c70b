// Search views: the pictures of one frame the detector looks at, and the
// merge of their detections into one list in frame pixels.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace qlcore {

// One picture made from a frame: the tile (the whole frame unless tiled)
// resized to `size`, mirrored left to right when asked.
struct View {
    double scale = 1.0;  // picture pixels per frame pixel (size.width / tile.width)
    cv::Rect tile;       // frame pixels
    bool tiled = false;  // tile is less than the whole frame
    bool mirror = false;
    cv::Size size;  // picture pixels
    int every = 1;  // looked at on every n-th searched frame only, from the first
};

// Which views beside the usual one (the frame scaled so its long side is at
// most det_max_side). Each applies only where it adds pixels.
struct ViewOptions {
    // Frames whose long side is at most det_max_side: a view at this many
    // times the frame size (1 for none), its long side at most zoom_side.
    double zoom = 1.0;
    int zoom_side = 0;  // 0: no limit
    // Frames larger than det_max_side: a full-resolution view, whole or in
    // tiles of at most tile_side pixels a side (0: whole) overlapping by
    // tile_overlap of the tile side.
    bool full = false;
    int tile_side = 0;
    double tile_overlap = 0.25;
    // The zoomed or full-resolution view at most this many times the usual
    // view's pixels (0: no limit); a full-resolution view above it is one
    // whole picture scaled down to it. Detection time grows with the pixels.
    double max_pixels = 0.0;
    // The zoomed or full-resolution views only on every n-th searched frame,
    // n the smallest that keeps their pixels per frame, on average, within
    // this many times the usual view's (0: every frame). The tracker bridges
    // the frames between; detection time grows with the pixels.
    double zoom_budget = 0.0;
    // The usual view mirrored left to right.
    bool mirror = false;
};

// The views of a frame, in the order their detections are merged: the usual
// view first, then the zoomed or full-resolution ones (tiles row by row),
// then the mirrored one.
std::vector<View> search_views(cv::Size frame, int det_max_side, const ViewOptions& o);

// The picture of `view` from a frame of the size the views were made for.
cv::Mat view_picture(const cv::Mat& frame, const View& view);

// Where view_picture() makes a resized or mirrored picture. Kept from frame
// to frame (one per view), a view of many megabytes is not allocated again.
struct ViewBuffers {
    cv::Mat sized, flipped;
};
// The same in `buffers`: the result shares their memory (or the frame's)
// and holds until the next call with them.
cv::Mat view_picture(const cv::Mat& frame, const View& view, ViewBuffers& buffers);

// Detector rows (N x 15 CV_32F: x, y, w, h, five landmarks, score) found in
// the picture of `view`, moved to frame pixels. Mirrored landmarks are
// swapped back, so each keeps its side of the face.
cv::Mat rows_to_frame(const cv::Mat& rows, const View& view);

// One frame's rows from all views (in view order) as one list: the best-
// scoring of overlapping rows (intersection over union above iou) is kept.
// Ties keep the earlier row, so the result depends only on the input order.
cv::Mat merge_rows(const std::vector<cv::Mat>& rows_by_view, double iou);

// Chosen by measurement (bench/harness/views_bench.cpp, BENCHMARKS.md): the
// 2x and full-resolution views find the faces a smaller enlargement misses;
// looking at them on every second frame keeps the search within 3 times the
// usual one's time at every size and hides as many faces as every frame did
// (every third frame left more exposed).
inline constexpr double VIEW_MERGE_IOU = 0.3;
// Raised whenever thorough_view_options() changes what the search finds, so
// a thorough search cached before is not reused.
inline constexpr int THOROUGH_VIEWS_VERSION = 2;
inline ViewOptions thorough_view_options() {
    ViewOptions o;
    o.zoom = 2.0;
    o.zoom_side = 2880;
    o.full = true;
    o.zoom_budget = 2.0;
    // The mirror found no face the zoom did not; it stays an option.
    o.mirror = false;
    return o;
}

}  // namespace qlcore
