// Speed of the two passes over one clip, each beside the work that cannot be
// avoided, measured on the same clip in the same run.
#pragma once

#include <filesystem>

#include "platform/json_text.h"
#include "runs.h"

namespace qlcore {
class Models;
}

namespace bench {

// Reruns from the cache, each paired with a plain transcode.
constexpr int RERUN_PAIRS = 5;

// Search pass against decoding at search size plus the bare detector; render
// pass against a plain ffmpeg transcode with the same encoder entry; the
// rerun of `job` from its analysis cache (overrides changed) against that
// transcode. `end_to_end` is the clip's first full run of the program.
// Reruns of `rerun` from the analysis cache, each paired with a plain
// transcode of `clip` in alternating order; `output` is the job's video.
qlcore::json measure_reruns(const fs::path& clip, const fs::path& dir,
                            const std::vector<std::string>& rerun,
                            const std::vector<std::string>& env, const fs::path& output,
                            int pairs = RERUN_PAIRS);

qlcore::json measure_speed(const fs::path& clip, const fs::path& dir, qlcore::Models& models,
                           const Measured& end_to_end, const std::vector<std::string>& rerun,
                           const std::vector<std::string>& env, const fs::path& output);

}  // namespace bench
