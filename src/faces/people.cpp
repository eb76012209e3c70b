#include "faces/people.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unordered_map>

#include "faces/models.h"
#include "media/console.h"
#include "media/opencv_io.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/json_text.h"
#include "platform/platform.h"

namespace qlcore {

namespace {

constexpr const char* CACHE_NAME = ".embeddings.json";
constexpr int PHOTO_MAX_SIDE = 1600;
constexpr float MIN_PHOTO_FACE = 40.f;
constexpr int EMBED_SIZE = 128;
constexpr size_t BAD_LISTED = 5;

std::string _lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool _is_photo(const std::string& name) {
    return !name.empty() && name[0] != '.' && is_image_ext(u8string(u8path(name).extension()));
}

// Photo order: by name, case-folded only where the file system is too.
std::vector<std::string> _photos(const fs::path& folder) {
    std::vector<std::string> names;
    for (const FolderEntry& e : folder_entries(folder))
        if (_is_photo(e.name)) names.push_back(e.name);
    const Platform platform = this_platform();
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return photo_before(a, b, platform);
    });
    return names;
}

// The old cache under a guard: anything unreadable counts as empty.
json _read_cache(const fs::path& file) {
    std::optional<json> j = read_json_file(file);
    return j && j->is_object() ? std::move(*j) : json::object();
}

json _vector_json(const cv::Mat& row) {
    json a = json::array();
    const float* p = row.ptr<float>(0);
    for (int i = 0; i < EMBED_SIZE; ++i)
        a.push_back(static_cast<double>(p[i]));
    return a;
}

// The embedding of a photo's one clear face, or nothing.
std::optional<cv::Mat> _examine(Models& models, const fs::path& photo) {
    std::optional<cv::Mat> img = read_image(photo);
    if (!img) return std::nullopt;
    cv::Mat pic = *img;
    const int h = pic.rows, w = pic.cols;
    const double s = std::min(1.0, static_cast<double>(PHOTO_MAX_SIDE) / std::max(h, w));
    if (s < 1.0) {
        const cv::Size size(static_cast<int>(w * s), static_cast<int>(h * s));
        // A sliver that shrinks to nothing cannot hold a usable face.
        if (size.width < 1 || size.height < 1) return std::nullopt;
        cv::Mat shrunk;
        cv::resize(pic, shrunk, size, 0, 0, cv::INTER_AREA);
        pic = shrunk;
    }
    cv::Mat faces = models.detect(pic, PHOTO_MAX_SIDE);
    const int i = usable_face(faces);
    if (i < 0) return std::nullopt;
    return models.embed(pic, faces.row(i));
}

std::string _summary(const std::string& name, int usable, const std::vector<std::string>& bad) {
    std::string line = "  " + name + ": " + std::to_string(usable) + " usable photo(s)";
    if (!bad.empty()) {
        line += "  (no clear face found in: ";
        for (size_t i = 0; i < bad.size() && i < BAD_LISTED; ++i)
            line += (i ? ", " : "") + bad[i];
        if (bad.size() > BAD_LISTED) line += "…";
        line += ")";
    }
    return line;
}

}  // namespace

bool is_image_ext(const std::string& ext) {
    const std::string low = _lower(ext);
    return std::find(IMAGE_EXT.begin(), IMAGE_EXT.end(), low) != IMAGE_EXT.end();
}

json parse_embedding_cache(const std::string& text) {
    std::optional<json> j = parse_json_guarded(text);
    return j && j->is_object() ? std::move(*j) : json::object();
}

std::optional<cv::Mat> cached_embedding(const json& v) {
    if (!v.is_array() || v.size() != static_cast<size_t>(EMBED_SIZE)) return std::nullopt;
    cv::Mat row(1, EMBED_SIZE, CV_32F);
    double norm2 = 0.0;
    for (int i = 0; i < EMBED_SIZE; ++i) {
        const json& x = v[static_cast<size_t>(i)];
        if (!x.is_number()) return std::nullopt;
        const double d = x.get<double>();
        // Beyond any unit vector's entries; also keeps the float cast defined.
        if (!(std::fabs(d) <= 1.0)) return std::nullopt;
        row.at<float>(0, i) = static_cast<float>(d);
        norm2 += d * d;
    }
    // Anything but a unit vector would make its similarities meaningless,
    // and a long one would pass strangers as this person.
    if (std::fabs(norm2 - 1.0) > 1e-3) return std::nullopt;
    return row;
}

bool photo_before(const std::string& a, const std::string& b, const Platform& platform) {
    if (platform.windows) return _lower(a) < _lower(b);
    return a < b;
}

std::optional<cv::Mat> read_image(const fs::path& path) {
    const std::string ext = _lower(u8string(path.extension()));
    if (ext == ".heic" || ext == ".heif") return std::nullopt;
    return read_image_file(path);
}

std::vector<std::string> list_people(const fs::path& people_dir) {
    std::vector<std::string> names;
    for (const FolderEntry& e : folder_entries(people_dir))
        if (!e.name.empty() && e.name[0] != '.' && e.folder) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

int usable_face(const cv::Mat& faces) {
    const int i = largest_face(faces);
    if (i < 0) return -1;
    const float* r = faces.ptr<float>(i);
    return std::min(r[2], r[3]) >= MIN_PHOTO_FACE ? i : -1;
}

std::optional<std::string> person_name_error(const std::string& name) {
    std::string rule = "a name cannot be empty, start with \".\" or contain \"/\"";
    if constexpr (WINDOWS) rule += ", \"\\\" or \":\"";
    const std::string why = "Not a usable person name: '" + name + "' (" + rule + ").";
    if (name.empty() || name[0] == '.') return why;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return why;
    if (WINDOWS && name.find_first_of("\\:") != std::string::npos) return why;
    return std::nullopt;
}

cv::Mat load_person(Models& models, const fs::path& people_dir, const std::string& name,
                    bool verbose) {
    // The name comes from job files and the command line; it must never
    // lead outside the people folder.
    if (auto why = person_name_error(name)) stop_with(*why);
    const fs::path folder = people_dir / u8path(name);
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        stop_with("No folder for '" + name + "' in " + u8string(people_dir));

    const fs::path cache_file = folder / CACHE_NAME;
    const json old = _read_cache(cache_file);
    std::unordered_map<std::string, const json*> old_values;
    for (auto it = old.begin(); it != old.end(); ++it)
        old_values.emplace(it.key(), &it.value());

    json cache = json::object();
    std::vector<cv::Mat> rows;
    std::vector<std::string> bad;
    for (const std::string& photo : _photos(folder)) {
        const fs::path path = folder / u8path(photo);
        FileStatus st;
        try {
            st = file_status(path);
        } catch (const std::exception&) {
            // Vanished or unreadable since the listing: nothing to cache.
            bad.push_back(photo);
            continue;
        }
        const std::string key =
            photo + ":" + std::to_string(st.mtime) + ":" + std::to_string(st.size);

        if (auto hit = old_values.find(key); hit != old_values.end()) {
            const json& value = *hit->second;
            if (value.is_null()) {
                cache[key] = nullptr;
                bad.push_back(photo);
                continue;
            }
            if (auto vec = cached_embedding(value)) {
                cache[key] = value;
                rows.push_back(*vec);
                continue;
            }
        }

        if (auto vec = _examine(models, path)) {
            cache[key] = _vector_json(*vec);
            rows.push_back(*vec);
        } else {
            cache[key] = nullptr;
            bad.push_back(photo);
        }
    }

    try {
        write_file_atomic(cache_file, dump_inline(cache));
    } catch (const std::exception&) {
        // Only a speed-up: the photos are examined again next time.
    }

    if (verbose) log(_summary(name, static_cast<int>(rows.size()), bad));
    if (rows.empty()) return cv::Mat(0, EMBED_SIZE, CV_32F);
    cv::Mat out;
    cv::vconcat(rows, out);
    return out;
}

Gallery build_gallery(Models& models, const fs::path& people_dir,
                      const std::vector<std::string>& keep) {
    Gallery g;
    std::vector<cv::Mat> parts;
    if (!keep.empty()) log("People kept visible:");
    for (const std::string& name : keep) {
        cv::Mat e = load_person(models, people_dir, name, true);
        if (e.rows == 0) {
            log("  ⚠ " + name + " has no usable photos — they will be mosaicked too.");
            continue;
        }
        g.names.push_back(name);
        parts.push_back(e);
        g.owners.insert(g.owners.end(), static_cast<size_t>(e.rows),
                        static_cast<int32_t>(g.names.size() - 1));
    }
    if (keep.empty()) log("No one selected to keep — every face will be mosaicked.");
    if (parts.empty())
        g.gallery = cv::Mat(0, EMBED_SIZE, CV_32F);
    else
        cv::vconcat(parts, g.gallery);
    return g;
}

}  // namespace qlcore
