// Judging tracks: false alarms, keep or mosaic, review flags.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tracking/tracker.h"

namespace qlcore {

// Doubles are stored exactly as written (0.363, not 0.36).
inline constexpr double WEAK_SCORE = 0.6;
inline constexpr int WEAK_MIN_FRAMES = 5;
inline constexpr double FLASH_SCORE = 0.85;
inline constexpr double REVIEW_BAND = 0.07;
inline constexpr double LOOKALIKE_MIN_FRAC = 0.06;
inline constexpr int LOOKALIKE_SHORT = 3;
// A track detected on this many frames is rarely anything but a face: the
// thorough search never drops it as a non-face, the others flag it.
inline constexpr int LONG_TRACK = 8;
// Detections scoring this or more are certain faces; a re-check of this or
// more passes a track. The search rations its re-checks by the same two.
inline constexpr double VERIFY_SKIP = 0.89;
inline constexpr double VERIFY_PASS = 0.62;

// Why a verdict wants a second look: a face left visible on thin evidence,
// one mosaicked that looked a bit like a kept person, one mosaicked although
// the detector was unsure it is a face at all, one mosaicked although every
// re-check said it is none, or a kept track with a stretch that did not
// match the kept person.
enum class Review { KeptBorderline, MosaicBorderline, WeakEvidence, FailedChecks, KeptMixed };

// Why a track is no face worth a verdict.
enum class IgnoreReason { Flash, Lookalike };

// The verdict of one live track; fields in report order.
struct Decision {
    bool keep = false;
    std::optional<std::string> person;
    std::optional<double> median;  // rounded to 3 decimals
    std::optional<Review> review;
    int n_samples = 0;
    bool operator==(const Decision&) const = default;
};

// keep_threshold is the run's KEEP_THRESHOLD (a job may replace it).
Decision decide(const Track& track, const std::vector<std::string>& names, double keep_threshold);

bool is_flash(const Track& track);
bool is_lookalike(const Track& track, double long_side);

// Flash, look-alike, or nothing for a live track. keep_long: a track of
// LONG_TRACK detections or more is never a look-alike.
std::optional<IgnoreReason> ignored(const Track& track, double long_side, bool keep_long = false);

}  // namespace qlcore
