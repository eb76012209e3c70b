#include "platform/json_text.h"

#include <stdexcept>

#include "platform/files.h"
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
