// Small JPEG pictures of faces, cut from the render's YUV frames: the source
// crop before hiding and the same area of the output after it, taken in the
// render pass so no frame is decoded twice.
#pragma once

#include <cstdint>
#include <map>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "encode/render.h"
#include "geometry/box.h"
#include "mosaic/mosaic.h"
#include "tracking/box_path.h"
#include "tracking/tracker.h"

namespace qlcore {

// Thumbnails are at most this high; a wide face keeps its aspect.
constexpr int THUMB_MAX_HEIGHT = 160;
constexpr int THUMB_JPEG_QUALITY = 85;

// One track to picture: at which frame, framed by which box.
struct ThumbRequest {
    int track = 0;
    int64_t frame = 0;
    BoxF box{};
};

// `track` at its best-scoring detection (the earliest of equal scores),
// framed by its box path's box there, which is what gets hidden, or by the
// detection box when the path does not cover that frame. Nothing for a
// track without detections.
std::optional<ThumbRequest> track_thumbnail(const Track& track, const BoxPath& path);

// Track id -> JPEG bytes.
using ThumbnailSet = std::map<int, std::string>;

struct Thumbnails {
    ThumbnailSet source;  // taken before hiding
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

// What the render is asked to picture for the page, and the track each
// request stands for.
struct ThumbnailShots {
    FrameShots shots;
    std::vector<int> tracks;  // tracks[i]: the track of shots.requests[i]

    // The render's pictures by track; tracks it took nothing of are left out.
    Thumbnails pictures() const;
};

// Requests for `wanted` in a W x H frame (the size the render encodes),
// each the mosaic rectangle of its box, made into JPEGs with `colors`.
ThumbnailShots thumbnail_shots(std::vector<ThumbRequest> wanted, int W, int H,
                               const YuvColors& colors);

}  // namespace qlcore
