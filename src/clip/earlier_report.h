// Whether a clip was already done by an earlier run.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "geometry/tuning.h"
#include "mosaic/styles.h"
#include "platform/json_text.h"

namespace qlcore {

// The earlier report when it still stands for this clip: video and report
// present, video not older than the source, same people, engine, marks,
// hiding style and keep threshold, a thorough one for a thorough run, and
// the fields the batch runner reads intact. Never throws.
std::optional<json> earlier_report(const std::filesystem::path& src,
                                   const std::filesystem::path& done,
                                   const std::vector<std::string>& names, const json& overrides,
                                   HideStyle style = HideStyle::mosaic, const Tuning& tuning = {});

}  // namespace qlcore
