#include "platform/json_text.h"

#include <stdexcept>

namespace qlcore {
namespace {

constexpr auto kReplace = json::error_handler_t::replace;

void _inline(const json& j, std::string& out) {
    if (j.is_object()) {
        out += '{';
        bool first = true;
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (!first) out += ", ";
            first = false;
            out += json(it.key()).dump(-1, ' ', true, kReplace);
            out += ": ";
            _inline(it.value(), out);
        }
        out += '}';
    } else if (j.is_array()) {
        out += '[';
        bool first = true;
        for (const auto& v : j) {
            if (!first) out += ", ";
            first = false;
            _inline(v, out);
        }
        out += ']';
    } else {
        out += j.dump(-1, ' ', true, kReplace);
    }
}

constexpr int kMaxDepth = 200;

}  // namespace

std::string dump_inline(const json& j) {
    std::string out;
    _inline(j, out);
    return out;
}

std::string dump_indented(const json& j) {
    return j.dump(1, ' ', true, kReplace);
}

std::string dump_compact(const json& j) {
    return j.dump(-1, ' ', true, kReplace);
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
