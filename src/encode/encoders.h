// Which ffmpeg encoder settings to try, best first.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "platform/platform.h"

namespace qlcore {

// Entries start with "-c:v", name. Never empty: the software entry is last.
std::vector<Args> encoder_candidates(const std::string& codec, const ClipInfo& info,
                                     FrameSize size);
std::vector<Args> encoder_candidates_for(const std::string& codec, const ClipInfo& info,
                                         FrameSize size, const Platform& platform,
                                         const std::function<bool(const std::string&)>& has);

// The ffmpeg encoder listing, fetched at the first question and kept until
// reset (ffmpeg does not change under a running program).
class EncoderListing {
  public:
    bool has(const std::string& name);
    void reset();

  private:
    std::optional<std::string> text_;
};

// The process's one listing; tests reset it to fetch again.
EncoderListing& encoder_listing();

// Whether this ffmpeg lists the encoder: encoder_listing().has(name).
bool has_encoder(const std::string& name);
// Whether a listing text holds the encoder's name between spaces.
bool listing_has(const std::string& listing, const std::string& name);

Args color_args(const ClipInfo& info);

// `enc` on one thread for frames above ONE_THREAD_PIXELS when that gives the
// same file: ProRes codes every frame on its own, so the software encoder's
// output does not depend on its threads (x264's and x265's does).
Args encoder_threads(const Args& enc, FrameSize size);

// Whether `enc` writes straight into the output (direct_encode_command) for
// frames of `size`: for the software encoders, whose one-pass files were
// found the same as the mux's, up to ONE_THREAD_PIXELS. Above, the encoder is
// the largest process of a run, and opening the source as well adds to it.
bool encodes_into_output(const Args& enc, FrameSize size);

}  // namespace qlcore
