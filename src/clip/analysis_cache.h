// The face search result saved beside a clip's output and reused while the
// clip, the people searched for and the detector settings stay the same.
#pragma once

#include <cstdint>
#include <filesystem>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analyse.h"
#include "geometry/tuning.h"
#include "media/probe.h"
#include "platform/json_text.h"
#include "tracking/tracker.h"

namespace qlcore {

// Raised whenever the stored search would mean something else, so older
// files are searched again.
inline constexpr int ANALYSIS_VERSION = 5;

// Sum of the matrix's entries in single precision, rounded to 4 places;
// 0.0 for an empty matrix.
double gallery_digest(const cv::Mat& gallery);

// What the search depended on: the source file (size, whole-second mtime),
// the people and their embeddings, the detector settings of `tuning` and
// whether the search was thorough.
// Throws std::filesystem::filesystem_error when `src` cannot be examined.
json analysis_key(const std::filesystem::path& src, const std::vector<std::string>& names,
                  const cv::Mat& gallery, const Tuning& tuning);

// The cache file's object for a search result (values rounded as stored).
// n_read: the frames the search decoded; -1 for all n_frames. The weak
// candidates are stored when the key is a thorough search's; `clip`, the
// clip as probed for the search, when given.
json analysis_json(const json& key, const std::vector<Track>& tracks, int64_t n_frames,
                   int64_t n_read = -1, const std::vector<Track>& candidates = {},
                   const ProbedClip* clip = nullptr);

// Writes the cache file atomically. Never fails: a cache that cannot be
// written only means the next run searches again.
void save_analysis(const std::filesystem::path& path, const json& key, const SearchResult& found);
// With the clip as probed for the search, so a rerun need not probe it.
void save_analysis(const std::filesystem::path& path, const json& key, const SearchResult& found,
                   const ProbedClip& clip);
void save_analysis(const std::filesystem::path& path, const json& key,
                   const std::vector<Track>& tracks, int64_t n_frames, int64_t n_read = -1);

// A saved search and the clip it was made on. The key covers the source
// file, so while it matches the stored ClipInfo and frame size stand for a
// probe of the clip.
struct CachedAnalysis {
    SearchResult search;
    std::optional<ProbedClip> clip;  // absent in older or damaged files: probe
};

// The saved search when the file holds one made under `key`. A missing,
// unreadable, outdated or malformed file gives nothing: it only ever
// speeds things up, so a broken one means searching again.
std::optional<CachedAnalysis> load_analysis(const std::filesystem::path& path, const json& key);

}  // namespace qlcore
