// The user's marks beside the mosaicked video: frames whose face stays visible.
#pragma once

#include <filesystem>
#include <string>

#include "platform/json_text.h"

namespace qlcore {

// The user's marks: {} or {"keep": [distinct frames, ascending]}. Anything
// unreadable or malformed counts as no marks.
json load_overrides(const std::filesystem::path& out);
json parse_overrides(const std::string& text);

}  // namespace qlcore
