// Which ffmpeg encoder settings to try, best first.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "media/ffmpeg_commands.h"
#include "media/probe.h"

namespace qlcore {

// The platform facts the choice depends on; the program passes its build's
// flags, tests pass any.
struct EncoderPlatform {
    bool macos = false;
    bool windows = false;
    std::string machine;  // hardware name on macOS ("arm64" on Apple silicon)
};

EncoderPlatform this_platform();

// Entries start with "-c:v", name. Never empty: the software entry is last.
std::vector<Args> encoder_candidates(const std::string& codec, const ClipInfo& info,
                                     FrameSize size);
std::vector<Args> encoder_candidates_for(const std::string& codec, const ClipInfo& info,
                                         FrameSize size, const EncoderPlatform& platform,
                                         const std::function<bool(const std::string&)>& has);

// Whether this ffmpeg lists the encoder (the listing is fetched once).
bool has_encoder(const std::string& name);
// Whether a listing text holds the encoder's name between spaces.
bool listing_has(const std::string& listing, const std::string& name);

Args color_args(const ClipInfo& info);

}  // namespace qlcore
