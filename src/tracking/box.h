// Face boxes (x, y, w, h): left, top, width, height in frame pixels.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace qlcore {

// Tracks hold boxes as doubles.
using Box = std::array<double, 4>;

// Box paths and the MosaicPlan hold single-precision boxes.
using BoxF = std::array<float, 4>;

// Frame index -> boxes to pixelate in that frame, in order. A frame with
// nothing to pixelate has no entry.
using MosaicPlan = std::map<int64_t, std::vector<BoxF>>;

}  // namespace qlcore
