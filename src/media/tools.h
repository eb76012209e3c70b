// Finding ffmpeg and ffprobe, and the hardware-decode arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "media/probe.h"
#include "platform/platform.h"

namespace qlcore {

// Path of an ffmpeg executable. Searches again on every call; when none is
// found the program stops with "ffmpeg not found. Run the installer again.".
std::string ffmpeg_bin();

// Path of an ffprobe executable, or nothing: the same search as ffmpeg's,
// the one shipped with the installation last.
std::optional<std::string> ffprobe_bin();

// The ffmpeg shipped with this installation: an "ffmpeg" ("ffmpeg.exe" on
// Windows) in the "ffmpeg" folder beside the program. Nothing when it is not
// there.
std::optional<std::string> bundled_ffmpeg();
// The file name of a shipped tool on a platform.
std::string bundled_tool_name(const std::string& name, const Platform& platform);

// Items placed before a decoder's input: the hardware decoder of macOS or
// Windows, none elsewhere.
std::vector<std::string> hwaccel_args();
std::vector<std::string> hwaccel_args_for(const Platform& platform);

// Frames above this many pixels (twice 1080p: UHD, DCI 4K and up) are
// decoded on one thread. Each of ffmpeg's frame threads holds frames of its
// own: at 4K 10-bit a decoder peaked at 370-460 MB against 280 MB on one
// thread, and one thread still decodes faster than the detector or the
// encoder take the frames.
inline constexpr long long ONE_THREAD_PIXELS = 2LL * 1920 * 1080;
bool one_thread_for(FrameSize source);

// Items before a decoder's input: the hardware decoder, and one thread for
// frames above ONE_THREAD_PIXELS (source: the clip's own frame size).
std::vector<std::string> decoder_input_args(FrameSize source);

}  // namespace qlcore
