// Running qlcore and ffmpeg with their time and memory measured.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

struct Measured {
    int status = -1;
    double seconds = 0.0;
    // Peak resident memory of the program as wait4 reports it: that takes
    // in the children it waited for, so it is the largest process too.
    long self_kib = 0;
    long child_kib = 0;  // largest peak among the program and its own children
    // From the program's own log when it ran with QLCORE_TIMINGS=1: its
    // steps (logged_steps) and its peak without its children.
    std::map<std::string, double> steps;
    long own_kib = 0;
};

// Runs argv with `env` entries added ("NAME=value"), stdout and stderr into
// `log`, and measures it.
Measured run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const fs::path& log);

// A job folder for one clip: clips.txt, keep.txt (when `keep` is not empty),
// options.txt with the codec and, when keeping someone, threshold=0.9 (the
// stand-in recogniser matches only the enrolled picture itself that well).
void write_job(const fs::path& job, const fs::path& clip, const fs::path& out_dir,
               const std::string& keep, const std::string& codec);

double now();

// What the program timed in its log (QLCORE_TIMINGS=1): seconds per step,
// summed when a step ran more than once (an encoder that failed, then the
// next), and its own peak memory under "peak_kib" (0 when not reported).
std::map<std::string, double> logged_steps(const fs::path& log, long* peak_kib = nullptr);

double median(std::vector<double> v);

}  // namespace bench
