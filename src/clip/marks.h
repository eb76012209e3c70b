// The user's marks in the overrides file applied to a clip's judged tracks.
//
// A mark is a frame number, or a frame with the box of the face it means.
// A frame number takes the widest face there that the mark may take (the
// larger id on equal width); a box takes the face whose box at that frame
// overlaps it most (at least MARK_OVERLAP). A mark is never moved to another
// face: one that finds no face, or finds one an earlier mark took, is not
// applied and comes back as a MarkProblem.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clip/judgement.h"
#include "platform/json_text.h"

namespace qlcore {

// Intersection over union a box mark needs with the face's box.
inline constexpr double MARK_OVERLAP = 0.3;

// "keep" marks, in their order: each keeps a mosaicked face (kept_by_you,
// "(marked by you)").
std::vector<MarkProblem> apply_marks(std::vector<JudgedTrack>& tracks, const json& overrides);

// "hide" marks, in their order: each mosaicks, for its whole path, a face
// left visible: ignored, or kept by recognition (hidden_by_you, "(hidden by
// you)"). A frame number prefers the ignored faces at its frame, as it
// always did, and takes a kept one only where none is.
std::vector<MarkProblem> apply_hides(std::vector<JudgedTrack>& tracks, const json& overrides);

// A box mark that would keep the mosaicked `t` among `tracks`: at
// `preferred` when that works, else at the first frame of its path that
// does; nothing when `t` is not mosaicked or no mark can name it alone.
std::optional<MarkLine> keep_mark(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks,
                                  int64_t preferred);

// The same for a "hide" mark and the ignored or kept `t`, preferring its
// best detection frame.
std::optional<MarkLine> hide_mark(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks);

// {"frame": 120, "box": [10.5, 20.0, 50.0, 50.0]}
std::string mark_text(const MarkLine& m);
// A mark of the overrides as the user reads it: its frame number, or its
// box form as above.
std::string mark_text(const json& mark);
// {"keep": [<mark_text>]}
std::string overrides_line_text(const char* key, const MarkLine& m);

}  // namespace qlcore
