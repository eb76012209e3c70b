#include "platform/json_text.h"

#include <stdexcept>

#include "platform/files.h"

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

bool _same_number(const json& a, const json& b) {
    if (a.is_number_integer() && b.is_number_integer()) {
        // Mixed signedness: compare without overflowing either side.
        if (a.is_number_unsigned() != b.is_number_unsigned()) {
            const json& s = a.is_number_unsigned() ? b : a;
            const json& u = a.is_number_unsigned() ? a : b;
            int64_t sv = s.get<int64_t>();
            return sv >= 0 && static_cast<uint64_t>(sv) == u.get<uint64_t>();
        }
        if (a.is_number_unsigned()) return a.get<uint64_t>() == b.get<uint64_t>();
        return a.get<int64_t>() == b.get<int64_t>();
    }
    return a.get<double>() == b.get<double>();
}

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

std::optional<json> parse_json_guarded(const std::string& text) {
    try {
        return parse_json(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<json> read_json_file(const std::filesystem::path& path) {
    std::string text;
    try {
        text = read_file(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return parse_json_guarded(text);
}

bool same_json(const json& a, const json& b) {
    if (a.is_number() && b.is_number()) return _same_number(a, b);
    if (a.type() != b.type()) return false;
    if (a.is_object()) {
        if (a.size() != b.size()) return false;
        for (auto it = a.begin(); it != a.end(); ++it) {
            auto other = b.find(it.key());
            if (other == b.end() || !same_json(it.value(), *other)) return false;
        }
        return true;
    }
    if (a.is_array()) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!same_json(a[i], b[i])) return false;
        return true;
    }
    return a == b;
}

}  // namespace qlcore
