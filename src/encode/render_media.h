// What the render reads and starts: the source's decoded frames, encoder
// runs and mux runs. Production runs ffmpeg; tests give fakes, so the
// render's rules are tested without starting a child.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/ffmpeg_commands.h"
#include "media/frame_readers.h"
#include "media/probe.h"
#include "platform/subprocess.h"

namespace qlcore {

// Planar YUV 4:2:0 frames of the source at its own size, in decoding order.
class YuvSource {
  public:
    virtual ~YuvSource() = default;
    virtual const std::string& pix_fmt() const = 0;  // "yuv420p" or "yuv420p10le"
    // The next frame into `frame`; false at the end.
    virtual bool read(YuvFrame& frame) = 0;
    // Ends the decoding; errors() is complete after it.
    virtual void close() = 0;
    // What the decoder complained of.
    virtual const std::string& errors() const = 0;
};

// One encoder run fed raw frames. Ended (and reaped) by its destructor
// however the render leaves it.
class EncoderSink {
  public:
    virtual ~EncoderSink() = default;
    // False once the encoder has quit.
    virtual bool write(const void* data, size_t n) = 0;
    // Ends the input, reads the encoder's error text into `err` and waits.
    virtual ExitStatus finish(std::string& err) = 0;
};

class RenderMedia {
  public:
    virtual ~RenderMedia() = default;
    virtual std::string ffmpeg() = 0;
    virtual std::unique_ptr<YuvSource> open(const std::string& path, FrameSize size,
                                            const ClipInfo& info) = 0;
    // Starts `command` (raw frames on its standard input).
    virtual std::unique_ptr<EncoderSink> start(const Args& command) = 0;
    // Runs a mux command with the console's streams and waits for it.
    virtual ExitStatus run(const Args& command) = 0;
    // The frame rate as "%.6f" when the clip gives none.
    virtual std::string fallback_rate(const std::string& path) = 0;
    // The packets the demuxer finds in the first video stream; -1 when
    // that cannot be told.
    virtual int64_t packets_present(const std::string& path) = 0;
};

// The real thing: ffmpeg and ffprobe as found on this system.
RenderMedia& ffmpeg_media();

}  // namespace qlcore
