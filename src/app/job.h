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

// A file of this name appearing in the job folder stops the run as a
// Ctrl-C does: the script that started it asks so where it could only end it
// outright (on Windows).
inline constexpr const char* STOP_FILE = "stop";

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

// A job file's text as UTF-8: written as UTF-8 (with or without a
// byte-order mark) or in the system's code page, as older scripts and
// editors save it. Throws std::runtime_error when it cannot be read.
std::string read_job_text(const std::filesystem::path& file);

// Leaves out, with a line each, the keep names that a job file could not
// spell (a character its code page lacked became U+FFFD) and that name no
// person folder: such a person is mosaicked, and the run goes on.
void drop_unreadable_names(std::vector<std::string>& keep, const std::filesystem::path& people_dir);

// Applies one "options.txt" line through the run's settings table (see
// app/settings.h); lines naming no setting are ignored.
void apply_option_line(RunPlan& plan, const std::string& line);

// Command line first, then the job folder's files replace what they hold.
// Throws std::runtime_error when "clips.txt" cannot be read. The mode and
// the threshold are folded into `tuning`.
RunPlan plan_run(const CliArgs& args);

}  // namespace qlcore
