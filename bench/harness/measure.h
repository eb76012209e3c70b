// Privacy figures of one processed clip, measured against its ground truth.
#pragma once

#include <filesystem>
#include <vector>

#include "platform/json_text.h"
#include "scenes.h"

namespace qlcore {
class Models;
}

namespace bench {

// What one scene's run left behind.
struct Outputs {
    fs::path source;    // the generated clip
    fs::path video;     // the mosaicked video
    fs::path report;    // its JSON report
    fs::path analysis;  // its analysis cache
};

// Measures the output of `s` (see BENCHMARKS.md for the definitions):
// leaked face-frames, coverage, flicker, kept faces and over-mosaic, with
// every leaked face-frame listed and what the program knew of it.
qlcore::json measure_scene(const Scene& s, const std::vector<Sprite>& sprites, const Outputs& o,
                           qlcore::Models& models);

// What a run flagged, from its report alone: markers by colour, and the
// weak-evidence and failed-check mosaics with the frames they touch.
qlcore::json report_figures(const fs::path& report, int64_t n_frames);

// The same for footage without a ground truth, with each track's evidence.
qlcore::json measure_footage(const Outputs& o, double long_side);

}  // namespace bench
