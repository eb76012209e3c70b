#include "app/settings.h"

#include "app/job.h"
#include "media/console.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

std::vector<RunSetting> _table() {
    return {
        {.name = "codec",
         .help = "video codec of the outputs",
         .choices = {"prores", "hevc", "h264"},
         .default_text = "prores",
         .apply = [](RunPlan& p, const std::string& v) { p.codec = v; },
         .cli_field = &CliArgs::codec},
        // The command line has --fast and --thorough for it.
        {.name = "speed",
         .choices = {"default", "fast", "thorough"},
         .default_text = "default",
         .apply =
             [](RunPlan& p, const std::string& v) {
                 p.fast = v == "fast";
                 p.thorough = v == "thorough";
             },
         .trim_line = true},
        {.name = "style",
         .help = "how faces are hidden",
         .choices = hide_style_names(),
         .changes_output = true,
         .default_text = hide_style_name(HideStyle::mosaic),
         .apply =
             [](RunPlan& p, const std::string& v) {
                 p.style = parse_hide_style(v).value_or(HideStyle::mosaic);
             },
         .cli_field = &CliArgs::style},
        // The command line has --no-review-page for it.
        {.name = "review_page",
         .choices = {"yes", "no"},
         .default_text = "yes",
         .apply = [](RunPlan& p, const std::string& v) { p.review_page = v != "no"; }},
        // Similarities lie in -1..1; a real choice lies well inside.
        {.name = "threshold",
         .help = "similarity at which a face counts as a kept person",
         .low = 0.2,
         .high = 0.95,
         .range_note = "below 0.2 nearly any face counts as a kept person, above 0.95 nobody does",
         .changes_output = true,
         .default_text = shortest(DEFAULT_KEEP_THRESHOLD),
         .apply =
             [](RunPlan& p, const std::string& v) {
                 p.tuning.keep_threshold = parse_double(v).value_or(DEFAULT_KEEP_THRESHOLD);
             },
         .cli_field = &CliArgs::threshold},
    };
}

}  // namespace

const std::vector<RunSetting>& run_settings() {
    static const std::vector<RunSetting> table = _table();
    return table;
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
