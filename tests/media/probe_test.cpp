#include "media/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "media/opencv_io.h"
#include "media/rates.h"
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

// The two children side by side must give what the two calls give, the
// deep and odd-sized clips included, and the same failure for a non-video.
TEST_F(ProbeClips, ProbeWithSizeIsProbeAndFrameSize) {
    for (const char* name : {"plain.mov", "deep.mov", "odd.mkv"}) {
        SCOPED_TRACE(name);
        const ProbedClip both = probe_with_size(clip(name));
        const ClipInfo info = probe(clip(name));
        EXPECT_EQ(both.size, frame_size(clip(name)));
        EXPECT_EQ(both.info.rate, info.rate);
        EXPECT_EQ(both.info.frames, info.frames);
        EXPECT_EQ(both.info.bits, info.bits);
        EXPECT_EQ(both.info.color_space, info.color_space);
        EXPECT_EQ(both.info.timecode, info.timecode);
    }
    try {
        probe_with_size(clip("notes.txt"));
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_STREQ(e.what(), "could not decode the first frame");
    }
}

TEST_F(ProbeClips, OpenVideo) {
    VideoFile video(clip("plain.mov"));
    EXPECT_NEAR(video.fps(), 25.0, 1e-6);
    cv::Mat frame;
    ASSERT_TRUE(video.read(frame));
    EXPECT_EQ(frame.type(), CV_8UC3);
    std::string missing = clip("missing.mov");
    try {
        VideoFile{missing};
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open " + missing);
    }
}
