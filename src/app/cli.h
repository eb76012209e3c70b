// The command line: one required subcommand and its options.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qlcore {

struct CliArgs;
using CommandFn = int (*)(const CliArgs&);

// The parsed arguments, one field per option.
struct CliArgs {
    std::string cmd;  // the subcommand's name
    CommandFn fn = nullptr;
    // process
    std::optional<std::string> job;
    std::vector<std::string> keep;
    std::optional<std::string> out_dir;
    std::string codec = "prores";
    bool fast = false;
    bool thorough = false;
    std::string style = "mosaic";  // --style: how faces are hidden
    std::string threshold;         // --threshold; empty when not given
    bool review_page = true;       // off with --no-review-page
    std::vector<std::string> files;
    std::optional<long long> clip;  // --clip: one clip of the job, 1-based
    // enroll
    std::string name;
    std::string from_video;
    double every = 1.5;
    long long max = 25;
};

// The outcome of parsing: arguments to run with, or a status to exit with
// (help printed: 0; a usage error: 2).
struct ParseOutcome {
    std::optional<CliArgs> args;
    int exit_status = 0;
};

ParseOutcome parse_command_line(int argc, const char* const* argv);

// The program's version text.
const char* version_text();

}  // namespace qlcore
