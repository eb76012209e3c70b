// Running qlcore and ffmpeg with their time and memory measured.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

struct Measured {
    int status = -1;
    double seconds = 0.0;
    long self_kib = 0;   // peak resident memory of the program itself
    long child_kib = 0;  // largest peak among the program and its own children
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

}  // namespace bench
