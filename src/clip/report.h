// The JSON report of one clip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clip/judgement.h"
#include "geometry/tuning.h"
#include "mosaic/styles.h"
#include "platform/json_text.h"

namespace qlcore {

// Raised whenever the same clip and people would give a different result, so
// earlier reports no longer count as done.
inline constexpr int ENGINE_VERSION = 6;

// The report's "tracks" entry of a listed (not ignored) track.
json track_entry(const JudgedTrack& t);
json marker_json(const Marker& m);

// The listed tracks' entries in id order; their markers in id order, then
// those of the ignored tracks left visible.
json report_tracks(const Judgement& j);
json report_markers(const Judgement& j);

std::string summary_line(const Judgement& j);

// Thorough mode's cost on ordinary footage, for the user who chose it: the
// mosaics it made on weak evidence (purple and cyan markers) and the share of
// the clip's n_frames they touch, to the nearest per cent. Nothing when
// there are none.
std::optional<std::string> weak_evidence_line(const Judgement& j, int64_t n_frames);

// `style`, the threshold and a thorough mode are stored only when not the
// default, so default reports stay as they were.
json build_report(const std::string& src, const std::string& out, int64_t n_frames,
                  const std::vector<std::string>& names, const json& overrides,
                  const Judgement& judgement, HideStyle style = HideStyle::mosaic,
                  const Tuning& tuning = {});

// The report as the program writes it: one-space indentation, pure ASCII.
std::string report_text(const json& report);

}  // namespace qlcore
