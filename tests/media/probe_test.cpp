#include "media/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "media/capture.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ClipSpec;
using qltest::ScopedTempDir;

namespace {

// Replaces PATH for the life of the guard.
class ScopedPath {
  public:
    explicit ScopedPath(const std::string& value) {
        if (const char* old = std::getenv("PATH")) old_ = old;
        ::setenv("PATH", value.c_str(), 1);
    }
    ~ScopedPath() {
        if (old_)
            ::setenv("PATH", old_->c_str(), 1);
        else
            ::unsetenv("PATH");
    }

  private:
    std::optional<std::string> old_;
};

// A folder holding only an "ffmpeg" link to the real one, so ffprobe is
// nowhere on the search path.
fs::path ffmpeg_only_dir(const ScopedTempDir& tmp) {
    fs::path dir = tmp / "bin";
    fs::create_directories(dir);
    auto real = find_on_path("ffmpeg");
    EXPECT_TRUE(real.has_value());
    fs::create_symlink(*real, dir / "ffmpeg");
    return dir;
}

ClipInfo from_json(const std::string& text) {
    ClipInfo info;
    parse_probe_json(text, info);
    return info;
}

std::string video_stream(const std::string& fields) {
    return R"({"streams": [{"codec_type": "video")" + (fields.empty() ? "" : ", " + fields) + "}]}";
}

// Clips shared by the tests that run the real tools.
class ProbeClips : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp_ = new ScopedTempDir();
        ClipSpec plain;
        plain.timecode = "01:00:00:00";
        plain.extra = {"-vf",
                       "setparams=range=tv:color_primaries=bt709:color_trc=bt709:"
                       "colorspace=bt709"};
        qltest::make_clip(*tmp_ / "plain.mov", plain);

        ClipSpec deep;
        deep.rate = "30000/1001";
        deep.pix_fmt = "yuv420p10le";
        deep.extra = {"-vf",
                      "setparams=range=tv:color_primaries=bt2020:color_trc=smpte2084:"
                      "colorspace=bt2020nc"};
        qltest::make_clip(*tmp_ / "deep.mov", deep);

        ClipSpec odd;
        odd.codec = "ffv1";
        odd.frames = 3;
        odd.extra = {"-vf", "scale=321:241"};
        qltest::make_clip(*tmp_ / "odd.mkv", odd);

        std::ofstream(*tmp_ / "notes.txt") << "not a video at all\n";
    }
    static void TearDownTestSuite() {
        delete tmp_;
        tmp_ = nullptr;
    }
    static std::string clip(const std::string& name) { return (*tmp_ / name).string(); }

    static ScopedTempDir* tmp_;
};

ScopedTempDir* ProbeClips::tmp_ = nullptr;

}  // namespace

TEST(RateValue, ReadsRationalsAndDecimals) {
    EXPECT_DOUBLE_EQ(_rate_value("30000/1001"), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(_rate_value("25"), 25.0);
    EXPECT_DOUBLE_EQ(_rate_value("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(_rate_value("2997/100"), 29.97);
}

TEST(RateValue, UnreadableTextGivesZero) {
    for (const char* bad : {"", "0/0", "25/0", "1/2/3", "a/1", "1/b", "fps", "25 fps", "/"})
        EXPECT_EQ(_rate_value(std::string(bad)), 0.0) << bad;
    EXPECT_EQ(_rate_value(std::nullopt), 0.0);
    EXPECT_EQ(_rate_value("1/1e-320"), 0.0);  // would be infinite
}

TEST(SnapRate, SnapsNearStandardRates) {
    EXPECT_EQ(snap_rate("2997/100", std::nullopt), "30000/1001");
    EXPECT_EQ(snap_rate("29.97", std::nullopt), "30000/1001");
    EXPECT_EQ(snap_rate("23.98", std::nullopt), "24000/1001");
    EXPECT_EQ(snap_rate("59.94", std::nullopt), "60000/1001");
    EXPECT_EQ(snap_rate("25/1", "50/1"), "25/1");
    EXPECT_EQ(snap_rate("0/0", "25/1"), "25/1");
}

TEST(SnapRate, KeepsTheClipsOwnTextWhenNothingSnaps) {
    EXPECT_EQ(snap_rate("15/1", std::nullopt), "15/1");
    EXPECT_EQ(snap_rate("12.5", "0/0"), "12.5");
    EXPECT_EQ(snap_rate("0/0", "15/1"), "15/1");
    // A later candidate that snaps wins over an earlier one that does not.
    EXPECT_EQ(snap_rate("15/1", "30/1"), "30/1");
}

TEST(SnapRate, AbsentWhenNoCandidateIsUsable) {
    EXPECT_EQ(snap_rate(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(snap_rate("0/0", "0/0"), std::nullopt);
    EXPECT_EQ(snap_rate("-25/1", "N/A"), std::nullopt);
}

TEST(SnapRate, ToleranceIsStrictlyBelowSixPerMille) {
    // 12500/497 lies exactly 0.6 % (of itself) above 25.
    EXPECT_EQ(snap_rate("12500/497", std::nullopt), "12500/497");
    EXPECT_EQ(snap_rate("12499/497", std::nullopt), "25/1");
    EXPECT_EQ(snap_rate("24.85", std::nullopt), "24.85");  // 0.604 % below 25
    EXPECT_EQ(snap_rate("24.86", std::nullopt), "25/1");
}

TEST(ParseProbeJson, ReadsTheFirstVideoStream) {
    ClipInfo info = from_json(R"({"streams": [
        {"codec_type": "audio", "avg_frame_rate": "0/0"},
        {"codec_type": "video", "avg_frame_rate": "2997/100", "r_frame_rate": "30000/1001",
         "nb_frames": "300", "pix_fmt": "yuv420p", "color_primaries": "bt709",
         "color_transfer": "bt709", "color_space": "bt709", "color_range": "tv"},
        {"codec_type": "video", "avg_frame_rate": "50/1", "nb_frames": "7",
         "pix_fmt": "yuv420p10le", "color_primaries": "bt2020"}]})");
    EXPECT_EQ(info.rate, "30000/1001");
    EXPECT_EQ(info.frames, 300);
    EXPECT_EQ(info.bits, 8);
    EXPECT_EQ(info.color_primaries, "bt709");
    EXPECT_EQ(info.color_transfer, "bt709");
    EXPECT_EQ(info.color_space, "bt709");
    EXPECT_EQ(info.color_range, "tv");
    EXPECT_EQ(info.timecode, std::nullopt);
}

TEST(ParseProbeJson, AVideoStreamWithoutRateDoesNotStopLaterOnes) {
    ClipInfo info = from_json(R"({"streams": [
        {"codec_type": "video", "avg_frame_rate": "0/0", "nb_frames": "1", "pix_fmt": "mjpeg"},
        {"codec_type": "video", "avg_frame_rate": "24000/1001", "nb_frames": "48"}]})");
    EXPECT_EQ(info.rate, "24000/1001");
    EXPECT_EQ(info.frames, 48);
}

TEST(ParseProbeJson, FrameCountsThatAreNotWholeNumbersGiveZero) {
    EXPECT_EQ(from_json(video_stream(R"("avg_frame_rate": "25/1", "nb_frames": "N/A")")).frames, 0);
    EXPECT_EQ(from_json(video_stream(R"("avg_frame_rate": "25/1")")).frames, 0);
    EXPECT_EQ(from_json(video_stream(R"("avg_frame_rate": "25/1", "nb_frames": "")")).frames, 0);
    EXPECT_EQ(from_json(video_stream(R"("avg_frame_rate": "25/1", "nb_frames": "12.5")")).frames,
              0);
}

TEST(ParseProbeJson, DeepPixelFormatsGiveTenBits) {
    for (const char* pf : {"yuv422p12le", "p010le", "yuv420p10le", "yuv444p16le", "yuv420p10be"})
        EXPECT_EQ(from_json(video_stream(std::string(R"("pix_fmt": ")") + pf + "\"")).bits, 10)
            << pf;
    for (const char* pf : {"yuv420p", "nv12", "yuvj420p", ""})
        EXPECT_EQ(from_json(video_stream(std::string(R"("pix_fmt": ")") + pf + "\"")).bits, 8)
            << pf;
}

TEST(ParseProbeJson, UnknownOrEmptyColourTagsStayAbsent) {
    ClipInfo info = from_json(video_stream(
        R"("color_primaries": "unknown", "color_transfer": "", "color_space": "bt709")"));
    EXPECT_EQ(info.color_primaries, std::nullopt);
    EXPECT_EQ(info.color_transfer, std::nullopt);
    EXPECT_EQ(info.color_space, "bt709");
    EXPECT_EQ(info.color_range, std::nullopt);
}

TEST(ParseProbeJson, TimecodeSources) {
    // Only on a timecode (data) track.
    EXPECT_EQ(from_json(R"({"streams": [{"codec_type": "video", "avg_frame_rate": "25/1"},
        {"codec_type": "data", "tags": {"timecode": "01:00:00:00"}}]})")
                  .timecode,
              "01:00:00:00");
    // Only in the container.
    EXPECT_EQ(from_json(R"({"streams": [{"codec_type": "video", "tags": {}}],
        "format": {"tags": {"timecode": "10:00:00;02"}}})")
                  .timecode,
              "10:00:00;02");
    // The video stream's own tag wins, even after a data stream set one.
    EXPECT_EQ(from_json(R"({"streams": [
        {"codec_type": "data", "tags": {"timecode": "02:00:00:00"}},
        {"codec_type": "video", "avg_frame_rate": "25/1", "tags": {"timecode": "03:00:00:00"}}],
        "format": {"tags": {"timecode": "04:00:00:00"}}})")
                  .timecode,
              "03:00:00:00");
    // An empty tag counts as none.
    EXPECT_EQ(from_json(R"({"streams": [{"codec_type": "video", "tags": {"timecode": ""}}],
        "format": {}})")
                  .timecode,
              std::nullopt);
}

TEST(ParseProbeJson, MalformedReportsThrowAndKeepWhatWasStored) {
    EXPECT_ANY_THROW(from_json("not json"));
    EXPECT_ANY_THROW(from_json("[]"));
    EXPECT_ANY_THROW(from_json(R"({"streams": 5})"));
    EXPECT_ANY_THROW(from_json(video_stream(R"("avg_frame_rate": 25)")));

    ClipInfo info;
    EXPECT_ANY_THROW(parse_probe_json(R"({"streams": [
        {"codec_type": "video", "avg_frame_rate": "25/1", "nb_frames": "10"},
        {"codec_type": "data", "tags": "01:00:00:00"}]})",
                                      info));
    EXPECT_EQ(info.rate, "25/1");
    EXPECT_EQ(info.frames, 10);
}

TEST(ParseBanner, ReadsAnHdStreamLine) {
    ClipInfo info;
    parse_banner(
        "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'a.mov':\n"
        "  Duration: 00:01:02.50, start: 0.000000, bitrate: 5000 kb/s\n"
        "  Stream #0:0: Video: h264 (High), yuv420p(tv, bt709, progressive), 1920x1080, 25 fps\n",
        info);
    EXPECT_EQ(info.rate, "25/1");
    EXPECT_EQ(info.frames, 1562);
    EXPECT_EQ(info.bits, 8);
    EXPECT_EQ(info.color_range, "tv");
    EXPECT_EQ(info.color_space, "bt709");
    EXPECT_EQ(info.color_primaries, "bt709");
    EXPECT_EQ(info.color_transfer, "bt709");
    EXPECT_EQ(info.timecode, std::nullopt);
}

TEST(ParseBanner, ReadsHdrTagsDepthAndTimecode) {
    ClipInfo info;
    parse_banner(
        "  Duration: 00:00:10.01, start: 0.000000\n"
        "  Stream #0:0: Video: hevc (Main 10), yuv420p10le(tv, bt2020nc/bt2020/smpte2084), "
        "3840x2160, 29.97 fps, 29.97 tbr\n"
        "    Metadata:\n"
        "      timecode        : 01:00:00;00\n",
        info);
    EXPECT_EQ(info.rate, "30000/1001");
    EXPECT_EQ(info.bits, 10);
    EXPECT_EQ(info.color_range, "tv");
    EXPECT_EQ(info.color_space, "bt2020nc");
    EXPECT_EQ(info.color_primaries, "bt2020");
    EXPECT_EQ(info.color_transfer, "smpte2084");
    EXPECT_EQ(info.timecode, "01:00:00;00");
    EXPECT_EQ(info.frames, 300);  // 10.01 s at 30000/1001
}

TEST(ParseBanner, FieldOrderIsNotAColourName) {
    // ffmpeg prints "(tv, progressive)" for a clip with a range but no colour
    // tags; "progressive" passed on as a colour space fails every encoder.
    ClipInfo info;
    parse_banner("  Stream #0:0: Video: ffv1, yuv420p(tv, progressive), 320x240, 25 fps\n", info);
    EXPECT_EQ(info.color_range, "tv");
    EXPECT_EQ(info.color_space, std::nullopt);
    EXPECT_EQ(info.color_primaries, std::nullopt);
    EXPECT_EQ(info.color_transfer, std::nullopt);

    ClipInfo unknown;
    parse_banner("  Stream #0:0: Video: h264, yuv420p(pc, bt709/unknown/unknown, top first)\n",
                 unknown);
    EXPECT_EQ(unknown.color_range, "pc");
    EXPECT_EQ(unknown.color_space, "bt709");
    EXPECT_EQ(unknown.color_primaries, std::nullopt);
    EXPECT_EQ(unknown.color_transfer, std::nullopt);
}

TEST(ParseBanner, PatternsStayOnTheVideoLine) {
    ClipInfo info;
    parse_banner(
        "  Duration: N/A, bitrate: N/A\n"
        "  Stream #0:0: Video: mjpeg, yuvj420p(pc), 640x480, 30 tbr\n"
        "  Stream #0:1: Audio: pcm_s24le (10le), 48000 Hz, 25 fps\n",
        info);
    EXPECT_EQ(info.rate, std::nullopt);
    EXPECT_EQ(info.frames, 0);
    EXPECT_EQ(info.bits, 8);
    EXPECT_EQ(info.color_range, std::nullopt);
}

TEST(ParseBanner, SurvivesAHugeMetadataLine) {
    ClipInfo info;
    std::string line = "      comment : Video: " + std::string(2000000, 'x') + "\n";
    parse_banner(line + "  Stream #0:0: Video: h264, yuv420p, 64x48, 50 fps\n", info);
    EXPECT_EQ(info.rate, "50/1");
}

TEST_F(ProbeClips, ReadsClipsThroughFfprobe) {
    ClipInfo plain = probe(clip("plain.mov"));
    EXPECT_EQ(plain.rate, "25/1");
    EXPECT_EQ(plain.frames, 10);
    EXPECT_EQ(plain.bits, 8);
    EXPECT_EQ(plain.timecode, "01:00:00:00");
    EXPECT_EQ(plain.color_primaries, "bt709");
    EXPECT_EQ(plain.color_transfer, "bt709");
    EXPECT_EQ(plain.color_space, "bt709");
    EXPECT_EQ(plain.color_range, "tv");

    ClipInfo deep = probe(clip("deep.mov"));
    EXPECT_EQ(deep.rate, "30000/1001");
    EXPECT_EQ(deep.bits, 10);
    EXPECT_EQ(deep.color_transfer, "smpte2084");
    EXPECT_EQ(deep.color_space, "bt2020nc");

    // Matroska stores no frame count: 0, without falling back to the banner.
    ClipInfo odd = probe(clip("odd.mkv"));
    EXPECT_EQ(odd.rate, "25/1");
    EXPECT_EQ(odd.frames, 0);
}

TEST_F(ProbeClips, FallsBackToTheBannerWithoutFfprobe) {
    ScopedTempDir tmp;
    ScopedPath path(ffmpeg_only_dir(tmp).string());
    ASSERT_FALSE(ffprobe_bin().has_value());

    ClipInfo plain = probe(clip("plain.mov"));
    EXPECT_EQ(plain.rate, "25/1");
    EXPECT_EQ(plain.frames, 10);
    EXPECT_EQ(plain.bits, 8);
    EXPECT_EQ(plain.timecode, "01:00:00:00");
    EXPECT_EQ(plain.color_range, "tv");
    EXPECT_EQ(plain.color_space, "bt709");
    EXPECT_EQ(plain.color_primaries, "bt709");

    ClipInfo deep = probe(clip("deep.mov"));
    EXPECT_EQ(deep.rate, "30000/1001");
    EXPECT_EQ(deep.bits, 10);
    EXPECT_EQ(deep.color_space, "bt2020nc");
    EXPECT_EQ(deep.color_primaries, "bt2020");
    EXPECT_EQ(deep.color_transfer, "smpte2084");
    EXPECT_EQ(deep.timecode, std::nullopt);

    // The ffv1 clip's banner reads "(tv, progressive)" or less.
    ClipInfo odd = probe(clip("odd.mkv"));
    EXPECT_EQ(odd.rate, "25/1");
    EXPECT_EQ(odd.color_space, std::nullopt);
}

TEST_F(ProbeClips, FallsBackToTheBannerWhenFfprobeFails) {
    ScopedTempDir tmp;
    fs::path dir = ffmpeg_only_dir(tmp);
    {
        std::ofstream script(dir / "ffprobe");
        script << "#!/bin/sh\necho '{\"streams\": 5}'\n";
    }
    fs::permissions(dir / "ffprobe", fs::perms::owner_all);
    ScopedPath path(dir.string());
    ClipInfo info = probe(clip("plain.mov"));
    EXPECT_EQ(info.rate, "25/1");
    EXPECT_EQ(info.frames, 10);
}

TEST_F(ProbeClips, NotAVideo) {
    ClipInfo info = probe(clip("notes.txt"));
    EXPECT_EQ(info.rate, std::nullopt);
    EXPECT_EQ(info.frames, 0);
    EXPECT_EQ(info.bits, 8);
    try {
        frame_size(clip("notes.txt"));
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_STREQ(e.what(), "could not decode the first frame");
    }
    EXPECT_THROW(frame_size(clip("missing.mov")), MediaError);
}

TEST_F(ProbeClips, FrameSizeIsTheDecodedPictureSize) {
    EXPECT_EQ(frame_size(clip("plain.mov")), (FrameSize{320, 240}));
    EXPECT_EQ(frame_size(clip("deep.mov")), (FrameSize{320, 240}));
    EXPECT_EQ(frame_size(clip("odd.mkv")), (FrameSize{321, 241}));
}

TEST_F(ProbeClips, OpenVideo) {
    cv::VideoCapture cap = open_video(clip("plain.mov"));
    EXPECT_TRUE(cap.isOpened());
    EXPECT_NEAR(cap.get(cv::CAP_PROP_FPS), 25.0, 1e-6);
    std::string missing = clip("missing.mov");
    try {
        open_video(missing);
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open " + missing);
    }
}
