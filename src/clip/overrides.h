// The user's marks beside the mosaicked video: frames whose face stays
// visible, and frames whose face the program let go but must be hidden.
#pragma once

#include <filesystem>
#include <string>

#include "platform/json_text.h"

namespace qlcore {

// The user's marks: {} or {"keep": [...], "hide": [...]}, each key present
// only with distinct frames, ascending. Anything unreadable counts as no
// marks; a malformed "keep" as no marks, a malformed "hide" as no "hide".
json load_overrides(const std::filesystem::path& out);
json parse_overrides(const std::string& text);

}  // namespace qlcore
