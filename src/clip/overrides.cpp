#include "clip/overrides.h"

#include <cmath>
#include <limits>
#include <set>

#include "clip/output_paths.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

// A marked frame as a whole number: numbers truncated toward zero, texts
// must spell one. Nothing for anything else, or beyond 64 bits.
std::optional<int64_t> _whole_number(const json& v) {
    if (v.is_number_unsigned()) {
        if (v.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<int64_t>(v.get<uint64_t>());
    }
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_float()) {
        double t = std::trunc(v.get<double>());
        // 2^63 is exact in a double; anything at or beyond it does not fit.
        if (!std::isfinite(t) || t < -9223372036854775808.0 || t >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<int64_t>(t);
    }
    if (v.is_string()) return parse_int(trim(v.get<std::string>()));
    return std::nullopt;
}

// The distinct frames of one key, ascending; nothing when the key is
// malformed. A missing key has no frames.
std::optional<std::vector<int64_t>> _frames_of(const json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end()) return std::vector<int64_t>{};
    if (!it->is_array()) return std::nullopt;
    std::set<int64_t> frames;
    for (const auto& v : *it) {
        auto n = _whole_number(v);
        if (!n) return std::nullopt;
        frames.insert(*n);
    }
    return std::vector<int64_t>(frames.begin(), frames.end());
}

}  // namespace

json parse_overrides(const std::string& text) {
    try {
        std::optional<json> parsed = parse_json_guarded(text);
        if (!parsed || !parsed->is_object()) return json::object();
        const json& j = *parsed;
        // A malformed "keep" spoils every mark, as it always did; a malformed
        // "hide" counts as no hide marks only.
        const auto keep = _frames_of(j, "keep");
        if (!keep) return json::object();
        const auto hide = _frames_of(j, "hide");
        json out = json::object();
        if (!keep->empty()) out["keep"] = *keep;
        // Only when given, so the marks of users who never hide stay as they were.
        if (hide && !hide->empty()) out["hide"] = *hide;
        return out;
    } catch (const std::exception&) {
        return json::object();
    }
}

json load_overrides(const fs::path& out) {
    std::string text;
    try {
        text = read_file(overrides_path(out));
    } catch (const std::exception&) {
        return json::object();
    }
    return parse_overrides(text);
}

}  // namespace qlcore
