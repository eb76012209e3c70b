// Where a clip's files go, the user's marks, and the JSON report with its
// markers and the MosaicPlan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/json_text.h"
#include "tracking/box.h"
#include "tracking/box_path.h"
#include "tracking/verdicts.h"

namespace qlcore {

// Files beside the mosaicked video `out` (A001_mosaic.mov -> A001_mosaic.json ...).
std::filesystem::path report_path(const std::filesystem::path& out);
std::filesystem::path overrides_path(const std::filesystem::path& out);
std::filesystem::path analysis_path(const std::filesystem::path& out);

// The mosaicked video's path: in `out_dir` when given, else in "Quillet"
// beside the source when that folder can be made and written to, else in
// home_dir/"output". The chosen folder is created; a failure there throws.
std::filesystem::path output_path(const std::filesystem::path& src,
                                  const std::optional<std::filesystem::path>& out_dir,
                                  const std::filesystem::path& home_dir = folders().home_dir);

// The user's marks: {} or {"keep": [distinct frames, ascending]}. Anything
// unreadable or malformed counts as no marks.
json load_overrides(const std::filesystem::path& out);
json parse_overrides(const std::string& text);

// The earlier report when it still stands for this clip: video and report
// present, video not older than the source, same people, engine and marks,
// and the fields the batch runner reads intact. Never throws.
std::optional<json> earlier_report(const std::filesystem::path& src,
                                   const std::filesystem::path& done,
                                   const std::vector<std::string>& names, const json& overrides);

// A live track with its box path and verdict.
struct JudgedTrack {
    int id = 0;
    BoxPath path;
    Decision decision;
};

// Each marked frame, ascending, keeps the widest not-yet-kept face with a
// box there (the larger id on equal width).
void apply_marks(std::vector<JudgedTrack>& live, const json& overrides);

// The report's "tracks" entry, and the marker of a flagged track spanning
// at least six frames.
json track_entry(const JudgedTrack& t);
std::optional<json> marker_entry(const JudgedTrack& t);

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

std::string summary_line(int64_t kept, int64_t mosaicked, int64_t n_flash, int64_t n_look);

json build_report(const std::string& src, const std::string& out, int64_t n_frames,
                  const std::vector<std::string>& names, const json& overrides,
                  const Assembly& assembly);

// The report as the program writes it: one-space indentation, pure ASCII.
std::string report_text(const json& report);

}  // namespace qlcore
