#include "clip/overrides.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

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

using BoxMark = std::pair<int64_t, std::array<double, 4>>;

// {"frame": N, "box": [x, y, w, h]} with a finite box of some area.
std::optional<BoxMark> _box_mark(const json& v) {
    if (!v.is_object()) return std::nullopt;
    auto f = v.find("frame");
    auto b = v.find("box");
    if (f == v.end() || b == v.end() || !b->is_array() || b->size() != 4) return std::nullopt;
    auto frame = _whole_number(*f);
    if (!frame) return std::nullopt;
    BoxMark m{*frame, {}};
    for (size_t i = 0; i < 4; ++i) {
        if (!(*b)[i].is_number()) return std::nullopt;
        m.second[i] = (*b)[i].get<double>();
        if (!std::isfinite(m.second[i])) return std::nullopt;
    }
    if (!(m.second[2] > 0.0) || !(m.second[3] > 0.0)) return std::nullopt;
    return m;
}

// An entry as the problem names it: short, so a huge one cannot flood the
// console.
std::string _entry_text(const json& v) {
    std::string s = dump_compact(v);
    return s.size() > 60 ? s.substr(0, 57) + "..." : s;
}

// The readable marks of one key, in their order; the first problem, if any,
// into `problem` (unless one was found before).
json _marks_of(const json& j, const char* key, std::string& problem) {
    auto note = [&](const std::string& p) {
        if (problem.empty()) problem = p;
    };
    json out = json::array();
    auto it = j.find(key);
    if (it == j.end()) return out;
    if (!it->is_array()) {
        note(std::string("\"") + key + "\" is not a list");
        return out;
    }
    std::set<int64_t> frames;
    std::set<BoxMark> boxes;
    for (const auto& v : *it) {
        if (auto n = _whole_number(v)) {
            frames.insert(*n);
        } else if (auto m = _box_mark(v)) {
            boxes.insert(*m);
        } else {
            note(std::string("\"") + key + "\" holds " + _entry_text(v) +
                 ", neither a frame number nor {\"frame\": N, \"box\": [x, y, w, h]}");
        }
    }
    for (int64_t f : frames)
        out.push_back(f);
    for (const auto& [frame, box] : boxes) {
        json m = json::object();
        m["frame"] = frame;
        m["box"] = json::array({box[0], box[1], box[2], box[3]});
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace

Overrides parse_overrides_text(const std::string& text) {
    Overrides o;
    try {
        std::optional<json> parsed = parse_json_guarded(text);
        if (!parsed) {
            o.problem = "it is not JSON";
            return o;
        }
        if (!parsed->is_object()) {
            o.problem = "it is not a JSON object";
            return o;
        }
        json keep = _marks_of(*parsed, "keep", o.problem);
        json hide = _marks_of(*parsed, "hide", o.problem);
        // A file with a fault may mean a face to keep that is not meant:
        // keep nothing from it, but hide what it clearly says to hide.
        if (!keep.empty() && o.problem.empty()) o.marks["keep"] = std::move(keep);
        if (!hide.empty()) o.marks["hide"] = std::move(hide);
    } catch (const std::exception& e) {
        o.marks = json::object();
        o.problem = "it cannot be read";
    }
    return o;
}

Overrides read_overrides(const fs::path& out) {
    const fs::path file = overrides_path(out);
    std::error_code ec;
    if (!fs::exists(file, ec)) return {};
    try {
        if (!fs::is_regular_file(file)) throw std::runtime_error("not a file");
        return parse_overrides_text(read_file(file));
    } catch (const std::exception&) {
        return {json::object(), "it cannot be read"};
    }
}

json load_overrides(const fs::path& out) {
    return read_overrides(out).marks;
}

json parse_overrides(const std::string& text) {
    return parse_overrides_text(text).marks;
}

std::string overrides_warning(const fs::path& file, const std::string& problem) {
    return "  \u26a0 the overrides file " + u8string(file) + " is malformed (" + problem +
           "): none of its \"keep\" marks apply, its readable \"hide\" marks do";
}

}  // namespace qlcore
