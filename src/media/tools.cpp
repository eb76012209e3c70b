#include "media/tools.h"

#include "platform/failure.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace qlcore {
namespace {

std::optional<std::string> _find_tool(const std::string& name) {
    if (auto p = find_on_path(name)) return u8string(*p);
    for (const char* dir : {"/opt/homebrew/bin/", "/usr/local/bin/"}) {
        fs::path cand = fs::path(dir) / name;
        std::error_code ec;
        if (fs::exists(cand, ec)) return u8string(cand);
    }
    return std::nullopt;
}

// A tool shipped in the "ffmpeg" folder beside the program's real file.
std::optional<std::string> _bundled(const std::string& name) {
    try {
        fs::path cand =
            self_exe_path().parent_path() / "ffmpeg" / bundled_tool_name(name, this_platform());
        std::error_code ec;
        if (fs::is_regular_file(cand, ec)) return u8string(cand);
    } catch (const std::exception&) {
        // Any failure of this last step only means "not found"; a fatal stop
        // or an interruption goes on to the caller.
    }
    return std::nullopt;
}

}  // namespace

std::string bundled_tool_name(const std::string& name, const Platform& platform) {
    return platform.windows ? name + ".exe" : name;
}

std::optional<std::string> bundled_ffmpeg() {
    return _bundled("ffmpeg");
}

std::string ffmpeg_bin() {
    if (auto p = _find_tool("ffmpeg")) return *p;
    if (auto p = bundled_ffmpeg()) return *p;
    stop_with("ffmpeg not found. Run the installer again.");
}

// The ffprobe shipped beside the bundled ffmpeg comes last, so an
// installation that brings both probes with ffprobe, as a full one does.
std::optional<std::string> ffprobe_bin() {
    if (auto p = _find_tool("ffprobe")) return p;
    return _bundled("ffprobe");
}

std::vector<std::string> hwaccel_args_for(const Platform& platform) {
    if (platform.macos) return {"-hwaccel", "videotoolbox"};
    if (platform.windows) return {"-hwaccel", "auto"};
    return {};
}

std::vector<std::string> hwaccel_args() {
    return hwaccel_args_for(this_platform());
}

bool one_thread_for(FrameSize source) {
    return static_cast<long long>(source.w) * source.h > ONE_THREAD_PIXELS;
}

std::vector<std::string> decoder_input_args(FrameSize source) {
    std::vector<std::string> args = hwaccel_args();
    // Decoded pictures do not depend on the thread count.
    if (one_thread_for(source)) args.insert(args.end(), {"-threads", "1"});
    return args;
}

}  // namespace qlcore
