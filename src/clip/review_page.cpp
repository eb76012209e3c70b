#include "clip/review_page.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "clip/review_page_template.h"  // generated from review_page.html
#include "media/probe.h"
#include "media/rates.h"
#include "platform/files.h"

namespace qlcore {
namespace {

// The template's blocks: one card, repeated; the ignored section, dropped
// when nothing was ignored.
constexpr const char* CARD_OPEN = "<!--card-->\n";
constexpr const char* CARD_CLOSE = "<!--/card-->\n";
constexpr const char* IGNORED_OPEN = "<!--ignored-->\n";
constexpr const char* IGNORED_CLOSE = "<!--/ignored-->\n";

// Cuts the block between `open` and `close` out of `text` and returns it.
std::string _cut_block(std::string& text, const std::string& open, const std::string& close) {
    size_t b = text.find(open);
    size_t e = b == std::string::npos ? b : text.find(close, b);
    if (e == std::string::npos) throw std::logic_error("review page template lacks " + open);
    std::string inner = text.substr(b + open.size(), e - b - open.size());
    text.erase(b, e + close.size() - b);
    text.insert(b, "{{" + open + "}}");
    return inner;
}

// Replaces every {{key}} by its value; a key the template names but the
// caller did not give is a template fault, caught by the tests.
std::string _fill(const std::string& tpl, const std::map<std::string, std::string>& values) {
    std::string out;
    out.reserve(tpl.size());
    size_t i = 0;
    while (true) {
        size_t b = tpl.find("{{", i);
        if (b == std::string::npos) break;
        size_t e = tpl.find("}}", b + 2);
        if (e == std::string::npos) break;
        auto it = values.find(tpl.substr(b + 2, e - b - 2));
        if (it == values.end())
            throw std::logic_error("review page template: no value for " +
                                   tpl.substr(b, e + 2 - b));
        out.append(tpl, i, b - i);
        out += it->second;
        i = e + 2;
    }
    out.append(tpl, i, std::string::npos);
    return out;
}

std::string _fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

const char* _kind(CardVerdict v) {
    switch (v) {
        case CardVerdict::kept:
            return "kept";
        case CardVerdict::mosaicked:
            return "mosaicked";
        case CardVerdict::marked_by_you:
            return "marked_by_you";
        case CardVerdict::hidden_by_you:
            return "hidden_by_you";
        case CardVerdict::ignored_flash:
            return "ignored_flash";
        case CardVerdict::ignored_nonface:
            return "ignored_nonface";
        case CardVerdict::ignored_weak:
            return "ignored_weak";
    }
    return "mosaicked";
}

std::string _verdict_text(const ReviewCard& c) {
    switch (c.verdict) {
        case CardVerdict::kept:
            return "kept visible as " + _html_escape(c.person);
        case CardVerdict::mosaicked:
            return "mosaicked";
        case CardVerdict::marked_by_you:
            return "kept visible, marked by you";
        case CardVerdict::hidden_by_you:
            return "mosaicked, hidden by you";
        case CardVerdict::ignored_flash:
            return "ignored as a one-frame false alarm";
        case CardVerdict::ignored_nonface:
            return "ignored as a non-face";
        case CardVerdict::ignored_weak:
            return "left visible: detected weakly on too few frames";
    }
    return "";
}

// The editor's marker colours as CSS; an unknown name gets grey.
std::string _css_color(const std::string& name) {
    static const std::map<std::string, std::string> colors = {
        {"Blue", "#2f6fdf"},     {"Cyan", "#27c6d6"},    {"Green", "#3aa53a"},
        {"Yellow", "#f2c500"},   {"Red", "#e0352b"},     {"Pink", "#ef6fb2"},
        {"Purple", "#8e44c8"},   {"Fuchsia", "#d63fd6"}, {"Rose", "#f08a9c"},
        {"Lavender", "#b39ddb"}, {"Sky", "#81c6f0"},     {"Mint", "#7ed6a6"},
        {"Lemon", "#f5ee7a"},    {"Sand", "#d8bf8a"},    {"Cocoa", "#8d6748"},
        {"Cream", "#f3ead0"}};
    auto it = colors.find(name);
    return it == colors.end() ? "#9e9e9e" : it->second;
}

std::string _img(const std::string& jpeg, const std::string& alt) {
    if (jpeg.empty()) return "<div class=\"nopic\">no picture</div>";
    return "<img alt=\"" + alt + "\" src=\"data:image/jpeg;base64," + _base64(jpeg) + "\">";
}

std::string _card_html(const std::string& tpl, const ReviewCard& c) {
    std::string tcs;
    if (!c.first_tc.empty() || !c.last_tc.empty())
        tcs = " · " + _html_escape(c.first_tc) + "–" + _html_escape(c.last_tc);
    std::string marker;
    if (c.marker)
        marker = "<div class=\"marker\"><span class=\"swatch\" style=\"background:" +
                 _css_color(c.marker->color) + "\"></span>marker " + _html_escape(c.marker->color) +
                 ": " + _html_escape(c.marker->name) + "</div>\n";
    if (c.failed_check && c.verdict == CardVerdict::mosaicked)
        marker +=
            "<div class=\"facts\">mosaicked for privacy, but every re-check said it is no "
            "face (best re-check " +
            _fixed(*c.failed_check, 3) + "): it may not be one</div>\n";
    std::string line = overrides_line(c);
    std::string overrides;
    if (!line.empty()) {
        const bool keep = c.verdict == CardVerdict::mosaicked;
        overrides =
            "<label class=\"choose\"><input type=\"checkbox\" class=\"choice\" data-key=\"" +
            std::string(keep ? "keep" : "hide") + "\" data-mark=\"" +
            _html_escape(c.override_mark) + "\"> " + (keep ? "keep it visible" : "hide it") +
            "</label>\n";
        const char* what = c.verdict == CardVerdict::kept ? "if this is not them, to hide it"
                           : is_ignored(c.verdict)        ? "to hide it"
                                                          : "to keep it visible";
        overrides += "<div class=\"hint\">" + std::string(what) +
                     ", add to the overrides file:</div><code>" + _html_escape(line) + "</code>\n";
    } else if (is_ignored(c.verdict) || c.verdict == CardVerdict::mosaicked ||
               c.verdict == CardVerdict::kept) {
        // Say why there is no line rather than leave the editor looking for one.
        overrides =
            "<div class=\"hint\">no line of its own picks it: in every frame another face "
            "overlaps it</div>\n";
    }
    const std::string id = std::to_string(c.id);
    return _fill(tpl, {{"kind", _kind(c.verdict)},
                       {"id", id},
                       {"source_img", _img(c.source_jpeg, "track " + id + " in the source")},
                       {"output_img", _img(c.output_jpeg, "track " + id + " in the output")},
                       {"picture_frame", std::to_string(c.picture_frame)},
                       {"verdict", _verdict_text(c)},
                       {"first", std::to_string(c.first)},
                       {"last", std::to_string(c.last)},
                       {"timecodes", tcs},
                       {"score", _fixed(c.best_score, 3)},
                       {"median", c.median ? _fixed(*c.median, 3) : "none"},
                       {"marker", marker},
                       {"overrides", overrides}});
}

std::string _counts(const ReviewHeader& h) {
    std::string s = "faces tracked: " + std::to_string(h.kept + h.mosaicked) +
                    " · left visible: " + std::to_string(h.kept) +
                    " · mosaicked: " + std::to_string(h.mosaicked);
    if (h.n_flash > 0) s += " · ignored " + std::to_string(h.n_flash) + " one-frame false alarm(s)";
    if (h.n_look > 0)
        s += " · ignored " + std::to_string(h.n_look) + " non-face(s) (hands, wheels…)";
    return s;
}

// Frames per second of a timecode: the rate rounded to a whole number.
int _timebase(const std::optional<std::string>& rate) {
    double r = rate_value(rate);
    if (!(r > 0.0) || r > 1000.0) return 0;
    return static_cast<int>(std::lround(r));
}

// JSON text safe inside a script element.
std::string _script_json(const std::string& json_text) {
    std::string out;
    for (char c : json_text) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out.empty() ? "{}" : out;
}

}  // namespace

bool is_ignored(CardVerdict v) {
    return v == CardVerdict::ignored_flash || v == CardVerdict::ignored_nonface ||
           v == CardVerdict::ignored_weak;
}

std::string overrides_line(const ReviewCard& card) {
    if (card.override_mark.empty()) return "";
    if (is_ignored(card.verdict) || card.verdict == CardVerdict::kept)
        return "{\"hide\": [" + card.override_mark + "]}";
    if (card.verdict == CardVerdict::mosaicked) return "{\"keep\": [" + card.override_mark + "]}";
    return "";
}

std::string review_page_html(const ReviewHeader& header, const std::vector<ReviewCard>& cards) {
    std::string page = REVIEW_PAGE_TEMPLATE;
    const std::string card_tpl = _cut_block(page, CARD_OPEN, CARD_CLOSE);
    std::string live, ignored;
    int64_t n_live = 0, n_ignored = 0;
    for (const auto& c : cards) {
        if (is_ignored(c.verdict)) {
            ignored += _card_html(card_tpl, c);
            ++n_ignored;
        } else {
            live += _card_html(card_tpl, c);
            ++n_live;
        }
    }
    std::string people;
    for (const auto& p : header.kept_people)
        people += (people.empty() ? "" : ", ") + _html_escape(p);
    if (people.empty()) people = "nobody";

    const std::string ignored_tpl = _cut_block(page, IGNORED_OPEN, IGNORED_CLOSE);
    const std::string out_name = u8string(u8path(header.output).filename());
    std::filesystem::path ov = u8path(header.output).replace_extension(".overrides.json");
    std::map<std::string, std::string> values = {
        {"title", _html_escape(out_name)},
        {"source", _html_escape(header.source)},
        {"output", _html_escape(header.output)},
        {"date", _html_escape(header.date)},
        {"people", people},
        {"mode", _html_escape(header.mode)},
        {"style", _html_escape(header.style)},
        {"counts", _html_escape(_counts(header))},
        {"overrides_file", _html_escape(u8string(ov.filename()))},
        {"output_folder", _html_escape(u8string(ov.parent_path()))},
        // Inside a script element: no "<" may end it early.
        {"in_force", _script_json(header.in_force)},
        {"n_live", std::to_string(n_live)},
        {"live_cards", live},
        {std::string(CARD_OPEN), ""},
        {std::string(IGNORED_OPEN),
         n_ignored == 0 ? ""
                        : _fill(ignored_tpl, {{"n_ignored", std::to_string(n_ignored)},
                                              {"ignored_cards", ignored}})},
    };
    return _fill(page, values);
}

std::filesystem::path review_page_path(const std::filesystem::path& out) {
    return fs::path(out).replace_extension(".review.html");
}

void write_review_page(const std::filesystem::path& out, const std::string& html) {
    write_file_atomic(review_page_path(out), html);
}

void remove_review_page(const std::filesystem::path& out) {
    std::error_code ec;
    std::filesystem::remove(review_page_path(out), ec);
}

// Counts frames at the nominal whole rate (30 for 30000/1001), as a
// non-drop timecode does, so 29.97 fps timecode drifts from the wall clock
// like the clip's own. A start written with ';' is drop-frame: at 30 and 60
// the labels a drop-frame timecode skips (the first two, or four, of every
// minute not divisible by ten) are skipped here too, so the text matches the
// editor's timeline; other rates have no drop-frame form and count non-drop.
std::string timecode_text(const std::optional<std::string>& start,
                          const std::optional<std::string>& rate, int64_t frame) {
    const int fps = _timebase(rate);
    if (!start || fps <= 0 || frame < 0) return "";
    int hh = 0, mm = 0, ss = 0, ff = 0;
    char sep = ':';
    char tail = 0;
    if (std::sscanf(start->c_str(), "%d:%d:%d%c%d%c", &hh, &mm, &ss, &sep, &ff, &tail) != 5)
        return "";
    if (sep != ':' && sep != ';' && sep != '.' && sep != ',') return "";
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59 || ff < 0 || ff >= fps)
        return "";
    const bool drop = (sep == ';' || sep == ',') && (fps == 30 || fps == 60);
    const int64_t d = drop ? fps / 15 : 0;  // labels dropped a minute: 2 at 30, 4 at 60
    const int64_t per_min = 60LL * fps - d;
    const int64_t per_10min = 600LL * fps - 9 * d;

    // Label -> frames since midnight -> label.
    const int64_t minutes = 60LL * hh + mm;
    int64_t n = (3600LL * hh + 60LL * mm + ss) * fps + ff - d * (minutes - minutes / 10);
    n = (n + frame) % (24 * 6 * per_10min);
    const int64_t tens = n / per_10min, rest = n % per_10min;
    n += 9 * d * tens + (rest > d ? d * ((rest - d) / per_min) : 0);
    const int64_t h = n / (3600LL * fps), m = n / (60LL * fps) % 60;
    const int64_t s = n / fps % 60, f = n % fps;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld%c%02lld", static_cast<long long>(h),
                  static_cast<long long>(m), static_cast<long long>(s), drop ? ';' : ':',
                  static_cast<long long>(f));
    return buf;
}

std::string _html_escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string _base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                     static_cast<uint8_t>(bytes[i + 1]) << 8 | static_cast<uint8_t>(bytes[i + 2]);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace qlcore
