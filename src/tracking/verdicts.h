// Judging tracks: false alarms, keep or mosaic, review flags.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tracking/tracker.h"

namespace qlcore {

// The verdict of one live track; fields in report order.
struct Decision {
    bool keep = false;
    std::optional<std::string> person;
    std::optional<double> median;  // rounded to 3 decimals
    std::optional<std::string> review;  // "kept-borderline" / "mosaic-borderline"
    int n_samples = 0;
};

// keep_threshold is the run's KEEP_THRESHOLD (a job may replace it).
Decision decide(const Track& track, const std::vector<std::string>& names, double keep_threshold);

bool is_flash(const Track& track);
bool is_lookalike(const Track& track, double long_side);

// "flash", "lookalike", or nothing for a live track.
std::optional<std::string> ignored(const Track& track, double long_side);

}  // namespace qlcore
