// JSON text in the three layouts the program writes. Every layout is pure
// ASCII (other characters as lower-case \u escapes, surrogate pairs beyond
// the basic plane) and writes doubles in the shortest form that reads back.
#pragma once

#include <nlohmann/json.hpp>
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

}  // namespace qlcore
