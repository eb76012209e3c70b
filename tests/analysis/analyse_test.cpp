// The face search pass: its search size, and runs over short clips with the
// real detector and the stand-in recogniser.
#include "analysis/analyse.h"

#include <gtest/gtest.h>

#include "faces/models.h"
#include "media/frame_readers.h"
#include "support/face_clips.h"
#include "support/test_install.h"
#include "support/test_support.h"

using namespace qlcore;
namespace fs = std::filesystem;

TEST(SearchGeometry, EvenSearchSizeAndFactorBack) {
    SearchGeometry g = search_geometry({720, 405}, 1920);
    EXPECT_EQ(g.sc, 1.0);
    EXPECT_EQ(g.dw, 720);
    EXPECT_EQ(g.dh, 404);  // heights are not stretched back
    EXPECT_EQ(g.up, 1.0);

    g = search_geometry({3840, 2160}, 1920);
    EXPECT_EQ(g.dw, 1920);
    EXPECT_EQ(g.dh, 1080);
    EXPECT_EQ(g.up, 2.0);
    EXPECT_DOUBLE_EQ(g.verify_w, 115.2);
    // 58 search pixels (116 in the frame) is worth a re-check, 57 is not.
    EXPECT_GE(58 * g.up, g.verify_w);
    EXPECT_LT(57 * g.up, g.verify_w);

    g = search_geometry({3840, 2160}, 1600);  // fast mode
    EXPECT_EQ(g.dw, 1600);
    EXPECT_EQ(g.dh, 900);
    EXPECT_DOUBLE_EQ(g.up, 2.4);

    g = search_geometry({1920, 1080}, 1920);
    EXPECT_EQ(g.dw, 1920);
    EXPECT_EQ(g.up, 1.0);
    EXPECT_DOUBLE_EQ(g.verify_w, 57.6);

    g = search_geometry({1283, 721}, 1920);  // halves go to the even side
    EXPECT_EQ(g.dw, 1284);
    EXPECT_EQ(g.dh, 720);
}

class AnalyseClip : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        models_ = new Models(qltest::test_detector_model(), qltest::stand_in_recognizer());
    }
    static void TearDownTestSuite() {
        delete models_;
        models_ = nullptr;
    }
    SearchResult search(const fs::path& clip, const ClipInfo& info, FrameSize size,
                        const cv::Mat& gallery, const std::vector<int32_t>& owners,
                        const Tuning& tuning) {
        testing::internal::CaptureStdout();
        SearchResult r = analyse(clip.string(), info, size, *models_, gallery, owners, tuning);
        said_ = testing::internal::GetCapturedStdout();
        return r;
    }
    static Models* models_;
    std::string said_;
    qltest::ScopedTempDir dir_;
};
Models* AnalyseClip::models_ = nullptr;

TEST_F(AnalyseClip, OneFaceBecomesOneTrackWithRationedSamples) {
    qltest::FaceClipSpec spec;
    spec.frames = 20;
    spec.audio = false;
    const fs::path clip = qltest::make_moving_face_clip(dir_ / "a.mov", spec);
    ClipInfo info;
    info.frames = 20;
    const FrameSize size{480, 270};

    // The Gallery: an unrelated row, then the face of the clip's first frame.
    FFReader first(clip.string(), size, info);
    cv::Mat frame;
    ASSERT_TRUE(first.read(frame));
    first.close();
    cv::Mat faces = models_->detect(frame, 1000000);
    ASSERT_EQ(faces.rows, 1);
    cv::Mat gallery(2, 128, CV_32F);
    cv::randn(gallery.row(0), 0, 1);
    gallery.row(0) /= cv::norm(gallery.row(0));
    models_->embed(frame, faces.row(0)).copyTo(gallery.row(1));

    SearchResult r = search(clip, info, size, gallery, {7, 3}, Tuning{});
    EXPECT_EQ(r.n_frames, 20);
    EXPECT_EQ(r.n_read, 20);
    ASSERT_EQ(r.tracks.size(), 1u);
    const Track& t = r.tracks[0];
    ASSERT_EQ(t.frames.size(), 20u);
    EXPECT_EQ(t.frames.front(), 0);
    EXPECT_EQ(t.frames.back(), 19);
    EXPECT_TRUE(t.checks.empty()) << "a clear face (0.94) is never re-checked";
    // Twelve samples at once, then only at multiples of six.
    std::vector<int64_t> sampled;
    for (const auto& s : t.samples) {
        sampled.push_back(s.frame);
        EXPECT_EQ(s.person, 3);
        EXPECT_GT(s.sim, 0.9);
    }
    EXPECT_EQ(sampled, (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 18}));
    EXPECT_EQ(t.n_rec, 14);
    EXPECT_NE(said_.find("\r  finding faces: 100.0%  (20/20 frames"), std::string::npos) << said_;

    // Fast mode without a frame count: every other frame, n_frames from the
    // last one searched; no Gallery, no samples.
    Tuning fast;
    fast.det_max_side = 1600;
    fast.det_every = 2;
    r = search(clip, ClipInfo{}, size, cv::Mat(0, 128, CV_32F), {}, fast);
    EXPECT_EQ(r.n_frames, 19);
    EXPECT_EQ(r.n_read, 19);
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].frames, (std::vector<int64_t>{0, 2, 4, 6, 8, 10, 12, 14, 16, 18}));
    EXPECT_TRUE(r.tracks[0].samples.empty());
    EXPECT_EQ(r.tracks[0].n_rec, 0);

    // A container that counts more frames than the clip holds: n_frames
    // follows it, n_read what was there.
    info.frames = 23;
    r = search(clip, info, size, cv::Mat(0, 128, CV_32F), {}, fast);
    EXPECT_EQ(r.n_frames, 23);
    EXPECT_EQ(r.n_read, 19);
}

TEST_F(AnalyseClip, AFileWithoutPicturesGivesNoFrames) {
    const fs::path sound = dir_ / "tone.wav";
    auto made = qltest::run_program(
        {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=0.2", sound.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    ClipInfo info;
    info.frames = 0;
    SearchResult r = search(sound, info, {320, 240}, cv::Mat(0, 128, CV_32F), {}, Tuning{});
    EXPECT_EQ(r.n_frames, 0);
    EXPECT_EQ(r.n_read, 0);
    EXPECT_TRUE(r.tracks.empty());
    EXPECT_NE(said_.find("(1/1 frames"), std::string::npos) << said_;
}
