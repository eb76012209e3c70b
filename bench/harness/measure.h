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

}  // namespace bench
