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
    FFReader first(clip.string(), size);
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

// Only a face at least VERIFY_MIN_FRAC of the frame's long side wide is worth
// a re-check: the same unsure face, the same pixels, loses its re-checks in a
// frame made wider by a border. Half the face is hidden to make the detector
// unsure (about 0.88).
TEST_F(AnalyseClip, ReChecksFollowTheFaceWidthAgainstTheFrame) {
    auto clip = [&](const std::string& name, int width) {
        const fs::path out = dir_ / name;
        auto r = qltest::run_program(
            {"ffmpeg", "-v", "error", "-y", "-loop", "1", "-framerate", "25", "-i",
             qltest::shared_photo("obama_small.jpg").string(), "-frames:v", "3", "-vf",
             "scale=160:120,drawbox=x=80:y=0:w=80:h=120:c=black:t=fill,pad=" +
                 std::to_string(width) + ":120:0:0",
             "-c:v", "libx264", "-pix_fmt", "yuv420p", out.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    };
    ClipInfo info;
    info.frames = 3;
    const cv::Mat none(0, 128, CV_32F);
    SearchResult narrow = search(clip("narrow.mov", 160), info, {160, 120}, none, {}, Tuning{});
    SearchResult wide = search(clip("wide.mov", 1920), info, {1920, 120}, none, {}, Tuning{});
    ASSERT_EQ(narrow.tracks.size(), 1u);
    ASSERT_EQ(wide.tracks.size(), 1u);
    const Track &a = narrow.tracks[0], &b = wide.tracks[0];
    // An unsure face (below VERIFY_SKIP) narrower than 3 % of 1920 pixels.
    ASSERT_LT(a.scores[0], 0.89);
    ASSERT_LT(b.scores[0], 0.89);
    ASSERT_LT(b.boxes[0].w, 0.03 * 1920);
    ASSERT_NEAR(a.boxes[0].w, b.boxes[0].w, 3.0);
    EXPECT_FALSE(a.checks.empty()) << "score " << a.scores[0] << ", width " << a.boxes[0].w;
    EXPECT_TRUE(b.checks.empty()) << "score " << b.scores[0] << ", width " << b.boxes[0].w;
}
