// render with ffmpeg on generated clips: output formats per codec, colour
// tags, audio and timecode carried over, the one run into the output, and an
// output that never exists half-made. The render's own rules, with fakes for
// ffmpeg, are in render_rules_test.cpp.
#include "encode/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>

#include "encode/encoders.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/json_text.h"
#include "platform/subprocess.h"
#include "support/test_support.h"

using namespace qlcore;
namespace fs = std::filesystem;
using qltest::names_in;
using qltest::ScopedTempDir;

namespace {

const Args X264 = {"-c:v", "libx264", "-crf", "17", "-preset", "veryfast", "-pix_fmt", "yuv420p"};

json stream_of(const fs::path& clip, const std::string& type) {
    json probe = parse_json(qltest::probe_json(clip));
    for (const auto& s : probe.at("streams"))
        if (s.value("codec_type", "") == type) return s;
    return json();
}

std::string timecode_of(const fs::path& clip) {
    json probe = parse_json(qltest::probe_json(clip));
    for (const auto& s : probe.at("streams"))
        if (s.contains("tags") && s["tags"].contains("timecode"))
            return s["tags"]["timecode"].get<std::string>();
    return "";
}

// A small 10-bit clip with audio, a timecode and HLG colour tags.
fs::path ten_bit_clip(const fs::path& out, const std::string& codec, const std::string& pix_fmt,
                      std::vector<std::string> extra = {}) {
    qltest::ClipSpec s;
    s.width = 320;
    s.height = 180;
    s.frames = 12;
    s.codec = codec;
    s.pix_fmt = pix_fmt;
    s.audio = true;
    s.timecode = "10:00:00:00";
    // Tagged on the frames: ffmpeg 5.1 lets frame properties override the
    // encoder's colour options.
    s.extra = {"-vf",
               "setparams=color_primaries=bt2020:color_trc=arib-std-b67:"
               "colorspace=bt2020nc:range=tv"};
    s.extra.insert(s.extra.end(), extra.begin(), extra.end());
    return qltest::make_clip(out, s);
}

// One box in every frame, as the clip processor would plan a face.
MosaicPlan plan_for(int frames) {
    MosaicPlan plan;
    for (int f = 0; f < frames; ++f)
        plan[f].push_back(BoxF{100.f + f, 50.f, 60.f, 80.f});
    return plan;
}

std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// The program ignores SIGPIPE at start-up (an encoder that quits must fail
// a write, not end the program); so does this test program.
class IgnoreSigpipe : public testing::Environment {
  public:
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
};
const auto* const ignore_sigpipe = testing::AddGlobalTestEnvironment(new IgnoreSigpipe);

}  // namespace

TEST(Render, TenBitSourcesForEachCodecKeepColourAudioAndTimecode) {
    ScopedTempDir dir;
    const fs::path prores_src = ten_bit_clip(dir / "p.mov", "prores_ks", "yuv422p10le");
    const fs::path hevc_src = ten_bit_clip(dir / "h.mov", "libx265", "yuv420p10le",
                                           {"-tag:v", "hvc1", "-x265-params", "log-level=error"});
    struct Case {
        fs::path src;
        std::string codec, out_codec, pix_fmt;
    };
    const Case cases[] = {{prores_src, "hevc", "hevc", "yuv420p10le"},
                          {prores_src, "h264", "h264", "yuv420p"},
                          {hevc_src, "prores", "prores", "yuv422p10le"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src.filename().string() + " as " + c.codec);
        const ClipInfo info = probe(c.src.string());
        ASSERT_EQ(info.bits, 10);
        const fs::path out = dir / ("out_" + c.codec + ".mov");
        testing::internal::CaptureStdout();
        render(
            {c.src.string(), out.string(), plan_for(12), 12, -1, frame_size(c.src.string()), info},
            c.codec);
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(said.find("not available here"), std::string::npos) << said;

        const json v = stream_of(out, "video");
        EXPECT_EQ(v.value("codec_name", ""), c.out_codec);
        EXPECT_EQ(v.value("pix_fmt", ""), c.pix_fmt);
        if (c.codec == "hevc") {
            EXPECT_EQ(v.value("codec_tag_string", ""), "hvc1");
        }
        EXPECT_EQ(v.value("color_primaries", ""), "bt2020");
        EXPECT_EQ(v.value("color_transfer", ""), "arib-std-b67");
        EXPECT_EQ(v.value("color_space", ""), "bt2020nc");
        EXPECT_EQ(v.value("color_range", ""), "tv");
        EXPECT_EQ(stream_of(out, "audio").value("codec_type", ""), "audio");
        EXPECT_EQ(timecode_of(out), "10:00:00:00");
        EXPECT_EQ(qltest::count_frames(out), 12);
    }
    EXPECT_EQ(names_in(dir.path()),
              (std::vector<std::string>{"h.mov", "out_h264.mov", "out_hevc.mov", "out_prores.mov",
                                        "p.mov"}))
        << "no temporary file stays behind";
}

// One run straight into the output must write the very file the encode and
// the mux after it write, audio, timecode and colour tags included, for
// every encoder that takes that way; a folder name with quotes, brackets and
// a colon must not get in its way.
TEST(Render, OneRunIntoTheOutputWritesTheSameFileAsEncodeAndMux) {
    ScopedTempDir tmp;
    const fs::path dir = tmp / "it's [a]|b:c";
    fs::create_directories(dir);
    const fs::path src = ten_bit_clip(dir / "p.mov", "prores_ks", "yuv422p10le");
    const ClipInfo info = probe(src.string());
    const FrameSize size = frame_size(src.string());
    for (const char* codec : {"prores", "h264", "hevc"}) {
        SCOPED_TRACE(codec);
        const Args enc = encoder_candidates(codec, info, size).back();
        ASSERT_TRUE(encodes_into_output(enc));
        const fs::path direct = dir / (std::string(codec) + "_direct.mov");
        const fs::path video = dir / (std::string(codec) + "_video.mov");
        const fs::path muxed = dir / (std::string(codec) + "_muxed.mov");
        testing::internal::CaptureStdout();
        render({src.string(), direct.string(), plan_for(12), 12, -1, size, info},
               std::vector<Args>{enc});
        encode_pass({src.string(), video.string(), plan_for(12), 12, -1, size, info},
                    video.string(), enc);
        testing::internal::GetCapturedStdout();
        const Args mux = mux_commands(ffmpeg_bin(), video.string(), src.string(),
                                      info.timecode.value_or(""), muxed.string())[0];
        ASSERT_EQ(run_capture(mux).status, 0);
        const std::string bytes = read_bytes(direct);
        EXPECT_GT(bytes.size(), 1000u);
        EXPECT_TRUE(bytes == read_bytes(muxed)) << "the one-run file differs from the muxed one";
        EXPECT_EQ(timecode_of(direct), "10:00:00:00");
        EXPECT_EQ(stream_of(direct, "audio").value("codec_name", ""), "pcm_s16le");
    }
}

// Audio the output cannot hold as it is fails the one run; the encode and
// the mux after it then convert it, as they always did.
TEST(Render, AudioTheOutputCannotHoldFallsBackToTheMuxAttempts) {
    ScopedTempDir dir;
    qltest::ClipSpec spec;
    spec.frames = 25;  // a second of sound: the encoder holds back the first frames' worth
    spec.audio = true;
    spec.extra = {"-c:a", "libopus"};
    const fs::path src = qltest::make_clip(dir / "a.mkv", spec);
    const ClipInfo info = probe(src.string());
    const FrameSize size = frame_size(src.string());
    ASSERT_EQ(stream_of(src, "audio").value("codec_name", ""), "opus");
    testing::internal::CaptureStdout();
    render({src.string(), (dir / "a_mosaic.mov").string(), plan_for(25), 25, -1, size, info},
           "prores");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(stream_of(dir / "a_mosaic.mov", "audio").value("codec_name", ""), "pcm_s24le");
    EXPECT_EQ(qltest::count_frames(dir / "a_mosaic.mov"), 25);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.mkv", "a_mosaic.mov"}));
}

// The remedy is named from ffmpeg's own words for an encoder it lacks.
TEST(Render, AnFfmpegWithoutTheEncoderNamesTheRemedy) {
    ScopedTempDir dir;
    qltest::ClipSpec spec;
    spec.frames = 4;
    const fs::path src = qltest::make_clip(dir / "a.mov", spec);
    const ClipInfo info = probe(src.string());
    std::string msg = "(none)";
    testing::internal::CaptureStdout();
    try {
        render({src.string(), (dir / "a_mosaic.mov").string(), {}, 4, -1, {320, 240}, info},
               std::vector<Args>{{"-c:v", "qlcore_no_such_encoder"}});
    } catch (const MediaError& e) {
        msg = e.what();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(msg,
              "could not encode video: this ffmpeg cannot encode with qlcore_no_such_encoder; "
              "put a full ffmpeg (one with qlcore_no_such_encoder) on PATH");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.mov"}));
}

// What ffmpeg says while writing the output reaches the console, as the
// mux's messages always did: a drop-frame timecode on 23.976 fps footage is
// left out with ffmpeg's reason.
TEST(Render, TheOneRunShowsWhatFfmpegSays) {
    ScopedTempDir dir;
    qltest::ClipSpec spec;
    spec.frames = 6;
    spec.rate = "24000/1001";
    spec.audio = true;
    const fs::path src = qltest::make_clip(dir / "a.mov", spec);
    ClipInfo info = probe(src.string());
    info.timecode = "01:00:00;00";
    const FrameSize size = frame_size(src.string());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    render({src.string(), (dir / "a_mosaic.mov").string(), plan_for(6), 6, -1, size, info},
           "prores");
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(err.find("Drop frame is only allowed with multiples of 30000/1001 FPS"),
              std::string::npos)
        << err;
    EXPECT_EQ(said.find("not available here"), std::string::npos) << said;
    EXPECT_EQ(qltest::count_frames(dir / "a_mosaic.mov"), 6);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.mov", "a_mosaic.mov"}));
}

TEST(Render, AFailedMuxLeavesNoOutputAndNoTemporaryFiles) {
    ScopedTempDir dir;
    qltest::ClipSpec spec;
    spec.frames = 4;
    const fs::path src = qltest::make_clip(dir / "a.mov", spec);
    const ClipInfo info = probe(src.string());
    // A video the mov muxer refuses only once it has created its output file.
    const Args vp8 = {"-c:v", "libvpx", "-f", "matroska"};
    std::string msg = "(none)";
    testing::internal::CaptureStdout();
    try {
        render({src.string(), (dir / "a_mosaic.mov").string(), {}, 4, -1, {320, 240}, info},
               std::vector<Args>{vp8});
    } catch (const MediaError& e) {
        msg = e.what();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(msg, "ffmpeg failed while adding audio");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.mov"}));
}

// The search's count is the measure, not the container's: a decoder that
// complains and drops a frame the container counts has not met a break-off,
// a source whose data ends half-way has.
TEST(Render, ADroppedLastFrameIsNoBreakOffButACutSourceIs) {
    ScopedTempDir dir;
    qltest::ClipSpec spec;
    spec.frames = 20;
    const fs::path over = qltest::make_clip(dir / "over.mov", spec);
    qltest::spoil_last_frame(over);
    ClipInfo info = probe(over.string());
    ASSERT_EQ(info.frames, 20);
    const fs::path out = dir / "over_mosaic.mov";
    // The search read 19 frames of the 20 the container lists.
    EXPECT_NO_THROW(render({over.string(), out.string(), plan_for(20), 20, 19, {320, 240}, info},
                           std::vector<Args>{X264}));
    EXPECT_EQ(qltest::count_frames(out), 19);

    spec.frames = 100;
    spec.extra = {"-movflags", "+faststart"};
    const fs::path whole = qltest::make_clip(dir / "whole.mov", spec);
    const std::string bytes = read_bytes(whole);
    write_bytes(dir / "cut.mov", bytes.substr(0, bytes.size() / 2));
    info = probe((dir / "cut.mov").string());
    ASSERT_EQ(info.frames, 100);
    for (int64_t n_read : {int64_t{100}, int64_t{40}}) {
        try {
            // Both passes stop at the same place: the data really ends.
            render({(dir / "cut.mov").string(),
                    (dir / "cut_mosaic.mov").string(),
                    {},
                    100,
                    n_read,
                    {320, 240},
                    info},
                   std::vector<Args>{X264});
            ADD_FAILURE() << "a cut source was rendered";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("the video breaks off after frame "),
                      std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find(" of 100: "), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(dir / "cut_mosaic.mov"));
    }
}

// Every codec refuses odd sizes: the output drops the odd last column and
// row (which the mosaic cannot reach either) and says so.
TEST(Render, OddFrameSizesAreEncodedAtTheEvenSizeBelow) {
    ScopedTempDir dir;
    qltest::ClipSpec spec;
    spec.width = 161;
    spec.height = 121;
    spec.frames = 5;
    spec.source = "testsrc";   // testsrc2 rounds sizes to even
    spec.pix_fmt = "yuv444p";  // 4:2:0 sources cannot have odd sizes
    const fs::path src = qltest::make_clip(dir / "odd.mov", spec);
    const ClipInfo info = probe(src.string());
    const FrameSize size = frame_size(src.string());
    ASSERT_EQ(size.w, 161);
    for (const std::string codec : {"prores", "h264", "hevc"}) {
        const fs::path out = dir / (codec + "_mosaic.mov");
        testing::internal::CaptureStdout();
        try {
            render({src.string(), out.string(), plan_for(5), 5, -1, size, info}, codec);
        } catch (const std::exception& e) {
            ADD_FAILURE() << codec << ": " << e.what();
        }
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_NE(said.find("  \u26a0 odd frame size 161\u00d7121: the output is 160\u00d7120\n"),
                  std::string::npos)
            << codec << ": " << said;
        EXPECT_EQ(said.find("not available here"), std::string::npos) << codec << ": " << said;
        const json video = stream_of(out, "video");
        EXPECT_EQ(video.value("width", 0), 160) << codec;
        EXPECT_EQ(video.value("height", 0), 120) << codec;
        EXPECT_EQ(qltest::count_frames(out), 5) << codec;
    }
}
