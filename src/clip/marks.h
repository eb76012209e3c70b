// The user's marks in the overrides file applied to a clip's judged tracks.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "clip/judgement.h"
#include "platform/json_text.h"

namespace qlcore {

// Each "keep" frame, ascending, keeps the widest mosaicked face with a box
// there (the larger id on equal width): kept_by_you, "(marked by you)".
void apply_marks(std::vector<JudgedTrack>& tracks, const json& overrides);

// Each "hide" frame, ascending, mosaicks the widest ignored track with a box
// there (the larger id on equal width) for its whole path: hidden_by_you,
// "(hidden by you)".
void apply_hides(std::vector<JudgedTrack>& tracks, const json& overrides);

// A frame whose "keep" mark would take the mosaicked `t` among `tracks`:
// `preferred` when that works, else the first frame of its path that does;
// nothing when `t` is not mosaicked or another face is always wider.
std::optional<int64_t> keep_frame(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks,
                                  int64_t preferred);

// The same for a "hide" mark and the ignored `t`, preferring its best
// detection frame.
std::optional<int64_t> hide_frame(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks);

}  // namespace qlcore
