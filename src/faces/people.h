// The people library: person folders, embedding caches, the Gallery.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/json_text.h"
#include "platform/platform.h"

namespace qlcore {

class Models;

// Photo extensions, lower case with the dot.
inline constexpr std::array<const char*, 7> IMAGE_EXT = {".bmp", ".heic", ".heif", ".jpeg",
                                                         ".jpg", ".png",  ".webp"};

// True when `ext` (with the dot, any case) is a photo extension.
bool is_image_ext(const std::string& ext);

struct Gallery {
    std::vector<std::string> names;  // kept people with usable photos
    cv::Mat gallery;                 // M x 128 CV_32F, rows of unit length
    std::vector<int32_t> owners;     // M indices into names
};

// The ".embeddings.json" text as an object: {} when it is not one.
json parse_embedding_cache(const std::string& text);

// A cached embedding as a 1 x 128 CV_32F row when it is 128 numbers of unit
// length, else nothing (the photo is then examined again, not trusted).
std::optional<cv::Mat> cached_embedding(const json& value);

// BGR picture, or nothing (".heic"/".heif" always nothing).
std::optional<cv::Mat> read_image(const std::filesystem::path& path);

// Photo order: by name, compared in lower case only where the file system
// folds case too (Windows).
bool photo_before(const std::string& a, const std::string& b, const Platform& platform);

// Person folder names, sorted by code point.
std::vector<std::string> list_people(const std::filesystem::path& people_dir);

// n x 128 CV_32F usable embeddings in photo order; rewrites the cache.
cv::Mat load_person(Models& models, const std::filesystem::path& people_dir,
                    const std::string& name, bool verbose = true);

// Index of the largest face when both its sides reach 40 pixels, else -1.
int usable_face(const cv::Mat& faces);

// Why `name` cannot name a folder inside the people folder (empty, ".",
// "..", a hidden name or a path separator), or nothing when it can.
std::optional<std::string> person_name_error(const std::string& name);

Gallery build_gallery(Models& models, const std::filesystem::path& people_dir,
                      const std::vector<std::string>& keep);

}  // namespace qlcore
