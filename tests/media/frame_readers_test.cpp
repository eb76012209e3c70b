#include "media/frame_readers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "media/tools.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ClipSpec;
using qltest::ScopedTempDir;
namespace fs = std::filesystem;

namespace {

// Processes (zombies included) whose parent is this test program.
int child_count() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text)) continue;
        // "pid (comm) state ppid ...": comm may hold spaces, so start after ')'.
        size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long ppid = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 &&
            ppid == ::getpid())
            ++n;
    }
    return n;
}

std::string bytes(const void* p, size_t n) {
    return std::string(static_cast<const char*>(p), n);
}

// What ffmpeg itself writes for the whole clip in this raw format.
std::string raw_ffmpeg_output(const fs::path& clip, const std::string& pix_fmt) {
    auto r = qltest::run_program({"ffmpeg", "-v", "error", "-i", clip.string(), "-map", "0:v:0",
                                  "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", pix_fmt,
                                  "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

class ReaderClips : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp_ = new ScopedTempDir();
        ClipSpec ten;
        ten.width = 64;
        ten.height = 48;
        ten.codec = "ffv1";
        ten.source = "testsrc";  // at this size its every frame differs
        qltest::make_clip(*tmp_ / "ten.mkv", ten);

        ClipSpec hd;
        hd.width = 1920;
        hd.height = 1080;
        hd.frames = 1;
        hd.extra = {"-preset", "ultrafast"};
        qltest::make_clip(*tmp_ / "hd.mp4", hd);

        ClipSpec odd;
        odd.codec = "ffv1";
        odd.frames = 3;
        odd.extra = {"-vf", "scale=33:25"};
        qltest::make_clip(*tmp_ / "odd.mkv", odd);
    }
    static void TearDownTestSuite() {
        delete tmp_;
        tmp_ = nullptr;
    }
    static fs::path clip(const std::string& name) { return *tmp_ / name; }

    static ScopedTempDir* tmp_;
};

ScopedTempDir* ReaderClips::tmp_ = nullptr;

ClipInfo deep_info() {
    ClipInfo info;
    info.bits = 10;
    return info;
}

}  // namespace

TEST(Pipe, DeliversWholeFramesAndDropsAPartialTail) {
    Pipe pipe({"/usr/bin/printf", "abcdefghij"}, 4);
    char buf[4];
    ASSERT_TRUE(pipe._read(buf));
    EXPECT_EQ(bytes(buf, 4), "abcd");
    ASSERT_TRUE(pipe._read(buf));
    EXPECT_EQ(bytes(buf, 4), "efgh");
    EXPECT_FALSE(pipe._read(buf));  // "ij" is half a frame
    EXPECT_FALSE(pipe._read(buf));
    pipe.close();
    EXPECT_EQ(child_count(), 0);
}

TEST(Pipe, CloseReapsAChildThatIsStillWriting) {
    {
        Pipe pipe({"/usr/bin/yes"}, 1 << 16);
        std::vector<char> buf(pipe.nbytes());
        ASSERT_TRUE(pipe._read(buf.data()));
        pipe.close();
        EXPECT_EQ(child_count(), 0);
        pipe.close();  // a second close is harmless
        EXPECT_FALSE(pipe._read(buf.data()));
    }
    {
        // The caller never reads at all.
        Pipe pipe({"/usr/bin/sleep", "60"}, 8);
        pipe.close();
        EXPECT_EQ(child_count(), 0);
    }
}

TEST(Pipe, AnErrorInTheCallersLoopStillEndsTheChild) {
    try {
        Pipe pipe({"/usr/bin/yes"}, 4096);
        std::vector<char> buf(pipe.nbytes());
        while (pipe._read(buf.data()))
            throw std::runtime_error("caller failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(child_count(), 0);
}

TEST_F(ReaderClips, EveryThirdFrameIsSourceFramesZeroThreeSixNine) {
    std::vector<cv::Mat> all;
    {
        FFReader reader(clip("ten.mkv").string(), {64, 48});
        cv::Mat img;
        while (reader.read(img))
            all.push_back(img.clone());
        reader.close();
    }
    ASSERT_EQ(all.size(), 10u);
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_GT(cv::norm(all[i], all[i - 1], cv::NORM_L1), 0) << "frames must differ";

    FFReader reader(clip("ten.mkv").string(), {64, 48}, 3);
    std::vector<cv::Mat> thinned;
    cv::Mat img;
    while (reader.read(img))
        thinned.push_back(img.clone());
    reader.close();
    ASSERT_EQ(thinned.size(), 4u);
    for (size_t k = 0; k < thinned.size(); ++k)
        EXPECT_EQ(cv::norm(thinned[k], all[3 * k], cv::NORM_INF), 0) << "picture " << k;
}

TEST_F(ReaderClips, BgrPicturesComeAtTheRequestedSize) {
    FFReader reader(clip("ten.mkv").string(), {32, 20});
    EXPECT_EQ(reader.nbytes(), 32u * 20 * 3);
    cv::Mat img;
    ASSERT_TRUE(reader.read(img));
    EXPECT_EQ(img.rows, 20);
    EXPECT_EQ(img.cols, 32);
    EXPECT_EQ(img.type(), CV_8UC3);
    reader.close();
    EXPECT_EQ(child_count(), 0);
}

TEST_F(ReaderClips, YuvFrameSizesFor1080p) {
    YUVReader plain(clip("hd.mp4").string(), {1920, 1080}, ClipInfo{});
    EXPECT_FALSE(plain.deep);
    EXPECT_EQ(plain.pix_fmt, "yuv420p");
    EXPECT_EQ(plain.nbytes(), 3110400u);
    YuvFrame f8;
    ASSERT_TRUE(plain.read(f8));
    EXPECT_EQ(f8.nbytes(), 3110400u);
    EXPECT_EQ(f8.buffer.type(), CV_8U);
    EXPECT_FALSE(plain.read(f8));
    plain.close();

    YUVReader deep(clip("hd.mp4").string(), {1920, 1080}, deep_info());
    EXPECT_TRUE(deep.deep);
    EXPECT_EQ(deep.pix_fmt, "yuv420p10le");
    EXPECT_EQ(deep.nbytes(), 6220800u);
    YuvFrame f10;
    ASSERT_TRUE(deep.read(f10));
    EXPECT_EQ(f10.nbytes(), 6220800u);
    EXPECT_EQ(f10.buffer.type(), CV_16U);
    double lo = 0, hi = 0;
    cv::minMaxLoc(f10.buffer, &lo, &hi);
    EXPECT_LE(hi, 1023);
    EXPECT_GT(hi, 255);  // really 10-bit samples, not 8-bit ones widened
    deep.close();
}

TEST_F(ReaderClips, FramesMatchFfmpegsOwnOutputByteForByte) {
    for (bool is_deep : {false, true}) {
        // 33 x 25 has odd sides: the chroma planes are 17 x 13.
        for (const char* name : {"ten.mkv", "odd.mkv"}) {
            ClipInfo info = is_deep ? deep_info() : ClipInfo{};
            FrameSize size = std::string(name) == "odd.mkv" ? FrameSize{33, 25} : FrameSize{64, 48};
            YUVReader reader(clip(name).string(), size, info);
            std::string got;
            YuvFrame frame;
            while (reader.read(frame))
                got += bytes(frame.data(), frame.nbytes());
            reader.close();
            std::string want = raw_ffmpeg_output(clip(name), reader.pix_fmt);
            EXPECT_EQ(got.size(), want.size()) << name << (is_deep ? " deep" : "");
            EXPECT_TRUE(got == want) << name << (is_deep ? " deep" : "");
        }
    }
}

TEST_F(ReaderClips, PlaneViewsAreWindowsIntoTheBuffer) {
    for (bool is_deep : {false, true}) {
        YUVReader reader(clip("odd.mkv").string(), {33, 25}, is_deep ? deep_info() : ClipInfo{});
        EXPECT_EQ(reader.ysz, 33u * 25);
        EXPECT_EQ(reader.csz, 17u * 13);
        YuvFrame f;
        ASSERT_TRUE(reader.read(f));
        EXPECT_EQ(f.y.size(), cv::Size(33, 25));
        EXPECT_EQ(f.u.size(), cv::Size(17, 13));
        EXPECT_EQ(f.v.size(), cv::Size(17, 13));
        const size_t sample = f.buffer.elemSize();
        const uchar* base = f.buffer.data;
        EXPECT_EQ((const void*)f.y.data, (const void*)base);
        EXPECT_EQ((const void*)f.u.data, (const void*)(base + reader.ysz * sample));
        EXPECT_EQ((const void*)f.v.data, (const void*)(base + (reader.ysz + reader.csz) * sample));

        // Writing through the u view changes the buffer between ysz and ysz + csz.
        cv::Mat before = f.buffer.clone();
        f.u.setTo(cv::Scalar(7));
        cv::Mat diff = f.buffer != before;
        for (int i = 0; i < diff.cols; ++i) {
            bool inside_u =
                i >= static_cast<int>(reader.ysz) && i < static_cast<int>(reader.ysz + reader.csz);
            if (!inside_u) {
                ASSERT_EQ(diff.at<uchar>(0, i), 0) << i;
            }
        }
        cv::Mat u_part = f.buffer.colRange(reader.ysz, reader.ysz + reader.csz);
        EXPECT_EQ(cv::countNonZero(u_part != 7), 0);
        reader.close();
    }
}

TEST_F(ReaderClips, ReusesTheCallersBufferUnlessItIsShared) {
    YUVReader reader(clip("ten.mkv").string(), {64, 48}, ClipInfo{});
    YuvFrame f;
    ASSERT_TRUE(reader.read(f));
    const uchar* first = f.buffer.data;
    ASSERT_TRUE(reader.read(f));
    EXPECT_EQ((const void*)f.buffer.data, (const void*)first);  // no allocation per frame

    cv::Mat kept = f.buffer;  // the caller puts this frame aside
    cv::Mat kept_copy = kept.clone();
    ASSERT_TRUE(reader.read(f));
    EXPECT_NE((const void*)f.buffer.data, (const void*)kept.data);
    EXPECT_EQ(cv::norm(kept, kept_copy, cv::NORM_INF), 0);
    reader.close();
}

TEST_F(ReaderClips, ReadingAfterTheEndKeepsReturningNothing) {
    FFReader reader(clip("odd.mkv").string(), {16, 16});
    cv::Mat img;
    int n = 0;
    while (reader.read(img))
        ++n;
    EXPECT_EQ(n, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(reader.read(img));
    reader.close();
}

TEST_F(ReaderClips, ReadersStoppedEarlyLeaveNoChild) {
    {
        YUVReader reader(clip("ten.mkv").string(), {64, 48}, ClipInfo{});
        YuvFrame f;
        ASSERT_TRUE(reader.read(f));
        // The owner goes away without close(): the destructor ends the child.
    }
    EXPECT_EQ(child_count(), 0);
}
