// The batch runner: the `process` command, and the pieces of it that the
// job folder's readers depend on.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "platform/json_text.h"

namespace qlcore {

// Mosaics every clip of the command line or the job; the exit status.
int cmd_process(const CliArgs& args);

// A clip entry "path" or "path<TAB>output folder" split at its first tab.
std::pair<std::string, std::string> split_clip_entry(const std::string& entry);

// The clip's "CLIP" line and one "MARK" line per marker, without line
// breaks. Tabs and line feeds in a note become blanks so every marker stays
// one line of seven fields.
std::vector<std::string> result_lines(const json& report);

// The whole "results.tsv" text: every line ended by a line break.
std::string results_text(const std::vector<std::string>& lines);

// Wall-clock seconds as minutes with exactly one decimal ("0.3").
std::string minutes_text(double seconds);

// "Failed: " and the failed clips' file names joined by ", ".
std::string failed_line(const std::vector<std::string>& clips);

}  // namespace qlcore
