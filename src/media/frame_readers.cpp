#include "media/frame_readers.h"

#include <bit>
#include <utility>

#include "media/tools.h"

namespace qlcore {
namespace {

// Whether `m` can take a frame of this shape without a new allocation. A
// buffer someone else still shares (a frame kept from an earlier read) is
// not reused, so a read never changes a picture the caller put aside.
bool _reusable(const cv::Mat& m, int rows, int cols, int type) {
    return m.rows == rows && m.cols == cols && m.type() == type && m.isContinuous() && m.u &&
           m.u->refcount == 1;
}

void _prepare(cv::Mat& m, int rows, int cols, int type) {
    if (_reusable(m, rows, cols, type)) return;
    m.release();
    m.create(rows, cols, type);
}

// Chroma planes by the ceiling of the halves: that is what ffmpeg writes for
// odd sizes, and anything else would shift every later frame on the pipe.
int _chroma(int n) {
    return (n + 1) / 2;
}

size_t _yuv_samples(FrameSize s) {
    return static_cast<size_t>(s.w) * s.h + 2 * static_cast<size_t>(_chroma(s.w)) * _chroma(s.h);
}

bool _is_deep(const ClipInfo& info) {
    return info.bits > 8;
}

size_t _positive(int n) {
    return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

// --- Pipe ----------------------------------------------------------------------

// Stdin is /dev/null rather than the terminal: the child runs in its own
// process group, and an ffmpeg reading the terminal there would be stopped.
Pipe::Pipe(const Args& cmd, size_t nbytes, bool keep_errors)
    : proc_(std::make_unique<Child>(cmd,
                                    ChildOptions{.in = Stdio::Null,
                                                 .out = Stdio::Pipe,
                                                 .err = keep_errors ? Stdio::Pipe : Stdio::Inherit,
                                                 .frame_output = true})),
      nbytes_(nbytes),
      keep_errors_(keep_errors) {}

Pipe::~Pipe() {
    close();
}

bool Pipe::_read(void* dst) {
    // A zero-byte frame would "arrive" forever.
    if (ended_ || nbytes_ == 0) return false;
    if (!proc_->read_exact(dst, nbytes_)) ended_ = true;
    return !ended_;
}

void Pipe::close() {
    ended_ = true;
    if (!proc_) return;
    // Closing our end first lets a child blocked on a full pipe fail its
    // write; the kill then ends it whatever it was doing.
    proc_->close_stdout();
    proc_->kill();
    // The child is dead, so this ends at once. Also runs in the destructor
    // while an interrupt unwinds: a second one must not throw from here.
    if (keep_errors_) {
        try {
            errors_ += proc_->read_all_stderr();
        } catch (...) {
        }
    }
    proc_->wait();
}

// --- FFReader -------------------------------------------------------------------

FFReader::FFReader(const std::string& path, FrameSize size, int every, FrameSize source)
    : Pipe(
          bgr_reader_command(ffmpeg_bin(), decoder_input_args(source), path, size.w, size.h, every),
          _positive(size.w) * _positive(size.h) * 3),
      w(size.w),
      h(size.h) {}

bool FFReader::read(cv::Mat& out) {
    if (nbytes() == 0) return false;
    _prepare(out, h, w, CV_8UC3);
    return _read(out.data);
}

// --- YUVReader ------------------------------------------------------------------

YUVReader::YUVReader(const std::string& path, FrameSize size, const ClipInfo& info)
    : Pipe(yuv_reader_command(ffmpeg_bin(), decoder_input_args(size), path,
                              _is_deep(info) ? "yuv420p10le" : "yuv420p"),
           size.w > 0 && size.h > 0 ? _yuv_samples(size) * (_is_deep(info) ? 2 : 1) : 0,
           /*keep_errors=*/true),
      w(size.w),
      h(size.h),
      deep(_is_deep(info)),
      pix_fmt(deep ? "yuv420p10le" : "yuv420p"),
      ysz(_positive(size.w) * _positive(size.h)),
      csz(_positive(_chroma(size.w)) * _positive(_chroma(size.h))) {}

bool YUVReader::read(YuvFrame& frame) {
    if (nbytes() == 0) return false;
    const int type = deep ? CV_16U : CV_8U;
    // The views share the buffer; drop them so only the caller's copies count.
    frame.y.release();
    frame.u.release();
    frame.v.release();
    _prepare(frame.buffer, 1, static_cast<int>(ysz + 2 * csz), type);
    if (!_read(frame.buffer.data)) return false;

    if constexpr (std::endian::native == std::endian::big) {
        // The pipe carries little-endian samples.
        if (deep) {
            auto* p = frame.buffer.ptr<uint16_t>();
            for (size_t i = 0, n = ysz + 2 * csz; i < n; ++i)
                p[i] = static_cast<uint16_t>((p[i] >> 8) | (p[i] << 8));
        }
    }

    set_yuv_views(frame, w, h);
    return true;
}

void set_yuv_views(YuvFrame& frame, int w, int h) {
    // Views keep a reference to the buffer, so they stay valid as long as
    // the caller holds them.
    const int ch = _chroma(h);
    const int ysz = static_cast<int>(_positive(w) * _positive(h));
    const int csz = static_cast<int>(_positive(_chroma(w)) * _positive(ch));
    frame.y = frame.buffer.colRange(0, ysz).reshape(1, h);
    frame.u = frame.buffer.colRange(ysz, ysz + csz).reshape(1, ch);
    frame.v = frame.buffer.colRange(ysz + csz, ysz + 2 * csz).reshape(1, ch);
}

}  // namespace qlcore
