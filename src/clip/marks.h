// The live tracks of a clip, and the user's marks applied to them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/json_text.h"
#include "tracking/box_path.h"
#include "tracking/verdicts.h"

namespace qlcore {

// A live track with its box path and verdict.
struct JudgedTrack {
    int id = 0;
    BoxPath path;
    Decision decision;
    double best_score = 0.0;  // the best detection's; set for weak candidates only
};

// Each marked frame, ascending, keeps the widest not-yet-kept face with a
// box there (the larger id on equal width).
void apply_marks(std::vector<JudgedTrack>& live, const json& overrides);

// A frame whose "keep" mark would take the mosaicked `t` among `live`:
// `preferred` when that works, else the first frame of its path that does;
// nothing when some other mosaicked track is always wider.
std::optional<int64_t> keep_frame(const JudgedTrack& t, const std::vector<JudgedTrack>& live,
                                  int64_t preferred);

// A track the verdicts let go (a flash or a non-face), with its box path.
struct IgnoredTrack {
    int id = 0;
    BoxPath path;
    IgnoreReason reason = IgnoreReason::Lookalike;
    int64_t n_detections = 0;
    double best_score = 0.0;
    int64_t best_frame = 0;  // the detection frame of the best score
    int64_t n_samples = 0;
};

// Each "hide" frame, ascending, takes the ignored track whose box there is
// widest (the larger id on equal width) out of `ignored` and mosaics it:
// the result holds those tracks, "(hidden by you)", in the order taken.
std::vector<JudgedTrack> apply_hides(std::vector<IgnoredTrack>& ignored, const json& overrides);

// A frame whose "hide" mark would take `t` among `ignored`: its best
// detection frame when that works, else the first frame of its path that
// does; nothing when some other track is always wider.
std::optional<int64_t> hide_frame(const IgnoredTrack& t, const std::vector<IgnoredTrack>& ignored);

}  // namespace qlcore
