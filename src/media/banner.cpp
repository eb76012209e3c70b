#include <cmath>
#include <cstdint>

#include "media/probe.h"
#include "media/rates.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

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

void parse_banner(const std::string& err, ClipInfo& info) {
    if (auto fps = _banner_fps(err)) info.rate = snap_rate(fps, std::nullopt);
    if (info.rate && !info.rate->empty()) {
        if (auto secs = _banner_seconds(err)) {
            double n = std::trunc(*secs * rate_value(info.rate));
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

}  // namespace qlcore
