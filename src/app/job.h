// Reading a job folder and settling the run's settings.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli.h"
#include "geometry/tuning.h"
#include "mosaic/styles.h"

namespace qlcore {

// The run's settings once the command line and the job folder are read.
struct RunPlan {
    std::optional<std::filesystem::path> job_dir;
    std::vector<std::string> clips;  // "path" or "path\tout-folder" entries
    std::vector<std::string> keep;
    std::string codec = "prores";
    bool fast = false;
    bool thorough = false;
    HideStyle style = HideStyle::mosaic;
    bool review_page = true;
    std::optional<std::string> out_dir;
    Tuning tuning;  // threshold and fast or thorough mode applied
};

// Lines of a text file: any of CR LF, LF or CR ends a line; a UTF-8
// byte-order mark at the start is dropped.
std::vector<std::string> split_lines(const std::string& text);

// Lines trimmed, empty ones skipped.
std::vector<std::string> trimmed_lines(const std::string& text);

// Applies one "options.txt" line through the run's settings table (see
// app/settings.h); lines naming no setting are ignored.
void apply_option_line(RunPlan& plan, const std::string& line);

// Command line first, then the job folder's files replace what they hold.
// Throws std::runtime_error when "clips.txt" cannot be read. The mode and
// the threshold are folded into `tuning`.
RunPlan plan_run(const CliArgs& args);

}  // namespace qlcore
