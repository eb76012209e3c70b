#include "media/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "media/rates.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ClipSpec;
using qltest::ScopedTempDir;

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
