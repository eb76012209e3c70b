#include "platform/json_text.h"

#include <stdexcept>

#include "platform/numbers.h"

namespace qlcore {
namespace {

constexpr auto kReplace = json::error_handler_t::replace;

// How one layout separates and indents; indent < 0 keeps everything on one line.
struct JsonLayout {
    const char* item_sep;
    const char* key_sep;
    int indent;
};

// nlohmann's own dump writes doubles with Grisu2, which is not always the
// shortest form; every double goes through shortest() instead.
void _write(const json& j, const JsonLayout& l, int depth, std::string& out) {
    const bool open = (j.is_object() || j.is_array()) && !j.empty();
    if (!open) {
        out += j.is_number_float() ? shortest(j.get<double>()) : j.dump(-1, ' ', true, kReplace);
        return;
    }
    auto line = [&](int d) {
        if (l.indent >= 0) out += '\n' + std::string(static_cast<size_t>(l.indent * d), ' ');
    };
    out += j.is_object() ? '{' : '[';
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
        if (!first) out += l.item_sep;
        first = false;
        line(depth + 1);
        if (j.is_object()) {
            out += json(it.key()).dump(-1, ' ', true, kReplace);
            out += l.key_sep;
        }
        _write(it.value(), l, depth + 1, out);
    }
    line(depth);
    out += j.is_object() ? '}' : ']';
}

std::string _dump(const json& j, const JsonLayout& l) {
    std::string out;
    _write(j, l, 0, out);
    return out;
}

constexpr int kMaxDepth = 200;

}  // namespace

std::string dump_inline(const json& j) {
    return _dump(j, {", ", ": ", -1});
}

std::string dump_indented(const json& j) {
    return _dump(j, {",", ": ", 1});
}

std::string dump_compact(const json& j) {
    return _dump(j, {",", ":", -1});
}

json parse_json(const std::string& text) {
    bool too_deep = false;
    json::parser_callback_t cb = [&](int d, json::parse_event_t, json&) {
        if (d > kMaxDepth) too_deep = true;
        return !too_deep;
    };
    json j = json::parse(text, cb);
    if (too_deep) throw std::runtime_error("JSON nested too deeply");
    return j;
}

}  // namespace qlcore
