#include "media/tools.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_install.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

// Points PATH somewhere else for one test.
class ScopedPath {
  public:
    explicit ScopedPath(const std::string& value) : old_(getenv("PATH")) {
        setenv("PATH", value.c_str(), 1);
    }
    ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }

  private:
    std::string old_;
};

void make_executable(const fs::path& p) {
    write_file_atomic(p, "#!/bin/sh\nexit 0\n");
    fs::permissions(p, fs::perms::owner_all);
}

}  // namespace

TEST(Tools, SearchPathComesFirstAndIsNotCached) {
    ScopedTempDir dir;
    make_executable(dir / "ffmpeg");
    make_executable(dir / "ffprobe");
    {
        ScopedPath p(dir.path().string());
        EXPECT_EQ(ffmpeg_bin(), (dir / "ffmpeg").string());
        EXPECT_EQ(ffprobe_bin(), (dir / "ffprobe").string());
        // Removed while running: the next call searches again.
        fs::remove(dir / "ffprobe");
        auto again = ffprobe_bin();
        if (again) {
            EXPECT_NE(*again, (dir / "ffprobe").string());
        }
    }
}

TEST(Tools, MissingFfmpegIsAFatalStopAndMissingFfprobeIsAbsent) {
    if (fs::exists("/usr/local/bin/ffmpeg") || fs::exists("/opt/homebrew/bin/ffmpeg"))
        GTEST_SKIP() << "a fixed-location ffmpeg exists on this machine";
    ScopedTempDir dir;
    ScopedPath p(dir.path().string());
    try {
        ffmpeg_bin();
        FAIL() << "found an ffmpeg on an empty search path";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "ffmpeg not found. Run the installer again.");
    }
    if (!fs::exists("/usr/local/bin/ffprobe") && !fs::exists("/opt/homebrew/bin/ffprobe")) {
        EXPECT_FALSE(ffprobe_bin());
    }
}

TEST(Tools, MissingFfmpegStopsTheProgramWithStatusOne) {
    if (fs::exists("/usr/local/bin/ffmpeg") || fs::exists("/opt/homebrew/bin/ffmpeg"))
        GTEST_SKIP() << "a fixed-location ffmpeg exists on this machine";
    ScopedTempDir dir;
    write_file_atomic(dir / "clip.mov", "not a video");
    // Through a full installation, so the models load and the clip itself
    // is what needs ffmpeg.
    auto r = qltest::run_qlcore(
        {"process", (dir / "clip.mov").string()},
        {"PATH=" + dir.path().string(), "QUILLET_HOME=" + (dir / "home").string()}, std::nullopt,
        qltest::test_install_program());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ffmpeg not found. Run the installer again."), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Finished"), std::string::npos) << "the batch must not go on";
}

TEST(Tools, HardwareDecodeArgumentsByPlatform) {
    const Platform mac{true, false, "arm64"}, windows{false, true, ""}, linux{};
    EXPECT_EQ(hwaccel_args_for(mac), (std::vector<std::string>{"-hwaccel", "videotoolbox"}));
    EXPECT_EQ(hwaccel_args_for(windows), (std::vector<std::string>{"-hwaccel", "auto"}));
    EXPECT_TRUE(hwaccel_args_for(linux).empty());
    EXPECT_EQ(hwaccel_args().empty(), !WINDOWS && !MACOS);
    EXPECT_EQ(bundled_tool_name("ffprobe", windows), "ffprobe.exe");
    EXPECT_EQ(bundled_tool_name("ffprobe", linux), "ffprobe");
}

// Decoded pictures do not depend on the threads, so the limit may take them;
// the hardware items stay first, before the input.
TEST(Tools, DecoderThreadsOnlyAboveThePixelLimit) {
    std::vector<std::string> uhd = hwaccel_args();
    uhd.insert(uhd.end(), {"-threads", "1"});
    EXPECT_EQ(decoder_input_args({3840, 2160}), uhd);
    EXPECT_EQ(decoder_input_args({4096, 2160}), uhd);
    EXPECT_EQ(decoder_input_args({2560, 1600}), hwaccel_args());
    EXPECT_EQ(decoder_input_args({1920, 1080}), hwaccel_args());
    EXPECT_EQ(decoder_input_args({}), hwaccel_args());
}
