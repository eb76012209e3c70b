#include "encode/render.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "encode/encoders.h"
#include "media/console.h"
#include "media/frame_readers.h"
#include "mosaic/mosaic.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/numbers.h"
#include "platform/step_timer.h"

namespace qlcore {
namespace {

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
    return missing_encoder_message(error.substr(unknown.size(), error.size() - unknown.size() - 1));
}

// A decoder's last error line without ffmpeg's "[demuxer @ 0x...] " tag.
std::string _decoder_error(const std::string& text) {
    std::string line = _last_line(text);
    size_t tag_end = line.find("] ");
    if (!line.empty() && line[0] == '[' && tag_end != std::string::npos)
        line = line.substr(tag_end + 2);
    return line;
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

int64_t encode_pass(const RenderJob& job, const std::string& tmp_video, const Args& enc,
                    RenderMedia& media, bool with_audio) {
    StepTimer timer("encode pass");
    FrameShots* const shots = job.shots;
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
    const ClipInfo& info = job.info;
    const std::string ff = media.ffmpeg();
    const std::string rate =
        info.rate && !info.rate->empty() ? *info.rate : media.fallback_rate(job.source);
    const FrameSize even = encoded_size(job.size);
    const int W = even.w, H = even.h;

    // Opened before the encoder, so the decoder is closed too when the
    // encoder cannot be started.
    std::unique_ptr<YuvSource> reader = media.open(job.source, job.size, info);
    const Args threaded = encoder_threads(enc, job.size);
    const Args colour = color_args(info);
    std::unique_ptr<EncoderSink> encoder = media.start(
        with_audio
            ? direct_encode_command(ff, reader->pix_fmt(), W, H, rate, threaded, colour, job.source,
                                    info.timecode.value_or(""), tmp_video)
            : encode_command(ff, reader->pix_fmt(), W, H, rate, threaded, colour, tmp_video));

    int64_t fi = 0;
    const double t0 = now_seconds();
    YuvFrame decoded, cropped;
    // An error escaping this loop leaves both children to their owners'
    // destructors, which end and reap them.
    while (reader->read(decoded)) {
        check_interrupted();
        YuvFrame& frame = _even_frame(decoded, even, cropped);
        const bool shoot =
            shots && next_shot < shots->requests.size() && shots->requests[next_shot].frame == fi;
        if (shoot) _shoot(*shots, next_shot, fi, frame, shots->before);
        if (auto it = job.plan.find(fi); it != job.plan.end())
            for (const BoxF& box : it->second)
                hide_yuv(frame.y, frame.u, frame.v, box, W, H, job.style);
        if (shoot) next_shot = _shoot(*shots, next_shot, fi, frame, shots->after);
        if (!encoder->write(frame.data(), frame.nbytes())) break;  // the encoder quit
        ++fi;
        if (fi % 10 == 0) progress("writing", fi, job.n_frames, t0);
    }
    reader->close();
    std::string err;
    const ExitStatus st = encoder->finish(err);
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
    const std::string& damage = reader->errors();
    int64_t expected = job.n_read < 0 ? job.n_frames : job.n_read;
    // Short of the container's count too: only missing data is damage.
    if (!damage.empty() && fi >= expected && fi < info.frames) {
        const int64_t present = media.packets_present(job.source);
        if (present >= 0 && present < info.frames) expected = info.frames;
    }
    if (!damage.empty() && fi < expected)
        throw std::runtime_error("the video breaks off after frame " + std::to_string(fi) + " of " +
                                 std::to_string(expected) + ": " + _decoder_error(damage));
    if (!damage.empty()) std::cerr << damage << std::flush;
    progress("writing", fi, job.n_frames, t0);
    log("");
    // The mux's messages reach the console; so do the same run's here (a
    // timecode the muxer cannot keep, for one).
    if (with_audio && !trim(err).empty()) std::cerr << err << std::flush;
    return fi;
}

void render(const RenderJob& job, const std::string& codec) {
    render(job, encoder_candidates(codec, job.info, encoded_size(job.size)));
}

void render(const RenderJob& job, const std::vector<Args>& candidates, RenderMedia& media) {
    const std::string ff = media.ffmpeg();
    const fs::path outp = u8path(job.out);
    const fs::path tmp_video = _beside(outp, ".video-tmp.mov");
    // Removed on every way out, errors of any kind included.
    ScopedRemove video_guard(tmp_video);
    const FrameSize size = job.size, even = encoded_size(size);
    if (even.w != size.w || even.h != size.h)
        log("  \u26a0 odd frame size " + std::to_string(size.w) + "\u00d7" +
            std::to_string(size.h) + ": the output is " + std::to_string(even.w) + "\u00d7" +
            std::to_string(even.h));

    // The mux writes a temporary file that is renamed onto the output only
    // once complete: an interrupted run must never leave a partial video
    // under the final name, where the next run would take it as done.
    const fs::path tmp_out = _beside(outp, ".mux-tmp.mov");
    ScopedRemove out_guard(tmp_out);
    // A complete video is never thrown away because it could not take the
    // output's name (on Windows, an editor that imported the old one holds
    // it open): it stays beside the output, and the message says where.
    const auto finish = [&] {
        const Replaced done = replace_file(tmp_out, outp);
        out_guard.release();
        if (done.ok) return;
        const fs::path kept = _beside(outp, ".new" + u8string(outp.extension()));
        const fs::path& where = replace_file(tmp_out, kept, 0).ok ? kept : tmp_out;
        const std::string beside = "; the new version is " + u8string(where);
        if (done.in_use) throw MediaError(job.out + " is open in another program" + beside);
        throw MediaError("could not save " + job.out + ": " + done.reason + beside);
    };
    // One run instead of two where it writes the same file. Whatever fails
    // in it is left to the encode and mux below, which say what fails.
    if (!candidates.empty() && encodes_into_output(candidates.front())) {
        bool written = false;
        try {
            encode_pass(job, u8string(tmp_out), candidates.front(), media, true);
            written = true;
        } catch (const MediaError&) {
            log("");  // ends the progress line it may have begun
            std::error_code ec;
            fs::remove(tmp_out, ec);
        }
        if (written) return finish();
    }

    std::optional<MediaError> last_err;
    for (const Args& enc : candidates) {
        try {
            encode_pass(job, u8string(tmp_video), enc, media);
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
    const std::string tc = job.info.timecode.value_or("");
    bool muxed = false;
    for (const Args& cmd :
         mux_commands(ff, u8string(tmp_video), job.source, tc, u8string(tmp_out))) {
        if (media.run(cmd).success()) {
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
