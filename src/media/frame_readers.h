// Decoded frames pulled one by one from an ffmpeg pipe.
#pragma once

#include <cstddef>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "media/ffmpeg_commands.h"
#include "media/probe.h"
#include "platform/subprocess.h"

namespace qlcore {

// The child and the byte count of one frame, shared by the two readers.
class Pipe {
  public:
    // With keep_errors, ffmpeg's error output is kept for errors() instead of
    // going to the console.
    Pipe(const Args& cmd, size_t nbytes, bool keep_errors = false);
    ~Pipe();  // closes: the child never outlives its reader
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // Exactly nbytes into dst; false at the end (a partial tail is dropped)
    // and on every later call.
    bool _read(void* dst);
    // Ends and reaps the child; safe to call more than once.
    void close();
    size_t nbytes() const { return nbytes_; }
    // What ffmpeg complained about (kept errors only; complete after close).
    const std::string& errors() const { return errors_; }

  private:
    std::unique_ptr<Child> proc_;
    size_t nbytes_;
    bool ended_ = false;
    bool keep_errors_;
    std::string errors_;
};

// BGR pictures scaled by ffmpeg, optionally every k-th frame only.
class FFReader : public Pipe {
  public:
    // source: the clip's own frame size, which decides the decoding threads
    // (none given: ffmpeg's choice).
    FFReader(const std::string& path, FrameSize size, int every = 1, FrameSize source = {});
    // Fills `out` (h x w, CV_8UC3), reusing its memory when it has the right
    // shape and nobody else holds it.
    // False at the end of the clip.
    bool read(cv::Mat& out);
    const int w, h;
};

// One planar YUV 4:2:0 frame: the buffer the encoder receives and three
// plane views into it (writing through a view changes the buffer).
struct YuvFrame {
    cv::Mat buffer;  // 1 x (ysz + 2 * csz) samples, CV_8U or CV_16U
    cv::Mat y, u, v;
    const void* data() const { return buffer.data; }
    size_t nbytes() const { return buffer.total() * buffer.elemSize(); }
};

// Points the plane views of `frame` into its buffer, which holds a w x h
// 4:2:0 picture (chroma planes of the halves rounded up).
void set_yuv_views(YuvFrame& frame, int w, int h);

// Keeps ffmpeg's errors, so the render can tell a damaged stream from a
// short clip.
class YUVReader : public Pipe {
  public:
    YUVReader(const std::string& path, FrameSize size, const ClipInfo& info);
    // Fills `frame`, reusing its buffer when it has the right size and nobody
    // else holds it (a kept earlier frame is never overwritten).
    bool read(YuvFrame& frame);
    const int w, h;
    const bool deep;
    const std::string pix_fmt;  // "yuv420p10le" when deep, else "yuv420p"
    const size_t ysz;           // samples in Y
    const size_t csz;           // samples in each chroma plane
};

}  // namespace qlcore
