// What a clip is: rate, length, timecode, depth, colour tags, picture size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qlcore {

struct ClipInfo {
    std::optional<std::string> rate;  // a standard rate or the clip's own text
    int64_t frames = 0;               // 0 when the clip does not tell
    std::optional<std::string> timecode;
    int bits = 8;  // 8, or 10 for every deeper source
    std::optional<std::string> color_primaries;
    std::optional<std::string> color_transfer;
    std::optional<std::string> color_space;
    std::optional<std::string> color_range;
    bool operator==(const ClipInfo&) const = default;
};

struct FrameSize {
    int w = 0;
    int h = 0;
    bool operator==(const FrameSize&) const = default;
};

// ffprobe's JSON report (probe_json.cpp), else ffmpeg's input banner
// (banner.cpp).
ClipInfo probe(const std::string& path);

// Fills `info` from ffprobe's JSON text; throws on anything malformed,
// leaving what was already stored.
void parse_probe_json(const std::string& text, ClipInfo& info);

// Fills `info` from ffmpeg's banner text.
void parse_banner(const std::string& err, ClipInfo& info);

// Size of the first decoded picture; MediaError "could not decode the first
// frame" when there is none.
FrameSize frame_size(const std::string& path);

// The size a PNG file's header gives (its IHDR chunk), for a whole file:
// one without its closing IEND chunk was broken off. MediaError "could not
// decode the first frame" otherwise.
FrameSize png_picture_size(const std::string& png);

// probe and frame_size of one clip, their children run side by side: each
// spends most of its time opening the clip and decoding its start.
struct ProbedClip {
    ClipInfo info;
    FrameSize size;
};
ProbedClip probe_with_size(const std::string& path);

}  // namespace qlcore
