#include <stdexcept>

#include "media/probe.h"
#include "media/rates.h"
#include "platform/json_text.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

// --- ffprobe's report -------------------------------------------------------

// A text field: missing or null is absent; any other type is malformed.
std::optional<std::string> _text_field(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) throw std::runtime_error(std::string("unexpected type of ") + key);
    return it->get<std::string>();
}

// An object field: missing or null counts as an empty object.
const json& _object_field(const json& obj, const char* key) {
    static const json empty = json::object();
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return empty;
    if (!it->is_object()) throw std::runtime_error(std::string("unexpected type of ") + key);
    return *it;
}

std::optional<std::string> _tag_timecode(const json& obj) {
    auto tc = _text_field(_object_field(obj, "tags"), "timecode");
    if (tc && tc->empty()) return std::nullopt;
    return tc;
}

int64_t _frame_count(const json& s) {
    auto it = s.find("nb_frames");
    if (it == s.end() || it->is_null()) return 0;
    std::optional<int64_t> n;
    if (it->is_string())
        n = parse_int(it->get<std::string>());  // "N/A" and friends give nothing
    else if (it->is_number_integer())
        n = it->get<int64_t>();
    else if (!it->is_number())
        throw std::runtime_error("unexpected type of nb_frames");
    return n && *n > 0 ? *n : 0;
}

bool _is_deep_pix_fmt(const std::string& pf) {
    for (const char* mark : {"p10", "p12", "p16", "10le", "12le", "10be"})
        if (pf.find(mark) != std::string::npos) return true;
    return false;
}

void _read_video_stream(const json& s, ClipInfo& info) {
    info.rate = snap_rate(_text_field(s, "avg_frame_rate"), _text_field(s, "r_frame_rate"));
    info.frames = _frame_count(s);
    if (_is_deep_pix_fmt(_text_field(s, "pix_fmt").value_or(""))) info.bits = 10;
    std::pair<const char*, std::optional<std::string>*> colours[] = {
        {"color_primaries", &info.color_primaries},
        {"color_transfer", &info.color_transfer},
        {"color_space", &info.color_space},
        {"color_range", &info.color_range}};
    for (auto& [key, slot] : colours) {
        auto v = _text_field(s, key);
        if (v && !v->empty() && *v != "unknown") *slot = v;
    }
    if (auto tc = _tag_timecode(s)) info.timecode = tc;
}

}  // namespace

void parse_probe_json(const std::string& text, ClipInfo& info) {
    json data = parse_json(text);
    if (!data.is_object()) throw std::runtime_error("ffprobe report is not an object");
    auto streams = data.find("streams");
    if (streams != data.end() && !streams->is_null()) {
        if (!streams->is_array()) throw std::runtime_error("unexpected type of streams");
        for (const json& s : *streams) {
            if (!s.is_object()) throw std::runtime_error("unexpected type of a stream");
            auto kind = _text_field(s, "codec_type");
            if (kind == "video" && !info.rate) {
                _read_video_stream(s, info);
            } else if (kind == "data" && (!info.timecode || info.timecode->empty())) {
                if (auto tc = _tag_timecode(s)) info.timecode = tc;
            }
        }
    }
    if (!info.timecode || info.timecode->empty())
        info.timecode = _tag_timecode(_object_field(data, "format"));
}

}  // namespace qlcore
