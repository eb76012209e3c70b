#include "app/job.h"

#include "app/settings.h"

#include "media/console.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace qlcore {

std::vector<std::string> split_lines(const std::string& text) {
    std::string_view t(text);
    if (t.substr(0, 3) == "\xEF\xBB\xBF") t.remove_prefix(3);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '\n' && t[i] != '\r') continue;
        lines.emplace_back(t.substr(start, i - start));
        if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < t.size()) lines.emplace_back(t.substr(start));
    return lines;
}

std::vector<std::string> trimmed_lines(const std::string& text) {
    std::vector<std::string> out;
    for (const auto& line : split_lines(text)) {
        std::string t = trim(line);
        if (!t.empty()) out.push_back(t);
    }
    return out;
}

std::string read_job_text(const fs::path& file) {
    return text_as_utf8(read_file(file));
}

void drop_unreadable_names(std::vector<std::string>& keep, const fs::path& people_dir) {
    constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";
    std::vector<std::string> usable;
    for (std::string& name : keep) {
        std::error_code ec;
        if (name.find(REPLACEMENT) != std::string::npos &&
            !fs::is_directory(people_dir / u8path(name), ec)) {
            log("  \u26a0 cannot read the name '" + name +
                "' in keep.txt (save the file as UTF-8) \u2014 they will be mosaicked too.");
            continue;
        }
        usable.push_back(std::move(name));
    }
    keep = std::move(usable);
}

void apply_option_line(RunPlan& plan, const std::string& line) {
    for (const RunSetting& s : run_settings()) {
        const std::string l = s.trim_line ? trim(line) : line;
        const std::string key = s.name + "=";
        if (l.rfind(key, 0) == 0)
            return apply_setting(plan, s, l.substr(key.size()), "in options.txt");
    }
}

RunPlan plan_run(const CliArgs& args) {
    RunPlan plan;
    plan.clips = args.files;
    plan.keep = args.keep;
    plan.out_dir = args.out_dir;
    // The command line's values go through the same table as options.txt.
    for (const RunSetting& s : run_settings())
        if (s.cli_field && !(args.*s.cli_field).empty())
            apply_setting(plan, s, args.*s.cli_field, "on the command line");
    plan.fast = args.fast;
    plan.thorough = args.thorough;
    plan.review_page = args.review_page;
    if (args.job) {
        fs::path dir = u8path(*args.job);
        plan.job_dir = dir;
        plan.clips = trimmed_lines(read_job_text(dir / "clips.txt"));
        plan.keep.clear();
        std::error_code ec;
        if (fs::exists(dir / "keep.txt", ec))
            plan.keep = trimmed_lines(read_job_text(dir / "keep.txt"));
        if (fs::exists(dir / "options.txt", ec))
            for (const auto& line : split_lines(read_job_text(dir / "options.txt")))
                apply_option_line(plan, line);
    }
    if (plan.fast) {
        plan.tuning.det_max_side = 1600;
        plan.tuning.det_every = 2;
    }
    plan.tuning.thorough = plan.thorough;
    return plan;
}

}  // namespace qlcore
