#include "media/probe.h"

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>

#include "app/settings.h"
#include "media/ffmpeg_commands.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/json_text.h"
#include "platform/numbers.h"
#include "platform/subprocess.h"

namespace qlcore {
namespace {

// Relative distance under which a rate counts as a standard one.
constexpr double SNAP_TOLERANCE = 0.006;

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

// --- ffmpeg's banner ----------------------------------------------------------
//
// The banner is searched with hand-made matchers for the patterns named in
// each function's comment. Each behaves as that regular expression would
// (leftmost match, "." not crossing a line break), but runs in constant
// stack: std::regex recurses once per character and overflows on a long
// metadata line, which a clip's tags can produce.

bool _is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool _is_digit(char c) {
    return c >= '0' && c <= '9';
}

size_t _skip_spaces(const std::string& s, size_t i) {
    while (i < s.size() && _is_space(s[i]))
        ++i;
    return i;
}

// The longest run of characters accepted by `ok` from i; i moves past it.
template <class Pred>
std::string _take(const std::string& s, size_t& i, Pred ok) {
    size_t b = i;
    while (i < s.size() && ok(s[i]))
        ++i;
    return s.substr(b, i - b);
}

bool _at(const std::string& s, size_t i, const char* lit) {
    return s.compare(i, std::char_traits<char>::length(lit), lit) == 0;
}

size_t _line_end(const std::string& s, size_t i) {
    size_t e = s.find('\n', i);
    return e == std::string::npos ? s.size() : e;
}

// Calls try_at(p) for every `c` after each "Video:" on that stream line, in
// order, until it returns true.
template <class Fn>
bool _on_video_lines(const std::string& s, char c, Fn try_at) {
    for (size_t v = s.find("Video:"); v != std::string::npos; v = s.find("Video:", v + 1)) {
        size_t eol = _line_end(s, v);
        for (size_t p = s.find(c, v + 6); p < eol; p = s.find(c, p + 1))
            if (try_at(p)) return true;
    }
    return false;
}

// Video:.*?,\s*([0-9.]+)\s*fps
std::optional<std::string> _banner_fps(const std::string& s) {
    std::optional<std::string> fps;
    _on_video_lines(s, ',', [&](size_t p) {
        size_t i = _skip_spaces(s, p + 1);
        std::string num = _take(s, i, [](char c) { return _is_digit(c) || c == '.'; });
        if (num.empty() || !_at(s, _skip_spaces(s, i), "fps")) return false;
        fps = num;
        return true;
    });
    return fps;
}

// Duration:\s*(\d+):(\d+):([\d.]+), as seconds.
std::optional<double> _banner_seconds(const std::string& s) {
    for (size_t d = s.find("Duration:"); d != std::string::npos; d = s.find("Duration:", d + 1)) {
        size_t i = _skip_spaces(s, d + 9);
        std::string hh = _take(s, i, _is_digit);
        if (hh.empty() || !_at(s, i++, ":")) continue;
        std::string mm = _take(s, i, _is_digit);
        if (mm.empty() || !_at(s, i++, ":")) continue;
        std::string ss = _take(s, i, [](char c) { return _is_digit(c) || c == '.'; });
        if (ss.empty()) continue;
        auto h = parse_double(hh), m = parse_double(mm), sec = parse_double(ss);
        // A seconds field such as "1.2.3" matches the pattern but is no number.
        if (!h || !m || !sec) return std::nullopt;
        return *h * 3600 + *m * 60 + *sec;
    }
    return std::nullopt;
}

// timecode\s*:\s*([0-9:;]+)
std::optional<std::string> _banner_timecode(const std::string& s) {
    for (size_t t = s.find("timecode"); t != std::string::npos; t = s.find("timecode", t + 1)) {
        size_t i = _skip_spaces(s, t + 8);
        if (!_at(s, i, ":")) continue;
        i = _skip_spaces(s, i + 1);
        std::string tc = _take(s, i, [](char c) { return _is_digit(c) || c == ':' || c == ';'; });
        if (!tc.empty()) return tc;
    }
    return std::nullopt;
}

// Video:[^\n]*?(p010|10le|12le)
bool _banner_deep(const std::string& s) {
    for (size_t v = s.find("Video:"); v != std::string::npos; v = s.find("Video:", v + 1)) {
        std::string line = s.substr(v + 6, _line_end(s, v) - (v + 6));
        for (const char* mark : {"p010", "10le", "12le"})
            if (line.find(mark) != std::string::npos) return true;
    }
    return false;
}

struct BannerColours {
    std::string range, first, primaries, transfer;  // primaries empty: one name only
};

bool _is_tag_char(char c) {
    return (c >= 'a' && c <= 'z') || _is_digit(c) || c == '-';
}

// Video:[^\n]*?\((tv|pc),\s*([a-z0-9-]+)(?:/([a-z0-9-]+)/([a-z0-9-]+))?
std::optional<BannerColours> _banner_colours(const std::string& s) {
    std::optional<BannerColours> out;
    _on_video_lines(s, '(', [&](size_t p) {
        if (!(_at(s, p + 1, "tv,") || _at(s, p + 1, "pc,"))) return false;
        BannerColours c;
        c.range = s.substr(p + 1, 2);
        size_t i = _skip_spaces(s, p + 4);
        c.first = _take(s, i, _is_tag_char);
        if (c.first.empty()) return false;
        if (_at(s, i, "/")) {
            size_t j = i + 1;
            std::string pri = _take(s, j, _is_tag_char);
            if (!pri.empty() && _at(s, j, "/")) {
                ++j;
                std::string trc = _take(s, j, _is_tag_char);
                if (!trc.empty()) c.primaries = pri, c.transfer = trc;
            }
        }
        out = c;
        return true;
    });
    return out;
}

// The banner's single-name form "(tv, progressive)" puts the field order
// where a colour name would stand; such words (and "unknown", which the
// ffprobe path drops too) must not become colour tags, or every encoder
// would refuse its options.
bool _is_colour_name(const std::string& name) {
    for (const char* not_colour : {"progressive", "top", "bottom", "unknown"})
        if (name == not_colour) return false;
    return true;
}

void _set_colour(std::optional<std::string>& slot, const std::string& name) {
    if (_is_colour_name(name)) slot = name;
}

}  // namespace

double _rate_value(const std::optional<std::string>& r) {
    if (!r) return 0.0;
    const std::string& t = *r;
    double v = 0.0;
    size_t slash = t.find('/');
    if (slash != std::string::npos) {
        if (t.find('/', slash + 1) != std::string::npos) return 0.0;
        auto num = parse_double(t.substr(0, slash));
        auto den = parse_double(t.substr(slash + 1));
        if (!num || !den || *den == 0.0) return 0.0;
        v = *num / *den;
    } else {
        auto d = parse_double(t);
        if (!d) return 0.0;
        v = *d;
    }
    // "1/1e-320" overflows; no caller can use an infinite rate.
    return std::isfinite(v) ? v : 0.0;
}

std::optional<std::string> snap_rate(const std::optional<std::string>& avg,
                                     const std::optional<std::string>& raw) {
    const std::optional<std::string>* candidates[] = {&avg, &raw};
    for (const auto* cand : candidates) {
        double v = _rate_value(*cand);
        if (v <= 0) continue;
        const char* best = STANDARD_RATES[0];
        double best_dist = std::fabs(_rate_value(std::string(best)) - v);
        for (const char* r : STANDARD_RATES) {
            double d = std::fabs(_rate_value(std::string(r)) - v);
            if (d < best_dist) best = r, best_dist = d;  // strict: earlier wins ties
        }
        if (best_dist / v < SNAP_TOLERANCE) return std::string(best);
    }
    for (const auto* cand : candidates)
        if (_rate_value(*cand) > 0) return *cand;
    return std::nullopt;
}

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

void parse_banner(const std::string& err, ClipInfo& info) {
    if (auto fps = _banner_fps(err)) info.rate = snap_rate(fps, std::nullopt);
    if (info.rate && !info.rate->empty()) {
        if (auto secs = _banner_seconds(err)) {
            double n = std::trunc(*secs * _rate_value(info.rate));
            if (n >= 0 && n < 9e18) info.frames = static_cast<int64_t>(n);
        }
    }
    if (auto tc = _banner_timecode(err)) info.timecode = tc;
    if (_banner_deep(err)) info.bits = 10;
    if (auto c = _banner_colours(err)) {
        info.color_range = c->range;
        if (!c->primaries.empty()) {
            // The banner lists them as space/primaries/transfer.
            _set_colour(info.color_space, c->first);
            _set_colour(info.color_primaries, c->primaries);
            _set_colour(info.color_transfer, c->transfer);
        } else {
            _set_colour(info.color_space, c->first);
            _set_colour(info.color_primaries, c->first);
            _set_colour(info.color_transfer, c->first);
        }
    }
}

ClipInfo probe(const std::string& path) {
    ClipInfo info;
    if (auto fp = ffprobe_bin()) {
        try {
            RunResult r = run_capture(probe_command(*fp, path));
            if (r.status == 0) {
                parse_probe_json(r.out, info);
                return info;
            }
        } catch (const std::exception&) {
            // Any trouble with ffprobe: the banner below still works.
        }
    }
    RunResult r = run_capture(banner_command(ffmpeg_bin(), path));
    parse_banner(r.err, info);
    return info;
}

FrameSize frame_size(const std::string& path) {
    RunResult r = run_capture(first_frame_command(ffmpeg_bin(), path));
    cv::Mat img;
    if (!r.out.empty()) {
        cv::Mat bytes(1, static_cast<int>(r.out.size()), CV_8U, r.out.data());
        img = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
    }
    if (img.empty()) throw MediaError("could not decode the first frame");
    return {img.cols, img.rows};
}

}  // namespace qlcore
