#include "media/ffmpeg_commands.h"

#include <gtest/gtest.h>

using namespace qlcore;

TEST(FfmpegCommands, PathsAreAlwaysReadAsFiles) {
    EXPECT_EQ(media_path("/media/card/A001.mov"), "/media/card/A001.mov");
    EXPECT_EQ(media_path("clip.mov"), "clip.mov");
    EXPECT_EQ(media_path("-y.mov"), "file:-y.mov");
    EXPECT_EQ(media_path("rtmp://host/x"), "file:rtmp://host/x");
    EXPECT_EQ(media_path("C:\\clips\\a.mov"), "file:C:\\clips\\a.mov");
}

TEST(FfmpegCommands, BgrReaderFilter) {
    EXPECT_EQ(bgr_filter(640, 360, 1), "scale=640:360:flags=bilinear");
    EXPECT_EQ(bgr_filter(640, 360, 3), "select=not(mod(n\\,3)),scale=640:360:flags=bilinear");
}

TEST(FfmpegCommands, ReadersPutHardwareDecodeBeforeTheInput) {
    Args cmd = bgr_reader_command("ff", {"-hwaccel", "auto"}, "in.mov", 640, 360, 1);
    EXPECT_EQ(cmd, (Args{"ff", "-v", "error", "-hwaccel", "auto", "-i", "in.mov", "-map", "0:v:0",
                         "-fps_mode", "passthrough", "-vf", "scale=640:360:flags=bilinear", "-f",
                         "rawvideo", "-pix_fmt", "bgr24", "-"}));
    EXPECT_EQ(yuv_reader_command("ff", {}, "in.mov", "yuv420p10le"),
              (Args{"ff", "-v", "error", "-i", "in.mov", "-map", "0:v:0", "-fps_mode",
                    "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p10le", "-"}));
}

TEST(FfmpegCommands, ProbeAndFirstFrame) {
    EXPECT_EQ(probe_command("fp", "a.mov"), (Args{"fp", "-v", "error", "-print_format", "json",
                                                  "-show_streams", "-show_format", "a.mov"}));
    EXPECT_EQ(banner_command("ff", "a.mov"), (Args{"ff", "-hide_banner", "-i", "a.mov"}));
    EXPECT_EQ(first_frame_command("ff", "a.mov"),
              (Args{"ff", "-v", "error", "-i", "a.mov", "-map", "0:v:0", "-frames:v", "1", "-c:v",
                    "png", "-f", "image2pipe", "-"}));
}

TEST(FfmpegCommands, EncoderCommandOfTheWorkedExample) {
    Args enc{"-c:v", "libx264", "-crf", "17", "-preset", "veryfast", "-pix_fmt", "yuv420p"};
    Args colour{"-color_primaries", "bt709", "-color_trc",   "bt709",
                "-colorspace",      "bt709", "-color_range", "tv"};
    EXPECT_EQ(encode_command("ff", "yuv420p", 1920, 1080, "30000/1001", enc, colour, "/o/t.mov"),
              (Args{"ff",         "-hide_banner",
                    "-loglevel",  "error",
                    "-y",         "-f",
                    "rawvideo",   "-pix_fmt",
                    "yuv420p",    "-s",
                    "1920x1080",  "-r",
                    "30000/1001", "-color_primaries",
                    "bt709",      "-color_trc",
                    "bt709",      "-colorspace",
                    "bt709",      "-color_range",
                    "tv",         "-i",
                    "-",          "-c:v",
                    "libx264",    "-crf",
                    "17",         "-preset",
                    "veryfast",   "-pix_fmt",
                    "yuv420p",    "-color_primaries",
                    "bt709",      "-color_trc",
                    "bt709",      "-colorspace",
                    "bt709",      "-color_range",
                    "tv",         "-an",
                    "/o/t.mov"}));
}

TEST(FfmpegCommands, ThreeMuxAttempts) {
    auto cmds = mux_commands("ff", "/o/t.mov", "/s/a.mov", "01:00:00:00", "/o/out.mov");
    Args base{"ff", "-hide_banner", "-loglevel", "error", "-y",   "-i",   "/o/t.mov",
              "-i", "/s/a.mov",     "-map",      "0:v:0", "-map", "1:a?", "-map_metadata",
              "1",  "-c:v",         "copy"};
    auto with = [&](Args tail) {
        Args a = base;
        a.insert(a.end(), tail.begin(), tail.end());
        return a;
    };
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0], with({"-c:a", "copy", "-timecode", "01:00:00:00", "/o/out.mov"}));
    EXPECT_EQ(cmds[1], with({"-c:a", "pcm_s24le", "-timecode", "01:00:00:00", "/o/out.mov"}));
    EXPECT_EQ(cmds[2], with({"-c:a", "pcm_s24le", "/o/out.mov"}));
    auto no_tc = mux_commands("ff", "/o/t.mov", "/s/a.mov", "", "/o/out.mov");
    EXPECT_EQ(no_tc[0], with({"-c:a", "copy", "/o/out.mov"}));
    EXPECT_EQ(no_tc[1], no_tc[2]);
}
