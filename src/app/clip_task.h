// One clip of a job on its own. A job manager runs one such task per clip,
// on many machines sharing the job folder, then one ordinary job run that
// finds every finished clip already done and gathers the results.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/cli.h"
#include "app/job.h"
#include "faces/people.h"
#include "platform/json_text.h"

namespace qlcore {

class Models;

// Why `--clip` cannot be used as given, or nothing. The job's clip count
// comes from its "clips.txt"; a job that cannot be read is left to the run
// itself to report.
std::optional<std::string> clip_option_error(const CliArgs& args);

// Where the task for clip `n` puts its result lines: "parts/<n>.tsv".
std::filesystem::path part_path(const std::filesystem::path& job_dir, long long n);

// Processes one clip of a job into its output folder (the entry's own, else
// the run's --out-dir, else the clip processor's default) and hands the
// report to `record`. A missing clip is said; an error from processing or
// from `record` is said as the clip's failure. A fatal stop or an interrupt
// passes through: it ends the whole run. False when the clip failed.
bool run_entry(const RunPlan& plan, Models& models, const Gallery& gallery, const std::string& clip,
               const std::string& folder, const std::filesystem::path& home_dir,
               const std::function<void(const json&)>& record);

// Processes entry `n` (1-based) of the job's clips and writes its result
// lines, as "results.tsv" would hold them, to its part file. Returns 0 when
// the clip is done, 2 when it is missing or failed (no part file then).
int process_clip_task(const RunPlan& plan, Models& models, const Gallery& gallery, long long n,
                      const std::filesystem::path& home_dir);

}  // namespace qlcore
