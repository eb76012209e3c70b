// The values a job may replace. They travel as a value through the
// calls that read them, so a run (or a test) changes them without globals.
#pragma once

namespace qlcore {

inline constexpr double DEFAULT_KEEP_THRESHOLD = 0.363;
inline constexpr int DEFAULT_DET_MAX_SIDE = 1920;
inline constexpr int DEFAULT_DET_EVERY = 1;

struct Tuning {
    double keep_threshold = DEFAULT_KEEP_THRESHOLD;  // KEEP_THRESHOLD
    int det_max_side = DEFAULT_DET_MAX_SIDE;         // DET_MAX_SIDE
    int det_every = DEFAULT_DET_EVERY;               // DET_EVERY
    // More views, weak candidates tracked apart, no long track dropped.
    bool thorough = false;
};

}  // namespace qlcore
