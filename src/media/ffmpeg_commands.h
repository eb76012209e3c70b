// Every command line the program gives ffmpeg and ffprobe, in one place.
//
// What the program relies on from the tools:
// - ffprobe's JSON report: "streams" (codec_type, avg_frame_rate,
//   r_frame_rate, nb_frames, pix_fmt, colour fields, tags.timecode) and
//   "format".tags; any status but 0 is a failure.
// - ffmpeg's input banner on stderr ("Duration:", "Video:", "timecode").
// - one PNG on stdout for the first picture.
// - raw frames back to back, each exactly its byte length, every decoded
//   frame once in decoding order ("-fps_mode passthrough").
// - the encoder listing, each name between spaces.
// - an encoder reading rawvideo on stdin: status 0 when written, otherwise
//   an error text whose last line names the problem.
// - a mux run: status 0 when the output holds the video, the source's audio,
//   global metadata and the timecode if given.
// Commands whose errors reach the console ask for errors only.
#pragma once

#include <string>
#include <vector>

namespace qlcore {

using Args = std::vector<std::string>;

// A path as ffmpeg must read it: always as a file. A name starting with "-"
// would be an option and one holding ":" a protocol, so those get "file:".
std::string media_path(const std::string& path);

Args probe_command(const std::string& ffprobe, const std::string& path);
Args banner_command(const std::string& ffmpeg, const std::string& path);
Args first_frame_command(const std::string& ffmpeg, const std::string& path);
// The first frame as the cheapest PNG that still has its size: one grey
// plane, stored without compression, decoded on one thread. A 4K 10-bit
// frame as a deflated 16-bit RGB picture took seconds, for two numbers.
Args first_frame_size_command(const std::string& ffmpeg, const std::string& path);

// The filter text of the BGR reader (select for every > 1, then scale).
std::string bgr_filter(int w, int h, int every);

Args bgr_reader_command(const std::string& ffmpeg, const Args& hwaccel, const std::string& path,
                        int w, int h, int every);
Args yuv_reader_command(const std::string& ffmpeg, const Args& hwaccel, const std::string& path,
                        const std::string& pix_fmt);

Args encoders_command(const std::string& ffmpeg);

Args encode_command(const std::string& ffmpeg, const std::string& pix_fmt, int w, int h,
                    const std::string& rate, const Args& encoder, const Args& colour,
                    const std::string& tmp_video);

// The encode and the first mux attempt in one run, straight into `out`: the
// source's audio, metadata and timecode are added as the mux adds them, and
// the video track gets the handler name the mux takes from the temporary
// file (the timecode track takes its name from it), so the file is the same.
Args direct_encode_command(const std::string& ffmpeg, const std::string& pix_fmt, int w, int h,
                           const std::string& rate, const Args& encoder, const Args& colour,
                           const std::string& source, const std::string& timecode,
                           const std::string& out);

// The three mux attempts, in the order they are tried.
std::vector<Args> mux_commands(const std::string& ffmpeg, const std::string& tmp_video,
                               const std::string& source, const std::string& timecode,
                               const std::string& out);

}  // namespace qlcore
