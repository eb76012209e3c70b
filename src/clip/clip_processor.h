// One clip from source to mosaicked video and report.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "faces/people.h"
#include "geometry/tuning.h"
#include "mosaic/styles.h"
#include "platform/json_text.h"

namespace qlcore {

class Models;

// Mosaics `src` unless an up-to-date result exists, and returns the report
// (the earlier one, as stored, when the clip is skipped). `gallery` holds
// the people to keep visible; `tuning` the run's threshold and detector
// settings; `home_dir` the fallback for outputs that cannot go beside the
// source; `style` how faces are hidden (a finished clip in another style is
// redone from its cached search); `review_page` whether the review page is
// written beside the output. Errors end the clip: the caller reports it as failed.
json process_clip(const std::string& src, Models& models, const Gallery& gallery,
                  const std::optional<std::filesystem::path>& out_dir, const std::string& codec,
                  const Tuning& tuning, const std::filesystem::path& home_dir,
                  HideStyle style = HideStyle::mosaic, bool review_page = true);

}  // namespace qlcore
