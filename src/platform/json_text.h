// JSON text in the three layouts the program writes. Every layout is pure
// ASCII (other characters as lower-case \u escapes, surrogate pairs beyond
// the basic plane) and writes doubles in the shortest form that reads back.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace qlcore {

using json = nlohmann::ordered_json;

// One line, ", " between items and ": " after keys (embedding caches).
std::string dump_inline(const json& j);

// One space of indentation per level, each item on its own line (reports).
std::string dump_indented(const json& j);

// No spaces at all (analysis cache).
std::string dump_compact(const json& j);

// Parses text; throws json::parse_error. Nesting is limited so hostile
// input cannot exhaust the stack.
json parse_json(const std::string& text);

// For files that only speed things up or record choices: text that is not
// JSON, or a file that is missing or unreadable, gives nothing.
std::optional<json> parse_json_guarded(const std::string& text);
std::optional<json> read_json_file(const std::filesystem::path& path);

// Structural equality of JSON values: objects by their members whatever
// their order, arrays item by item, numbers by value (1920 == 1920.0).
bool same_json(const json& a, const json& b);

}  // namespace qlcore
