#include "media/ffmpeg_commands.h"

#include <algorithm>

namespace qlcore {

std::string media_path(const std::string& path) {
    if (!path.empty() && (path[0] == '-' || path.find(':') != std::string::npos))
        return "file:" + path;
    return path;
}

Args probe_command(const std::string& ffprobe, const std::string& path) {
    return {ffprobe,         "-v",           "error",         "-print_format", "json",
            "-show_streams", "-show_format", media_path(path)};
}

Args banner_command(const std::string& ffmpeg, const std::string& path) {
    return {ffmpeg, "-hide_banner", "-i", media_path(path)};
}

Args first_frame_command(const std::string& ffmpeg, const std::string& path) {
    return {ffmpeg, "-v",   "error", "-i", media_path(path), "-map", "0:v:0", "-frames:v",
            "1",    "-c:v", "png",   "-f", "image2pipe",     "-"};
}

Args first_frame_size_command(const std::string& ffmpeg, const std::string& path) {
    Args cmd = first_frame_command(ffmpeg, path);
    cmd.insert(std::find(cmd.begin(), cmd.end(), "-f"),
               {"-pix_fmt", "gray", "-compression_level", "0"});
    // One decoding thread: frame threads hold the first picture back until
    // each has a frame of its own, and hold a 4K frame apiece.
    cmd.insert(std::find(cmd.begin(), cmd.end(), "-i"), {"-threads", "1"});
    return cmd;
}

std::string bgr_filter(int w, int h, int every) {
    std::string scale = "scale=" + std::to_string(w) + ":" + std::to_string(h) + ":flags=bilinear";
    if (every > 1) return "select=not(mod(n\\," + std::to_string(every) + "))," + scale;
    return scale;
}

Args bgr_reader_command(const std::string& ffmpeg, const Args& hwaccel, const std::string& path,
                        int w, int h, int every) {
    Args cmd{ffmpeg, "-v", "error"};
    cmd.insert(cmd.end(), hwaccel.begin(), hwaccel.end());
    cmd.insert(cmd.end(),
               {"-i", media_path(path), "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                bgr_filter(w, h, every), "-f", "rawvideo", "-pix_fmt", "bgr24", "-"});
    return cmd;
}

Args yuv_reader_command(const std::string& ffmpeg, const Args& hwaccel, const std::string& path,
                        const std::string& pix_fmt) {
    Args cmd{ffmpeg, "-v", "error"};
    cmd.insert(cmd.end(), hwaccel.begin(), hwaccel.end());
    cmd.insert(cmd.end(), {"-i", media_path(path), "-map", "0:v:0", "-fps_mode", "passthrough",
                           "-f", "rawvideo", "-pix_fmt", pix_fmt, "-"});
    return cmd;
}

Args encoders_command(const std::string& ffmpeg) {
    return {ffmpeg, "-hide_banner", "-encoders"};
}

namespace {

// The encode up to its output options.
Args _encode_input(const std::string& ffmpeg, const std::string& pix_fmt, int w, int h,
                   const std::string& rate, const Args& colour) {
    Args cmd{ffmpeg,
             "-hide_banner",
             "-loglevel",
             "error",
             "-y",
             "-f",
             "rawvideo",
             "-pix_fmt",
             pix_fmt,
             "-s",
             std::to_string(w) + "x" + std::to_string(h),
             "-r",
             rate};
    // The colour options describe the raw frames too: ffmpeg takes an
    // encoder's colour properties from its frames, so given as output options
    // only, ProRes (for one) was written untagged.
    cmd.insert(cmd.end(), colour.begin(), colour.end());
    cmd.insert(cmd.end(), {"-i", "-"});
    return cmd;
}

// What the mux adds besides the video: the source's audio, its metadata and
// the timecode.
Args _mux_maps() {
    return {"-map", "0:v:0", "-map", "1:a?", "-map_metadata", "1"};
}

Args _timecode(const std::string& timecode) {
    if (timecode.empty()) return {};
    return {"-timecode", timecode};
}

}  // namespace

Args encode_command(const std::string& ffmpeg, const std::string& pix_fmt, int w, int h,
                    const std::string& rate, const Args& encoder, const Args& colour,
                    const std::string& tmp_video) {
    Args cmd = _encode_input(ffmpeg, pix_fmt, w, h, rate, colour);
    cmd.insert(cmd.end(), encoder.begin(), encoder.end());
    cmd.insert(cmd.end(), colour.begin(), colour.end());
    cmd.push_back("-an");
    cmd.push_back(media_path(tmp_video));
    return cmd;
}

Args direct_encode_command(const std::string& ffmpeg, const std::string& pix_fmt, int w, int h,
                           const std::string& rate, const Args& encoder, const Args& colour,
                           const std::string& source, const std::string& timecode,
                           const std::string& out) {
    Args cmd = _encode_input(ffmpeg, pix_fmt, w, h, rate, colour);
    // With two inputs ffmpeg reads each on a thread of its own and polls
    // them, sleeping 10 ms whenever the frames are not there yet, and the
    // queue holds 8 raw frames (200 MB at 4K). Without the threads both are
    // read in turn, as the encode alone reads its one input.
    cmd.insert(cmd.end() - 2, {"-thread_queue_size", "0"});
    cmd.insert(cmd.end(), {"-thread_queue_size", "0", "-i", media_path(source)});
    const Args maps = _mux_maps();
    cmd.insert(cmd.end(), maps.begin(), maps.end());
    cmd.insert(cmd.end(), encoder.begin(), encoder.end());
    cmd.insert(cmd.end(), colour.begin(), colour.end());
    cmd.insert(cmd.end(), {"-metadata:s:v:0", "handler_name=VideoHandler", "-c:a", "copy"});
    const Args tc = _timecode(timecode);
    cmd.insert(cmd.end(), tc.begin(), tc.end());
    cmd.push_back(media_path(out));
    return cmd;
}

std::vector<Args> mux_commands(const std::string& ffmpeg, const std::string& tmp_video,
                               const std::string& source, const std::string& timecode,
                               const std::string& out) {
    Args base{ffmpeg, "-hide_banner",        "-loglevel", "error",           "-y",
              "-i",   media_path(tmp_video), "-i",        media_path(source)};
    const Args maps = _mux_maps();
    base.insert(base.end(), maps.begin(), maps.end());
    base.insert(base.end(), {"-c:v", "copy"});
    const Args tc = _timecode(timecode);
    auto with = [&](Args audio, bool timecode_too) {
        Args cmd = base;
        cmd.insert(cmd.end(), audio.begin(), audio.end());
        if (timecode_too) cmd.insert(cmd.end(), tc.begin(), tc.end());
        cmd.push_back(media_path(out));
        return cmd;
    };
    return {with({"-c:a", "copy"}, true), with({"-c:a", "pcm_s24le"}, true),
            with({"-c:a", "pcm_s24le"}, false)};
}

}  // namespace qlcore
