// The user's marks beside the mosaicked video: faces that stay visible, and
// faces the program mosaicks although it would have left them visible.
#pragma once

#include <filesystem>
#include <string>

#include "platform/json_text.h"

namespace qlcore {

// The user's marks: {} or {"keep": [...], "hide": [...]}, each key present
// only with marks. A mark is a frame number, or a frame with the box of the
// face it means: {"frame": 120, "box": [x, y, w, h]} (frame pixels, w and h
// above 0). Each list holds its distinct frame numbers ascending, then its
// distinct box marks ordered by frame and box.
struct Overrides {
    json marks = json::object();
    // The first thing wrong with a file that is there but malformed; empty
    // for a good or missing file. A malformed file keeps its readable "hide"
    // marks (hiding is the safe side) and loses every "keep" mark.
    std::string problem;
};

Overrides read_overrides(const std::filesystem::path& out);
Overrides parse_overrides_text(const std::string& text);

// The marks only.
json load_overrides(const std::filesystem::path& out);
json parse_overrides(const std::string& text);

// The console line for the malformed overrides file `file`.
std::string overrides_warning(const std::filesystem::path& file, const std::string& problem);

}  // namespace qlcore
