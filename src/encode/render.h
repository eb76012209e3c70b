// Writing the mosaicked video with the source's audio and timecode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/box.h"
#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "mosaic/styles.h"

namespace qlcore {

// Writes `out`: encodes with the first encoder entry that works, then muxes
// into a temporary file beside `out` and renames it onto `out`, so `out`
// never exists half-written. Throws MediaError when nothing works. n_read:
// the frames the search decoded (-1: n_frames); a decoder that complains and
// delivers fewer is a source that breaks off. `style`: how each planned box
// is hidden.
void render(const std::string& path, const std::string& out, const MosaicPlan& plan,
            int64_t n_frames, FrameSize size, const ClipInfo& info, const std::string& codec,
            int64_t n_read = -1, HideStyle style = HideStyle::mosaic);

// The same with the encoder entries to try given, in order (tests put an
// entry first that cannot run here).
void render(const std::string& path, const std::string& out, const MosaicPlan& plan,
            int64_t n_frames, FrameSize size, const ClipInfo& info,
            const std::vector<Args>& candidates, int64_t n_read = -1,
            HideStyle style = HideStyle::mosaic);

// One attempt with one encoder entry; returns the frames written.
int64_t encode_pass(const std::string& path, const std::string& tmp_video, const Args& enc,
                    const MosaicPlan& plan, int64_t n_frames, FrameSize size, const ClipInfo& info,
                    int64_t n_read = -1, HideStyle style = HideStyle::mosaic);

}  // namespace qlcore
