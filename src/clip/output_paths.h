// Where a clip's files go: the mosaicked video and the files beside it.
#pragma once

#include <filesystem>
#include <optional>

namespace qlcore {

// Files beside the mosaicked video `out` (A001_mosaic.mov -> A001_mosaic.json ...).
std::filesystem::path report_path(const std::filesystem::path& out);
std::filesystem::path overrides_path(const std::filesystem::path& out);
std::filesystem::path analysis_path(const std::filesystem::path& out);

// The mosaicked video's path: in `out_dir` when given, else in "Quillet"
// beside the source when that folder can be made and written to, else in
// home_dir/"output". The chosen folder is created; a failure there throws.
std::filesystem::path output_path(const std::filesystem::path& src,
                                  const std::optional<std::filesystem::path>& out_dir,
                                  const std::filesystem::path& home_dir);

}  // namespace qlcore
