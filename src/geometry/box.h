// Face boxes: left, top, width, height in full-size frame pixels, and the
// plan of boxes to pixelate. The vocabulary the passes and the mosaic share.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace qlcore {

// Tracks hold boxes as doubles.
struct Box {
    double x = 0.0, y = 0.0, w = 0.0, h = 0.0;
    bool operator==(const Box&) const = default;
};

// Box paths and the MosaicPlan hold single-precision boxes.
struct BoxF {
    float x = 0.0f, y = 0.0f, w = 0.0f, h = 0.0f;
    bool operator==(const BoxF&) const = default;
};

inline Box to_box(const BoxF& b) {
    return {b.x, b.y, b.w, b.h};
}

// Frame index -> boxes to pixelate in that frame, in order. A frame with
// nothing to pixelate has no entry.
using MosaicPlan = std::map<int64_t, std::vector<BoxF>>;

}  // namespace qlcore
