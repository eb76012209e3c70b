#include "app/job.h"

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

void apply_option_line(RunPlan& plan, const std::string& line) {
    auto after_eq = [&] { return line.substr(line.find('=') + 1); };
    if (line.rfind("codec=", 0) == 0) {
        plan.codec = trim(after_eq());
    } else if (trim(line) == "speed=fast") {
        plan.fast = true;
        plan.thorough = false;
    } else if (trim(line) == "speed=thorough") {
        plan.thorough = true;
        plan.fast = false;
    } else if (line.rfind("style=", 0) == 0) {
        const std::string name = trim(after_eq());
        const auto s = parse_hide_style(name);
        plan.style = s.value_or(HideStyle::mosaic);
        if (!s) log("  \u26a0 unknown style '" + name + "' in options.txt: using mosaic");
    } else if (line.rfind("review_page=", 0) == 0) {
        plan.review_page = trim(after_eq()) != "no";
    } else if (line.rfind("threshold=", 0) == 0) {
        // Not a number: ignored without a message.
        if (auto v = parse_double(trim(after_eq()))) plan.tuning.keep_threshold = *v;
    }
}

RunPlan plan_run(const CliArgs& args) {
    RunPlan plan;
    plan.clips = args.files;
    plan.keep = args.keep;
    plan.codec = args.codec;
    plan.fast = args.fast;
    plan.thorough = args.thorough;
    plan.review_page = args.review_page;
    // The command line checked the name.
    plan.style = parse_hide_style(args.style).value_or(HideStyle::mosaic);
    plan.out_dir = args.out_dir;
    if (args.job) {
        fs::path dir = u8path(*args.job);
        plan.job_dir = dir;
        plan.clips = trimmed_lines(read_file(dir / "clips.txt"));
        plan.keep.clear();
        std::error_code ec;
        if (fs::exists(dir / "keep.txt", ec))
            plan.keep = trimmed_lines(read_file(dir / "keep.txt"));
        if (fs::exists(dir / "options.txt", ec))
            for (const auto& line : split_lines(read_file(dir / "options.txt")))
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
