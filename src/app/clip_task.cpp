#include "app/clip_task.h"

#include <stdexcept>
#include <system_error>

#include "app/batch.h"
#include "clip/clip_processor.h"
#include "media/console.h"
#include "platform/files.h"
#include "platform/interrupt.h"

namespace qlcore {

std::optional<std::string> clip_option_error(const CliArgs& args) {
    if (!args.clip) return std::nullopt;
    if (!args.job) return "argument --clip: not allowed without argument --job";
    size_t count = 0;
    try {
        count = trimmed_lines(read_job_text(u8path(*args.job) / "clips.txt")).size();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const long long n = *args.clip;
    if (n >= 1 && static_cast<size_t>(n) <= count) return std::nullopt;
    return "argument --clip: " + std::to_string(n) + " is not a clip of the job (it has " +
           std::to_string(count) + ")";
}

fs::path part_path(const fs::path& job_dir, long long n) {
    return job_dir / "parts" / (std::to_string(n) + ".tsv");
}

bool run_entry(const RunPlan& plan, Models& models, const Gallery& gallery, const std::string& clip,
               const std::string& folder, const fs::path& home_dir,
               const std::function<void(const json&)>& record) {
    // Only std::exception: a fatal stop or an interrupt ends the whole run.
    // A name the system cannot convert fails this clip alone.
    try {
        std::error_code ec;
        if (!fs::exists(u8path(clip), ec)) {
            log("  ⚠ missing file: " + clip);
            return false;
        }
        std::optional<fs::path> out_dir;
        if (!folder.empty())
            out_dir = u8path(folder);
        else if (plan.out_dir)
            out_dir = u8path(*plan.out_dir);
        record(process_clip(clip, models, gallery, out_dir, plan.codec, plan.tuning, home_dir,
                            plan.style, plan.review_page));
        return true;
    } catch (const std::exception& e) {
        log("\n  ✗ failed: " + std::string(e.what()));
        return false;
    }
}

int process_clip_task(const RunPlan& plan, Models& models, const Gallery& gallery, long long n,
                      const fs::path& home_dir) {
    const size_t count = plan.clips.size();
    // The command line checked the index; clips.txt may have changed since.
    if (!plan.job_dir || n < 1 || static_cast<size_t>(n) > count)
        throw std::runtime_error("clip " + std::to_string(n) + " is not in the job");
    check_interrupted();
    auto [clip, folder] = split_clip_entry(plan.clips[static_cast<size_t>(n) - 1]);
    log("\n[" + std::to_string(n) + "/" + std::to_string(count) + "]");
    const fs::path part = part_path(*plan.job_dir, n);
    const bool done = run_entry(plan, models, gallery, clip, folder, home_dir, [&](const json& r) {
        // Every task of the job may create the folder at once; an existing
        // one is fine and any real failure shows in the write.
        std::error_code ec;
        fs::create_directories(part.parent_path(), ec);
        write_text_file_atomic(part, results_text(result_lines(r)));
    });
    if (!done) {
        // A part left by an earlier task no longer speaks for this clip.
        std::error_code ec;
        fs::remove(part, ec);
        return 2;
    }
    check_interrupted();
    return 0;
}

}  // namespace qlcore
