#include "app/settings.h"

#include <stdexcept>

#include "app/job.h"
#include "media/console.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

std::vector<RunSetting> _table() {
    std::vector<RunSetting> t;
    RunSetting codec;
    codec.name = "codec";
    codec.help = "video codec of the outputs";
    codec.choices = {"prores", "hevc", "h264"};
    codec.default_text = "prores";
    codec.apply = [](RunPlan& p, const std::string& v) { p.codec = v; };
    codec.cli_field = &CliArgs::codec;
    t.push_back(codec);

    RunSetting speed;
    speed.name = "speed";
    speed.choices = {"default", "fast", "thorough"};
    speed.default_text = "default";
    speed.apply = [](RunPlan& p, const std::string& v) {
        p.fast = v == "fast";
        p.thorough = v == "thorough";
    };
    speed.trim_line = true;
    t.push_back(speed);

    RunSetting style;
    style.name = "style";
    style.help = "how faces are hidden";
    style.choices = hide_style_names();
    style.changes_output = true;
    style.default_text = hide_style_name(HideStyle::mosaic);
    style.apply = [](RunPlan& p, const std::string& v) {
        p.style = parse_hide_style(v).value_or(HideStyle::mosaic);
    };
    style.cli_field = &CliArgs::style;
    t.push_back(style);

    RunSetting review;
    review.name = "review_page";
    review.choices = {"yes", "no"};
    review.default_text = "yes";
    review.apply = [](RunPlan& p, const std::string& v) { p.review_page = v != "no"; };
    t.push_back(review);

    RunSetting threshold;
    threshold.name = "threshold";
    threshold.help = "similarity at which a face counts as a kept person";
    // Similarities lie in -1..1; these are the values a real choice lies in.
    threshold.low = 0.2;
    threshold.high = 0.95;
    threshold.range_note =
        "below 0.2 nearly any face counts as a kept person, above 0.95 nobody does";
    threshold.changes_output = true;
    threshold.default_text = shortest(DEFAULT_KEEP_THRESHOLD);
    threshold.apply = [](RunPlan& p, const std::string& v) {
        p.tuning.keep_threshold = parse_double(v).value_or(DEFAULT_KEEP_THRESHOLD);
    };
    threshold.cli_field = &CliArgs::threshold;
    t.push_back(threshold);
    return t;
}

}  // namespace

const std::vector<RunSetting>& run_settings() {
    static const std::vector<RunSetting> table = _table();
    return table;
}

const RunSetting& run_setting(std::string_view name) {
    for (const RunSetting& s : run_settings())
        if (s.name == name) return s;
    throw std::logic_error("no run setting " + std::string(name));
}

void apply_setting(RunPlan& plan, const RunSetting& s, const std::string& text,
                   const std::string& where) {
    const std::string v = trim(text);
    if (s.choices.empty()) {
        const auto number = parse_double(v);
        if (!number) return;
        if (*number < s.low || *number > s.high)
            log("  \u26a0 " + s.name + " " + v + " " + where + " is outside " + shortest(s.low) +
                " to " + shortest(s.high) + " (" + s.range_note + "): using it as given");
        s.apply(plan, v);
        return;
    }
    for (const std::string& c : s.choices)
        if (c == v) return s.apply(plan, v);
    log("  \u26a0 unknown " + s.name + " '" + v + "' " + where + ": using " + s.default_text);
    s.apply(plan, s.default_text);
}

}  // namespace qlcore
