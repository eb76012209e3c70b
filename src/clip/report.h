// The JSON report of one clip, with its markers and the MosaicPlan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clip/marks.h"
#include "geometry/box.h"
#include "mosaic/styles.h"
#include "platform/json_text.h"

namespace qlcore {

// Raised whenever the same clip and people would give a different result, so
// earlier reports no longer count as done.
inline constexpr int ENGINE_VERSION = 5;

// The report's "tracks" entry, and the marker of a flagged track spanning
// at least six frames.
json track_entry(const JudgedTrack& t);
std::optional<json> marker_entry(const JudgedTrack& t);

// The marker of a non-face tracked long enough to be a face left visible:
// at least 8 detection frames and a path of at least six frames.
std::optional<json> left_visible_marker(const IgnoredTrack& t,
                                        const std::vector<IgnoredTrack>& ignored);

// What the live tracks add up to: the MosaicPlan of the mosaicked ones,
// the report's track and marker entries, the counts.
struct Assembly {
    MosaicPlan plan;
    json tracks = json::array();
    json markers = json::array();
    int64_t kept = 0;
    int64_t mosaicked = 0;
};
Assembly assemble(const std::vector<JudgedTrack>& live);

// The same, with the tracks the user hid among the live ones in track order,
// and a marker for every non-face left visible that looks like a face, after
// the others in track order.
Assembly assemble(std::vector<JudgedTrack> live, std::vector<JudgedTrack> hidden,
                  const std::vector<IgnoredTrack>& ignored);

std::string summary_line(int64_t kept, int64_t mosaicked, int64_t n_flash, int64_t n_look);

json build_report(const std::string& src, const std::string& out, int64_t n_frames,
                  const std::vector<std::string>& names, const json& overrides,
                  const Assembly& assembly, HideStyle style = HideStyle::mosaic,
                  bool thorough = false);

// The report as the program writes it: one-space indentation, pure ASCII.
std::string report_text(const json& report);

}  // namespace qlcore
