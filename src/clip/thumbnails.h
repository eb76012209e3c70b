// Small JPEG pictures of faces, cut from the render's YUV frames: the source
// crop before pixelation and the same area of the output after it, taken in
// the render pass so no frame is decoded twice.
#pragma once

#include <cstdint>
#include <map>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "geometry/box.h"
#include "mosaic/mosaic.h"
#include "tracking/box_path.h"
#include "tracking/tracker.h"

namespace qlcore {

// Thumbnails are at most this high; a wide face keeps its aspect.
constexpr int THUMB_MAX_HEIGHT = 160;
constexpr int THUMB_JPEG_QUALITY = 85;

// Frame -> the tracks to picture in it, with their boxes there.
struct ThumbRequest {
    int track = 0;
    BoxF box{};
};
using ThumbnailPlan = std::map<int64_t, std::vector<ThumbRequest>>;

void add_thumbnail(ThumbnailPlan& plan, int64_t frame, int track, const BoxF& box);

// Asks for `track` at its best-scoring detection (the earliest of equal
// scores), framed by its box path's box there, which is what gets pixelated,
// or by the detection box when the path does not cover that frame. Returns
// the frame, or nothing for a track without detections.
std::optional<int64_t> add_track_thumbnail(ThumbnailPlan& plan, const Track& track,
                                           const BoxPath& path);

// Track id -> JPEG bytes.
using ThumbnailSet = std::map<int, std::string>;

struct Thumbnails {
    ThumbnailSet source;  // taken before pixelation
    ThumbnailSet output;  // the same rectangle after it
};

// How the frame's samples map to colours: BT.601, BT.709 or BT.2020 luma
// weights, limited or full range.
struct YuvColors {
    double kr = 0.2126;
    double kb = 0.0722;
    bool full_range = false;
};

// From the clip's colour tags; untagged pictures at least 720 lines high are
// taken as BT.709 and smaller ones as BT.601, as players guess.
YuvColors yuv_colors(const std::optional<std::string>& color_space,
                     const std::optional<std::string>& color_range, int height);

// The rectangle `r` of a planar YUV 4:2:0 frame (8-bit planes, or 16-bit
// planes holding 10-bit samples) as a JPEG at most THUMB_MAX_HEIGHT high.
// Only the rectangle is converted. Empty when the rectangle holds nothing.
std::string crop_jpeg(const cv::Mat& y, const cv::Mat& u, const cv::Mat& v, const MosaicRect& r,
                      const YuvColors& colors);

// Takes the pictures `plan` asks for at frame `fi`, each of its box's mosaic
// rectangle in a W x H frame, into `into`. Call it with `source` before the
// frame is pixelated and with `output` after; a frame without requests costs
// one map lookup.
void capture_thumbnails(const ThumbnailPlan& plan, int64_t fi, const cv::Mat& y, const cv::Mat& u,
                        const cv::Mat& v, int W, int H, const YuvColors& colors,
                        ThumbnailSet& into);

}  // namespace qlcore
