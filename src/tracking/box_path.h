// Per-frame mosaic boxes of one track: gaps filled, smoothed, padded.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/box.h"
#include "tracking/tracker.h"

namespace qlcore {

// Padding in frames before and after a track seen at least four times, and
// the half-width of the moving average over its boxes.
inline constexpr int PAD_START = 6;
inline constexpr int PAD_END = 10;
inline constexpr int SMOOTH = 2;

// Frame -> box over consecutive frames. Entries come in this order: the
// detection span ascending, then the lead-in ascending, then the lead-out
// ascending; the MosaicPlan is filled in this order.
struct BoxPath {
    std::vector<std::pair<int64_t, BoxF>> entries;
    int64_t start = 0;  // smallest frame
    int64_t end = -1;   // largest frame

    // The box at frame f, when the path covers it.
    std::optional<BoxF> at(int64_t f) const;
    bool operator==(const BoxPath&) const = default;
};

// n_frames <= 0 sets no limit on the lead-out.
BoxPath track_boxes(const Track& track, int64_t n_frames);

}  // namespace qlcore
