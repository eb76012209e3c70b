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

namespace {

ClipInfo from_json(const std::string& text) {
    ClipInfo info;
    parse_probe_json(text, info);
    return info;
}

std::string video_stream(const std::string& fields) {
    return R"({"streams": [{"codec_type": "video")" + (fields.empty() ? "" : ", " + fields) + "}]}";
}

}  // namespace

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
