#include "encode/encoders.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <thread>

#include "media/rates.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/numbers.h"
#include "platform/platform.h"
#include "platform/subprocess.h"

namespace qlcore {
namespace {

// Whole megabits per second for hardware encoders, never below `floor_mbps`.
std::string _bit_rate(double px, double bits_per_pixel, double floor_mbps) {
    double mbps = std::floor(px * bits_per_pixel / 1000000.0);
    mbps = std::clamp(mbps, floor_mbps, 1e9);  // absurd rates must not overflow
    return std::to_string(static_cast<long long>(mbps)) + "M";
}

std::vector<Args> _hevc(const Platform& p, bool deep, const std::string& br,
                        const std::function<bool(const std::string&)>& has) {
    auto hw = [&](const std::string& name, bool allow_sw) {
        Args e{"-c:v", name, "-b:v", br, "-pix_fmt", deep ? "p010le" : "nv12"};
        if (deep) e.insert(e.end(), {"-profile:v", "main10"});
        if (allow_sw) e.insert(e.end(), {"-allow_sw", "1"});
        e.insert(e.end(), {"-tag:v", "hvc1"});
        return e;
    };
    std::vector<Args> list;
    if (p.macos) list.push_back(hw("hevc_videotoolbox", true));
    if (p.windows) {
        list.clear();
        for (const char* name : {"hevc_nvenc", "hevc_qsv", "hevc_amf"})
            if (has(name)) list.push_back(hw(name, false));
    }
    list.push_back({"-c:v", "libx265", "-crf", "20", "-preset", "veryfast", "-x265-params",
                    "log-level=error", "-pix_fmt", deep ? "yuv420p10le" : "yuv420p", "-tag:v",
                    "hvc1"});
    return list;
}

// H.264 output is 8-bit 4:2:0 whatever the source depth.
std::vector<Args> _h264(const Platform& p, const std::string& br,
                        const std::function<bool(const std::string&)>& has) {
    std::vector<Args> list;
    if (p.macos)
        list.push_back(
            {"-c:v", "h264_videotoolbox", "-b:v", br, "-pix_fmt", "nv12", "-allow_sw", "1"});
    if (p.windows) {
        list.clear();
        for (const char* name : {"h264_nvenc", "h264_qsv", "h264_amf"})
            if (has(name)) list.push_back({"-c:v", name, "-b:v", br, "-pix_fmt", "nv12"});
    }
    list.push_back({"-c:v", "libx264", "-crf", "17", "-preset", "veryfast", "-pix_fmt", "yuv420p"});
    return list;
}

// ProRes output is always 10-bit 4:2:2 whatever the source depth.
std::vector<Args> _prores(const Platform& p, const std::function<bool(const std::string&)>& has) {
    std::vector<Args> list;
    bool apple_silicon = p.macos && p.machine == "arm64";
    if (apple_silicon && has("prores_videotoolbox"))
        list.push_back(
            {"-c:v", "prores_videotoolbox", "-profile:v", "standard", "-pix_fmt", "p210le"});
    list.push_back(
        {"-c:v", "prores", "-profile:v", "2", "-pix_fmt", "yuv422p10le", "-vendor", "apl0"});
    return list;
}

}  // namespace

std::vector<Args> encoder_candidates_for(const std::string& codec, const ClipInfo& info,
                                         FrameSize size, const Platform& platform,
                                         const std::function<bool(const std::string&)>& has) {
    const bool deep = info.bits > 8;
    double fps = rate_value(info.rate);
    if (fps == 0.0) fps = 30.0;
    const double px = static_cast<double>(size.w) * size.h * fps;
    if (codec == "hevc") return _hevc(platform, deep, _bit_rate(px, 0.12, 8), has);
    if (codec == "h264") return _h264(platform, _bit_rate(px, 0.18, 10), has);
    return _prores(platform, has);
}

std::vector<Args> encoder_candidates(const std::string& codec, const ClipInfo& info,
                                     FrameSize size) {
    return encoder_candidates_for(codec, info, size, this_platform(), has_encoder);
}

// Each listing line reads " V....D name   description": only the word after
// the capability flags is a name. Searching the whole text for " name " would
// also hit descriptions ("NVIDIA NVENC hevc encoder" holds " hevc ").
bool listing_has(const std::string& listing, const std::string& name) {
    if (name.empty()) return false;
    std::istringstream lines(listing);
    std::string line, flags, word;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        if (words >> flags >> word && word == name) return true;
    }
    return false;
}

bool EncoderListing::has(const std::string& name) {
    return listing_has(text(), name);
}

const std::string& EncoderListing::text() {
    if (!text_) {
        // A missing ffmpeg stops the program inside ffmpeg_bin(); only a run
        // that fails leaves the listing empty.
        Args cmd = encoders_command(ffmpeg_bin());
        try {
            text_ = run_capture(cmd).out;
        } catch (const std::exception&) {
            text_ = std::string();
        }
    }
    return *text_;
}

void EncoderListing::reset() {
    text_.reset();
}

EncoderListing& encoder_listing() {
    static EncoderListing listing;
    return listing;
}

bool has_encoder(const std::string& name) {
    return encoder_listing().has(name);
}

std::optional<std::string> codec_missing_encoder(const std::string& codec,
                                                 const std::string& listing,
                                                 const Platform& platform) {
    if (trim(listing).empty()) return std::nullopt;
    const auto has = [&](const std::string& name) { return listing_has(listing, name); };
    // The entries do not depend on the clip, only on the listing.
    const std::vector<Args> entries = encoder_candidates_for(codec, {}, {2, 2}, platform, has);
    for (const Args& e : entries)
        if (has(e.at(1))) return std::nullopt;
    return entries.back().at(1);
}

std::string missing_encoder_message(const std::string& encoder) {
    return "this ffmpeg cannot encode with " + encoder + "; put a full ffmpeg (one with " +
           encoder + ") on PATH";
}

void require_codec(const std::string& codec) {
    if (auto missing = codec_missing_encoder(codec, encoder_listing().text(), this_platform()))
        throw MediaError(missing_encoder_message(*missing));
}

Args color_args(const ClipInfo& info) {
    const std::pair<const char*, const std::optional<std::string>*> pairs[] = {
        {"-color_primaries", &info.color_primaries},
        {"-color_trc", &info.color_transfer},
        {"-colorspace", &info.color_space},
        {"-color_range", &info.color_range}};
    Args out;
    for (const auto& [option, value] : pairs) {
        if (!*value || (*value)->empty()) continue;
        const std::string& v = **value;
        // ffmpeg reports these but refuses them as output options, and one
        // refused option fails every encoder in turn. "gbr" is an RGB source's
        // matrix, which does not describe our YUV output anyway.
        if (v == "reserved" || (v == "gbr" && std::string(option) == "-colorspace")) continue;
        out.insert(out.end(), {option, v});
    }
    return out;
}

namespace {

// The encoder an entry names ("-c:v", name, ...), or "".
std::string _encoder_name(const Args& enc) {
    return enc.size() >= 2 && enc[0] == "-c:v" ? enc[1] : std::string();
}

}  // namespace

int prores_thread_budget(FrameSize size) {
    const long long pixels = std::max(1LL, static_cast<long long>(size.w) * size.h);
    const long long per_pixel = ENCODER_MEMORY_BUDGET / pixels;
    const long long n = (per_pixel - PRORES_BASE_BYTES_PER_PIXEL) / PRORES_THREAD_BYTES_PER_PIXEL;
    return static_cast<int>(std::clamp(n, 1LL, 1024LL));
}

Args encoder_threads(const Args& enc, FrameSize size, int cores) {
    if (_encoder_name(enc) != "prores") return enc;
    const int n = std::min(std::max(cores, 1), prores_thread_budget(size));
    Args out = enc;
    out.insert(out.begin() + 2, {"-threads", std::to_string(n)});
    return out;
}

Args encoder_threads(const Args& enc, FrameSize size) {
    return encoder_threads(enc, size, static_cast<int>(std::thread::hardware_concurrency()));
}

bool encodes_into_output(const Args& enc) {
    const std::string name = _encoder_name(enc);
    return name == "prores" || name == "libx264" || name == "libx265";
}

}  // namespace qlcore
