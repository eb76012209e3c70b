#include "encode/render.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "encode/encoders.h"
#include "media/console.h"
#include "media/frame_readers.h"
#include "media/opencv_io.h"
#include "media/tools.h"
#include "mosaic/mosaic.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/numbers.h"
#include "platform/step_timer.h"
#include "platform/subprocess.h"

namespace qlcore {
namespace {

std::string _fallback_rate(const std::string& path) {
    VideoFile video(path);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", video.fps());
    return buf;
}

// The last line of the trimmed error text, or "encoder failed".
std::string _last_line(const std::string& text) {
    std::string t = trim(text);
    if (t.empty()) return "encoder failed";
    size_t nl = t.find_last_of("\r\n");
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

// An ffmpeg built without the encoder (the one shipped for Windows has no
// libx264 or libx265) gets one line that says what to do about it.
std::string _missing_encoder_hint(const std::string& error) {
    const std::string unknown = "Unknown encoder '";
    if (error.rfind(unknown, 0) != 0 || error.back() != '\'') return error;
    const std::string name = error.substr(unknown.size(), error.size() - unknown.size() - 1);
    return "this ffmpeg cannot encode with " + name + "; put a full ffmpeg (one with " + name +
           ") on PATH";
}

// A decoder's last error line without ffmpeg's "[demuxer @ 0x...] " tag.
std::string _decoder_error(const std::string& text) {
    std::string line = _last_line(text);
    size_t tag_end = line.find("] ");
    if (!line.empty() && line[0] == '[' && tag_end != std::string::npos)
        line = line.substr(tag_end + 2);
    return line;
}

// The packets the demuxer finds in the first video stream, or -1 when
// ffprobe cannot say. A file cut short holds fewer than its index lists;
// a healthy one whose decoder drops a frame holds them all.
int64_t _packets_present(const std::string& path) {
    const auto ffprobe = ffprobe_bin();
    if (!ffprobe) return -1;
    RunResult r = run_capture({*ffprobe, "-v", "error", "-select_streams", "v:0", "-count_packets",
                               "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0",
                               media_path(path)});
    auto n = r.status == 0 ? parse_int(trim(r.out)) : std::nullopt;
    return n ? *n : -1;
}

// `frame` without its odd last column and row, copied into `even` (whose
// buffer is reused); `frame` itself when its size is even already.
YuvFrame& _even_frame(YuvFrame& frame, FrameSize size, YuvFrame& even) {
    const int W = size.w, H = size.h;
    if (frame.y.cols == W && frame.y.rows == H) return frame;
    if (even.buffer.empty()) {
        even.buffer.create(1, W * H + 2 * (W / 2) * (H / 2), frame.buffer.type());
        set_yuv_views(even, W, H);
    }
    frame.y(cv::Rect(0, 0, W, H)).copyTo(even.y);
    frame.u(cv::Rect(0, 0, W / 2, H / 2)).copyTo(even.u);
    frame.v(cv::Rect(0, 0, W / 2, H / 2)).copyTo(even.v);
    return even;
}

// Takes the pictures of every request from `i` on that falls on frame `fi`
// into `into`; returns the first request past them.
size_t _shoot(const FrameShots& shots, size_t i, int64_t fi, const YuvFrame& frame,
              std::vector<std::string>& into) {
    for (; i < shots.requests.size() && shots.requests[i].frame == fi; ++i)
        into[i] = shots.take(frame.y, frame.u, frame.v, shots.requests[i].rect);
    return i;
}

fs::path _beside(const fs::path& out, const std::string& suffix) {
    return out.parent_path() / u8path(u8string(out.stem()) + suffix);
}

}  // namespace

// 4:2:0 and 4:2:2 encoders refuse odd sizes, and the mosaic's even-aligned
// rectangles never reach an odd last column or row, which is dropped.
FrameSize encoded_size(FrameSize size) {
    return {size.w > 1 ? size.w & ~1 : size.w, size.h > 1 ? size.h & ~1 : size.h};
}

int64_t encode_pass(const std::string& path, const std::string& tmp_video, const Args& enc,
                    const MosaicPlan& plan, int64_t n_frames, FrameSize size, const ClipInfo& info,
                    int64_t n_read, HideStyle style, FrameShots* shots, bool with_audio) {
    StepTimer timer("encode pass");
    // Requests in frame order let the loop check one request a frame.
    size_t next_shot = 0;
    if (shots) {
        const auto& q = shots->requests;
        if (!std::is_sorted(q.begin(), q.end(),
                            [](const auto& a, const auto& b) { return a.frame < b.frame; }))
            throw std::invalid_argument("frame shots must come in frame order");
        shots->before.assign(q.size(), std::string());
        shots->after.assign(q.size(), std::string());
        while (next_shot < q.size() && q[next_shot].frame < 0)
            ++next_shot;
    }
    const std::string ff = ffmpeg_bin();
    const std::string rate = info.rate && !info.rate->empty() ? *info.rate : _fallback_rate(path);
    const FrameSize even = encoded_size(size);
    const int W = even.w, H = even.h;

    // Declared before the encoder, so the decoder is closed too when the
    // encoder cannot be started.
    YUVReader reader(path, size, info);
    const Args threaded = encoder_threads(enc, size);
    const Args colour = color_args(info);
    Child encoder(with_audio
                      ? direct_encode_command(ff, reader.pix_fmt, W, H, rate, threaded, colour,
                                              path, info.timecode.value_or(""), tmp_video)
                      : encode_command(ff, reader.pix_fmt, W, H, rate, threaded, colour, tmp_video),
                  {Stdio::Pipe, Stdio::Inherit, Stdio::Pipe});

    int64_t fi = 0;
    const double t0 = now_seconds();
    YuvFrame decoded, cropped;
    // An error escaping this loop leaves both children to their owners'
    // destructors, which kill and reap them.
    while (reader.read(decoded)) {
        check_interrupted();
        YuvFrame& frame = _even_frame(decoded, even, cropped);
        const bool shoot =
            shots && next_shot < shots->requests.size() && shots->requests[next_shot].frame == fi;
        if (shoot) _shoot(*shots, next_shot, fi, frame, shots->before);
        if (auto it = plan.find(fi); it != plan.end())
            for (const BoxF& box : it->second)
                hide_yuv(frame.y, frame.u, frame.v, box, W, H, style);
        if (shoot) next_shot = _shoot(*shots, next_shot, fi, frame, shots->after);
        if (!encoder.write_all(frame.data(), frame.nbytes())) break;  // the encoder quit
        ++fi;
        if (fi % 10 == 0) progress("writing", fi, n_frames, t0);
    }
    reader.close();
    encoder.close_stdin();
    std::string err = encoder.read_all_stderr();
    const ExitStatus st = encoder.wait();
    check_interrupted();
    // An encoder the system ended says nothing; the file size limit's
    // SIGXFSZ, for one, is a full disk in all but name.
    if (!st.ended_by.empty() && trim(err).empty())
        throw MediaError("encoder stopped: " + st.ended_by);
    if (!st.success() || fi == 0) throw MediaError(_last_line(err));
    // A decoder that complained and stopped short of the frames the search
    // read met a damaged file: a shorter video would pass for finished. The
    // container's count is no measure: a healthy file may overstate it.
    // Not a MediaError, as no other encoder would do better.
    const std::string& damage = reader.errors();
    int64_t expected = n_read < 0 ? n_frames : n_read;
    // Short of the container's count too: only missing data is damage.
    if (!damage.empty() && fi >= expected && fi < info.frames) {
        const int64_t present = _packets_present(path);
        if (present >= 0 && present < info.frames) expected = info.frames;
    }
    if (!damage.empty() && fi < expected)
        throw std::runtime_error("the video breaks off after frame " + std::to_string(fi) + " of " +
                                 std::to_string(expected) + ": " + _decoder_error(damage));
    if (!damage.empty()) std::cerr << damage << std::flush;
    progress("writing", fi, n_frames, t0);
    log("");
    return fi;
}

void render(const std::string& path, const std::string& out, const MosaicPlan& plan,
            int64_t n_frames, FrameSize size, const ClipInfo& info, const std::string& codec,
            int64_t n_read, HideStyle style, FrameShots* shots) {
    render(path, out, plan, n_frames, size, info,
           encoder_candidates(codec, info, encoded_size(size)), n_read, style, shots);
}

void render(const std::string& path, const std::string& out, const MosaicPlan& plan,
            int64_t n_frames, FrameSize size, const ClipInfo& info,
            const std::vector<Args>& candidates, int64_t n_read, HideStyle style,
            FrameShots* shots) {
    const std::string ff = ffmpeg_bin();
    const fs::path outp = u8path(out);
    const fs::path tmp_video = _beside(outp, ".video-tmp.mov");
    // Removed on every way out, errors of any kind included.
    ScopedRemove video_guard(tmp_video);
    const FrameSize even = encoded_size(size);
    if (even.w != size.w || even.h != size.h)
        log("  \u26a0 odd frame size " + std::to_string(size.w) + "\u00d7" +
            std::to_string(size.h) + ": the output is " + std::to_string(even.w) + "\u00d7" +
            std::to_string(even.h));

    // The mux writes a temporary file that is renamed onto the output only
    // once complete: an interrupted run must never leave a partial video
    // under the final name, where the next run would take it as done.
    const fs::path tmp_out = _beside(outp, ".mux-tmp.mov");
    ScopedRemove out_guard(tmp_out);
    const auto finish = [&] {
        std::error_code ec;
        fs::rename(tmp_out, outp, ec);
        if (ec) throw MediaError("could not save " + out + ": " + ec.message());
        out_guard.release();
    };
    // One run instead of two where it writes the same file. Whatever fails
    // in it is left to the encode and mux below, which say what fails.
    if (!candidates.empty() && encodes_into_output(candidates.front(), size)) {
        bool written = false;
        try {
            encode_pass(path, u8string(tmp_out), candidates.front(), plan, n_frames, size, info,
                        n_read, style, shots, true);
            written = true;
        } catch (const MediaError&) {
            std::error_code ec;
            fs::remove(tmp_out, ec);
        }
        if (written) return finish();
    }

    std::optional<MediaError> last_err;
    for (const Args& enc : candidates) {
        try {
            encode_pass(path, u8string(tmp_video), enc, plan, n_frames, size, info, n_read, style,
                        shots);
            last_err.reset();
            break;
        } catch (const MediaError& e) {
            last_err = e;
            log("");
            log("  " + enc.at(1) + " not available here (" + e.what() +
                "); trying the next encoder\u2026");
            std::error_code ec;
            fs::remove(tmp_video, ec);
        }
    }
    if (last_err)
        throw MediaError("could not encode video: " + _missing_encoder_hint(last_err->what()));

    StepTimer mux_timer("mux");
    const std::string tc = info.timecode.value_or("");
    bool muxed = false;
    for (const Args& cmd : mux_commands(ff, u8string(tmp_video), path, tc, u8string(tmp_out))) {
        if (run_inherit(cmd).success()) {
            muxed = true;
            break;
        }
    }
    std::error_code ec;
    fs::remove(tmp_video, ec);
    if (!muxed) throw MediaError("ffmpeg failed while adding audio");
    finish();
}

}  // namespace qlcore
