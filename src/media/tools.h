// Finding ffmpeg and ffprobe, and the hardware-decode arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qlcore {

// Path of an ffmpeg executable. Searches again on every call; when none is
// found the program stops with "ffmpeg not found. Run the installer again.".
std::string ffmpeg_bin();

// Path of an ffprobe executable, or nothing.
std::optional<std::string> ffprobe_bin();

// The ffmpeg shipped with this installation: an "ffmpeg" in the "ffmpeg"
// folder beside the program. Nothing when it is not there.
std::optional<std::string> bundled_ffmpeg();

// Items placed before a decoder's input: none on this platform family.
std::vector<std::string> hwaccel_args();
std::vector<std::string> hwaccel_args_for(bool macos, bool windows);

}  // namespace qlcore
