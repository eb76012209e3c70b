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
    // The listing's text; empty when ffmpeg could not be asked.
    const std::string& text();
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

// The encoder a codec's last entry names when a fetched `listing` has no
// encoder of any of its entries (then no entry can write it); nothing
// otherwise. An empty listing (ffmpeg could not be asked) decides nothing:
// the render finds out.
std::optional<std::string> codec_missing_encoder(const std::string& codec,
                                                 const std::string& listing,
                                                 const Platform& platform);
// The one line for an ffmpeg built without `encoder`, with what to do.
std::string missing_encoder_message(const std::string& encoder);
// Throws MediaError with that line when this process's ffmpeg cannot write
// `codec`, so a clip fails before its search rather than after it.
void require_codec(const std::string& codec);

Args color_args(const ClipInfo& info);

// What the software ProRes encoder holds, measured at 4K 10-bit: about 15
// bytes a pixel whatever its threads, and 23 more for each thread (a working
// buffer it zeroes for every frame in flight, and that frame's copies).
inline constexpr long long PRORES_BASE_BYTES_PER_PIXEL = 15;
inline constexpr long long PRORES_THREAD_BYTES_PER_PIXEL = 23;
inline constexpr long long ENCODER_MEMORY_BUDGET = 1LL << 30;

// The most ProRes threads whose working set for frames of `size` stays
// within ENCODER_MEMORY_BUDGET; at least one.
int prores_thread_budget(FrameSize size);

// `enc` with as many threads as `cores`, never more than
// prores_thread_budget (ffmpeg's own choice, one more than the cores, would
// hold one frame more than the cores can work on). Only for the software
// ProRes encoder, whose file does not depend on its threads (x264's and
// x265's does).
Args encoder_threads(const Args& enc, FrameSize size, int cores);
Args encoder_threads(const Args& enc, FrameSize size);

// Whether `enc` writes straight into the output (direct_encode_command):
// the software encoders, whose one-run files were found the same as the
// mux's.
bool encodes_into_output(const Args& enc);

}  // namespace qlcore
