// Writing the mosaicked video with the source's audio and timecode.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "encode/render_media.h"
#include "geometry/box.h"
#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "mosaic/mosaic.h"
#include "mosaic/styles.h"

namespace qlcore {

// Pictures of a few rectangles taken as the render goes, so a caller that
// shows faces needs no decoding pass of its own: each request's rectangle
// just before its frame is hidden and again just after.
struct FrameShots {
    struct Request {
        int64_t frame = 0;
        MosaicRect rect;
    };
    std::vector<Request> requests;  // ascending frames; several may share one
    // One picture of `rect` from a frame's planes (4:2:0, the encoded size).
    std::function<std::string(const cv::Mat& y, const cv::Mat& u, const cv::Mat& v,
                              const MosaicRect& rect)>
        take;
    // One per request, from the attempt that wrote the video; a frame the
    // decoder never delivered leaves its pictures empty.
    std::vector<std::string> before, after;
};

// One clip's render: what to read, what to write and what to hide where.
struct RenderJob {
    std::string source;
    std::string out;
    MosaicPlan plan;
    int64_t n_frames = 0;  // the progress total; 0 when unknown
    // The frames the search decoded (-1: n_frames); a decoder that complains
    // and delivers fewer is a source that breaks off.
    int64_t n_read = -1;
    FrameSize size;  // the source's frame size
    ClipInfo info;
    HideStyle style = HideStyle::mosaic;
    // Filled on the way when given.
    FrameShots* shots = nullptr;
};

// Writes `job.out`: encodes with the first encoder entry that works, then
// muxes into a temporary file beside it (in one run where the first entry
// allows it) and renames that onto `out`, so `out` never exists
// half-written. Throws MediaError when nothing works.
void render(const RenderJob& job, const std::string& codec);

// The same with the encoder entries to try given, in order, and what to
// run them with.
void render(const RenderJob& job, const std::vector<Args>& candidates,
            RenderMedia& media = ffmpeg_media());

// The size the render encodes: an odd last column or row is dropped.
FrameSize encoded_size(FrameSize size);

// One attempt with one encoder entry; returns the frames written. It starts
// `shots`' pictures afresh, so a failed attempt leaves none behind. With
// `with_audio`, `tmp_video` gets the source's audio, metadata and timecode
// too, as the first mux attempt would add them, and what ffmpeg says on the
// way reaches the console as the mux's would.
int64_t encode_pass(const RenderJob& job, const std::string& tmp_video, const Args& enc,
                    RenderMedia& media = ffmpeg_media(), bool with_audio = false);

}  // namespace qlcore
