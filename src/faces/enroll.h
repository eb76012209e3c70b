// Pulling face photos of one person out of a clip.
#pragma once

#include <filesystem>
#include <string>

namespace qlcore {

class Models;

// Saves the largest clear face every `every` seconds of `video` as a JPEG in
// `folder` (which must exist), up to `max` photos; every photo after the
// first must look like the first. Returns the number saved. MediaError
// "cannot open <video>" when the clip cannot be opened.
long long enroll_from_video(Models& models, const std::filesystem::path& folder,
                            const std::string& video, double every, long long max);

}  // namespace qlcore
