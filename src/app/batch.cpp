#include <filesystem>
#include <optional>

#include "app/batch.h"
#include "app/clip_task.h"
#include "app/folders.h"
#include "app/job.h"
#include "app/startup.h"
#include "clip/clip_processor.h"
#include "faces/models.h"
#include "faces/people.h"
#include "media/console.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/step_timer.h"

namespace qlcore {

int cmd_process(const CliArgs& args) {
    keep_awake();
    RunPlan plan = plan_run(args);
    if (plan.job_dir) {
        std::error_code ec;
        const fs::path stop = *plan.job_dir / STOP_FILE;
        // One left by an earlier, stopped run of this job is no request to
        // this one; a task of a farm takes it as one for the whole job.
        if (!args.clip) fs::remove(stop, ec);
        watch_stop_file(stop);
    }
    if (plan.clips.empty()) {
        log("No clips given.");
        return 1;
    }
    if (plan.fast)
        log("Fast mode: quicker, but small faces in the background are more likely to be "
            "missed.");
    if (plan.thorough) log("Thorough mode: slower, but finds more small, dim and turned faces.");

    const Folders& dirs = folders();
    std::optional<StepTimer> load_timer(std::in_place, "models");
    Models models(dirs.det_model, dirs.rec_model);
    load_timer.reset();
    drop_unreadable_names(plan.keep, dirs.people_dir);
    Gallery gallery =
        timed("gallery", [&] { return build_gallery(models, dirs.people_dir, plan.keep); });
    if (args.clip) return process_clip_task(plan, models, gallery, *args.clip, dirs.home_dir);

    std::vector<std::string> lines;
    std::vector<std::string> failures;
    double t0 = now_seconds();
    const size_t n = plan.clips.size();
    for (size_t i = 0; i < n; ++i) {
        // A Ctrl-C that came between two blocking calls must still stop the
        // run before the next clip, and before done.flag below.
        check_interrupted();
        auto [clip, folder] = split_clip_entry(plan.clips[i]);
        log("\n[" + std::to_string(i + 1) + "/" + std::to_string(n) + "]");
        const bool done =
            run_entry(plan, models, gallery, clip, folder, dirs.home_dir, [&](const json& report) {
                std::vector<std::string> all = lines;
                for (auto& l : result_lines(report))
                    all.push_back(std::move(l));
                // Atomic, so the editor's script never reads half a file; the
                // lines count only once written, so a failed clip never has any.
                if (plan.job_dir)
                    write_text_file_atomic(*plan.job_dir / "results.tsv", results_text(all));
                lines = std::move(all);
            });
        if (!done) failures.push_back(clip);
    }

    check_interrupted();
    report_peak_memory();
    log("\nFinished " + std::to_string(n - failures.size()) + "/" + std::to_string(n) +
        " clip(s) in " + minutes_text(now_seconds() - t0) + " min.");
    if (!failures.empty()) log(failed_line(failures));
    if (plan.job_dir) write_text_file_atomic(*plan.job_dir / "done.flag", local_time_text());
    return failures.empty() ? 0 : 2;
}

}  // namespace qlcore
