// The live tracks of a clip, and the user's marks applied to them.
#pragma once

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
};

// Each marked frame, ascending, keeps the widest not-yet-kept face with a
// box there (the larger id on equal width).
void apply_marks(std::vector<JudgedTrack>& live, const json& overrides);

}  // namespace qlcore
