// The search's rationing rules, run over a fake frame source and a fake
// detector so every score, re-check value and similarity is chosen here.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>

#include "analysis/analyse.h"

using namespace qlcore;

namespace {

// `n` blank pictures; remembers whether the search closed it.
class FakeFrames : public FrameSource {
  public:
    explicit FakeFrames(int n) : left_(n) {}
    bool read(cv::Mat& frame) override {
        if (left_ <= 0) return false;
        --left_;
        frame = cv::Mat::zeros(100, 100, CV_8UC3);
        return true;
    }
    void close() override { closed = true; }
    bool closed = false;

  private:
    int left_;
};

// One face per searched frame from a script; re-checks answer from a queue
// (0.0 once it is empty); every embedding is the same unit vector.
class FakeDetector : public FaceDetector {
  public:
    struct Face {
        float w = 60.f, h = 60.f, score = 0.5f;
    };
    std::vector<Face> faces;  // the face of the k-th searched frame
    std::deque<double> verify_values;
    int verified = 0;
    int embedded = 0;

    cv::Mat detect(const cv::Mat&, int) override {
        cv::Mat rows(0, 15, CV_32F);
        if (calls_ < faces.size()) {
            const Face& f = faces[calls_];
            std::array<float, 15> r{};
            r[0] = 10.f;
            r[1] = 10.f;
            r[2] = f.w;
            r[3] = f.h;
            r[14] = f.score;
            rows.push_back(cv::Mat(1, 15, CV_32F, r.data()).clone());
        }
        ++calls_;
        return rows;
    }
    double verify(const cv::Mat&, const cv::Mat&) override {
        ++verified;
        if (verify_values.empty()) return 0.0;
        double v = verify_values.front();
        verify_values.pop_front();
        return v;
    }
    cv::Mat embed(const cv::Mat&, const cv::Mat&) override {
        ++embedded;
        cv::Mat v = cv::Mat::zeros(1, 128, CV_32F);
        v.at<float>(0) = 1.f;
        return v;
    }

  private:
    size_t calls_ = 0;
};

// Search pixels are frame pixels; faces 10 or more wide deserve a re-check.
SearchGeometry plain_geometry() {
    SearchGeometry g;
    g.dw = g.dh = 100;
    g.verify_w = 10.0;
    return g;
}

FakeDetector scored(std::vector<float> scores) {
    FakeDetector d;
    for (float s : scores)
        d.faces.push_back({60.f, 60.f, s});
    return d;
}

SearchResult run(FakeDetector& det, int n_frames, const cv::Mat& gallery = cv::Mat(0, 128, CV_32F),
                 const std::vector<int32_t>& owners = {}, int every = 1, int64_t total = 0,
                 std::string* said = nullptr) {
    FakeFrames frames(n_frames);
    testing::internal::CaptureStdout();
    SearchResult r = search_frames(frames, det, plain_geometry(), every, total, gallery, owners);
    std::string out = testing::internal::GetCapturedStdout();
    if (said) *said = out;
    EXPECT_TRUE(frames.closed);
    return r;
}

}  // namespace

TEST(SearchRecheck, NeedsAStrictlyHigherScoreThanTheLastOneChecked) {
    FakeDetector det = scored({0.50f, 0.45f, 0.55f, 0.55f});
    det.verify_values = {0.2, 0.2, 0.2, 0.2};
    SearchResult r = run(det, 4);
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].checks, (std::vector<double>{0.2, 0.2}));  // frames 0 and 2
    EXPECT_DOUBLE_EQ(r.tracks[0].best_checked, static_cast<double>(0.55f));
    EXPECT_EQ(det.verified, 2);
}

TEST(SearchRecheck, StopsAtTheBudgetOfSix) {
    FakeDetector det = scored({0.50f, 0.51f, 0.52f, 0.53f, 0.54f, 0.55f, 0.56f, 0.57f, 0.58f});
    SearchResult r = run(det, 9);
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].checks.size(), static_cast<size_t>(VERIFY_BUDGET));
    EXPECT_EQ(det.verified, 6);
}

TEST(SearchRecheck, NeverAgainOnceOneReached062) {
    FakeDetector det = scored({0.50f, 0.60f, 0.70f, 0.80f});
    det.verify_values = {0.3, 0.62, 0.9};
    SearchResult r = run(det, 4);
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].checks, (std::vector<double>{0.3, 0.62}));

    FakeDetector first = scored({0.50f, 0.60f, 0.70f});
    first.verify_values = {0.7};
    r = run(first, 3);
    EXPECT_EQ(r.tracks[0].checks, (std::vector<double>{0.7}));
}

TEST(SearchRecheck, ScoresOf089AreCertainButNot0889) {
    // Scores come as floats, and the float nearest 0.89 lies below it; the
    // first float at or above 0.89 is the smallest certain score.
    const float at_skip = std::nextafter(0.89f, 1.f);
    ASSERT_GE(static_cast<double>(at_skip), VERIFY_SKIP);
    FakeDetector sure = scored({at_skip, 0.95f});
    SearchResult r = run(sure, 2);
    EXPECT_TRUE(r.tracks[0].checks.empty());
    EXPECT_EQ(sure.verified, 0);

    FakeDetector almost = scored({0.889f});
    almost.verify_values = {0.12345};
    r = run(almost, 1);
    EXPECT_EQ(r.tracks[0].checks, (std::vector<double>{0.123}));  // three places
}

TEST(SearchRecheck, FacesNarrowerThanTheVerifyWidthAreNotChecked) {
    FakeDetector det;
    det.faces = {{9.f, 60.f, 0.5f}, {10.f, 60.f, 0.6f}};
    SearchResult r = run(det, 2);
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].checks.size(), 1u);
    EXPECT_DOUBLE_EQ(r.tracks[0].best_checked, static_cast<double>(0.6f));
}

TEST(SearchRecognition, A35By60FaceIsNeverRecognised) {
    cv::Mat gallery = cv::Mat::zeros(1, 128, CV_32F);
    gallery.at<float>(0) = 1.f;
    FakeDetector det;
    det.faces.assign(20, {35.f, 60.f, 0.95f});
    SearchResult r = run(det, 20, gallery, {0});
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_TRUE(r.tracks[0].samples.empty());
    EXPECT_EQ(r.tracks[0].n_rec, 0);
    EXPECT_EQ(det.embedded, 0);

    FakeDetector big;
    big.faces.assign(3, {36.f, 36.f, 0.95f});
    r = run(big, 3, gallery, {0});
    EXPECT_EQ(r.tracks[0].samples.size(), 3u);
}

TEST(SearchRecognition, AnEqualSimilarityGoesToTheEarlierGalleryRow) {
    cv::Mat gallery = cv::Mat::zeros(3, 128, CV_32F);
    gallery.at<float>(0, 1) = 1.f;  // unlike the face
    gallery.at<float>(1, 0) = 1.f;  // two rows just like it
    gallery.at<float>(2, 0) = 1.f;
    FakeDetector det = scored({0.95f});
    SearchResult r = run(det, 1, gallery, {7, 4, 9});
    ASSERT_EQ(r.tracks[0].samples.size(), 1u);
    EXPECT_EQ(r.tracks[0].samples[0].person, 4);
    EXPECT_EQ(r.tracks[0].samples[0].sim, 1.0);
}

TEST(SearchRecognition, ScoresAndSimilaritiesAreHandedOverAsTheCacheStoresThem) {
    // Both just below a threshold's edge until rounded: a one-frame flash
    // below 0.85, a sample below 0.363.
    cv::Mat gallery = cv::Mat::zeros(1, 128, CV_32F);
    gallery.at<float>(0, 0) = 0.36296f;
    FakeDetector det = scored({0.84951f});
    SearchResult r = run(det, 1, gallery, {0});
    ASSERT_EQ(r.tracks[0].samples.size(), 1u);
    EXPECT_EQ(r.tracks[0].scores[0], 0.85);
    EXPECT_EQ(r.tracks[0].samples[0].sim, 0.363);
}

TEST(SearchRecognition, TwelveSamplesThenOnlyAtMultiplesOfSix) {
    cv::Mat gallery = cv::Mat::zeros(1, 128, CV_32F);
    gallery.at<float>(0) = 1.f;
    FakeDetector det;
    det.faces.assign(100, {40.f, 40.f, 0.95f});
    SearchResult r = run(det, 100, gallery, {0});
    std::vector<int64_t> sampled;
    for (const Sample& s : r.tracks[0].samples)
        sampled.push_back(s.frame);
    std::vector<int64_t> want = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (int64_t f = 12; f < 100; f += 6)
        want.push_back(f);
    EXPECT_EQ(sampled, want);
    EXPECT_EQ(r.tracks[0].n_rec, static_cast<int>(want.size()));
}

TEST(SearchProgress, UnknownTotalCountsFramesUntilTheLastLine) {
    FakeDetector det;  // no faces at all
    std::string said;
    SearchResult r = run(det, 12, cv::Mat(0, 128, CV_32F), {}, 2, 0, &said);
    // Every fifth searched frame shows fi + 1 (fi = 8 and 18), then the end.
    EXPECT_EQ(std::count(said.begin(), said.end(), '\r'), 3) << said;
    const size_t first = said.find("\r  finding faces: 9 frames (");
    const size_t second = said.find("\r  finding faces: 19 frames (");
    const size_t last = said.find("\r  finding faces: 100.0%  (23/23 frames");
    EXPECT_NE(first, std::string::npos) << said;
    EXPECT_NE(second, std::string::npos) << said;
    EXPECT_NE(last, std::string::npos) << said;
    EXPECT_LT(first, second);
    EXPECT_LT(second, last);
    EXPECT_EQ(said.back(), '\n');
    EXPECT_EQ(r.n_frames, 23);
    EXPECT_TRUE(r.tracks.empty());

    // A known total is a lower bound only.
    FakeDetector none;
    r = run(none, 3, cv::Mat(0, 128, CV_32F), {}, 1, 10, &said);
    EXPECT_EQ(r.n_frames, 10);
    EXPECT_NE(said.find("(10/10 frames"), std::string::npos) << said;
}

namespace {

std::array<float, 15> row_at(float x, float y, float w, float score) {
    std::array<float, 15> r{};
    r[0] = x;
    r[1] = y;
    r[2] = w;
    r[3] = w;
    r[14] = score;
    return r;
}

// Answers by the picture it is shown: in the twice-size view a face scoring
// 0.8; in the usual view the same face weaker and, elsewhere, a weak 0.3.
class ViewDetector : public FaceDetector {
  public:
    std::vector<cv::Size> shown;
    std::vector<double> min_scores;

    cv::Mat detect(const cv::Mat&, int) override {
        ++plain_calls;
        return cv::Mat(0, 15, CV_32F);
    }
    cv::Mat detect_down_to(const cv::Mat& picture, int, double min_score) override {
        shown.push_back(picture.size());
        min_scores.push_back(min_score);
        cv::Mat rows(0, 15, CV_32F);
        auto add = [&](std::array<float, 15> r) {
            rows.push_back(cv::Mat(1, 15, CV_32F, r.data()).clone());
        };
        if (picture.cols == 200) {
            add(row_at(20, 20, 40, 0.8f));
        } else {
            add(row_at(10, 10, 20, 0.5f));
            add(row_at(70, 60, 20, 0.3f));
        }
        return rows;
    }
    double verify(const cv::Mat&, const cv::Mat&) override { return 0.9; }
    cv::Mat embed(const cv::Mat&, const cv::Mat&) override {
        return cv::Mat::zeros(1, 128, CV_32F);
    }
    int plain_calls = 0;
};

}  // namespace

TEST(ThoroughSearch, MergesTheViewsAndTracksWeakDetectionsApart) {
    ViewDetector det;
    FakeFrames frames(4);
    ThoroughSearch th;
    th.det_max_side = 1920;
    th.weak_score = 0.25;
    testing::internal::CaptureStdout();
    SearchResult r =
        search_frames(frames, det, plain_geometry(), 1, 0, cv::Mat(0, 128, CV_32F), {}, th);
    testing::internal::GetCapturedStdout();

    // The usual view each frame, the twice-size one (four times the pixels)
    // every second frame from the first, each down to the weak score.
    EXPECT_EQ(det.plain_calls, 0);
    const cv::Size usual(100, 100), twice(200, 200);
    EXPECT_EQ(det.shown, (std::vector<cv::Size>{usual, twice, usual, usual, twice, usual}));
    EXPECT_EQ(det.min_scores[0], 0.25);
    // One face, from the better view where there is one, in frame pixels.
    ASSERT_EQ(r.tracks.size(), 1u);
    EXPECT_EQ(r.tracks[0].frames, (std::vector<int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(r.tracks[0].boxes[0], (Box{10, 10, 20, 20}));
    EXPECT_EQ(r.tracks[0].scores, (std::vector<double>{0.8, 0.5, 0.8, 0.5}))
        << "handed over at 3 places";
    // The weak one as a candidate, numbered after the tracks.
    ASSERT_EQ(r.candidates.size(), 1u);
    EXPECT_EQ(r.candidates[0].id, 1);
    EXPECT_EQ(r.candidates[0].boxes[0], (Box{70, 60, 20, 20}));
    EXPECT_EQ(r.candidates[0].scores[0], 0.3);
}

TEST(ThoroughSearch, TheDefaultSearchHasNoCandidatesAndNoWeakerRows) {
    ViewDetector det;
    FakeFrames frames(2);
    testing::internal::CaptureStdout();
    SearchResult r =
        search_frames(frames, det, plain_geometry(), 1, 0, cv::Mat(0, 128, CV_32F), {});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(det.plain_calls, 2);
    EXPECT_TRUE(det.shown.empty());
    EXPECT_TRUE(r.candidates.empty());
}

namespace {

// ViewDetector's faces, a little more sure of them with every picture so
// each frame's detection deserves a re-check, re-checked at `check`; the
// lifted re-checks find `lifted`. The default search sees the usual view's.
class CheckedViews : public ViewDetector {
  public:
    CheckedViews(double check, LiftedCheck lifted) : check_(check), lifted_(lifted) {}
    cv::Mat detect(const cv::Mat& picture, int max_side) override {
        return detect_down_to(picture, max_side, 0.42);
    }
    cv::Mat detect_down_to(const cv::Mat& picture, int max_side, double min_score) override {
        cv::Mat rows = ViewDetector::detect_down_to(picture, max_side, min_score);
        rows.col(14) += 0.004f * static_cast<float>(++pictures_);
        return rows;
    }
    double verify(const cv::Mat&, const cv::Mat&) override {
        ++checks;
        return check_;
    }
    LiftedCheck verify_lifted(const cv::Mat&, const cv::Mat&, bool inside) override {
        ++lifted;
        insides += inside;
        return {lifted_.centred, inside ? lifted_.inside : NOT_LOOKED};
    }
    int checks = 0, lifted = 0, insides = 0;

  private:
    double check_;
    LiftedCheck lifted_;
    int pictures_ = 0;
};

SearchResult search_checked(CheckedViews& det, bool thorough) {
    FakeFrames frames(12);
    std::optional<ThoroughSearch> th;
    if (thorough) {
        th.emplace();
        th->weak_score = 0.25;
    }
    testing::internal::CaptureStdout();
    SearchResult r =
        search_frames(frames, det, plain_geometry(), 1, 0, cv::Mat(0, 128, CV_32F), {}, th);
    testing::internal::GetCapturedStdout();
    return r;
}

}  // namespace

TEST(ThoroughSearch, AFailedRecheckIsRepeatedOnTheFaceLiftedUntilThatFindsIt) {
    const double failed = RECHECK_EVIDENCE - 0.01;
    CheckedViews nothing(failed, {0.01, 0.2});
    SearchResult r = search_checked(nothing, true);
    ASSERT_EQ(r.evidence.size(), 1u);
    ASSERT_EQ(r.candidate_evidence.size(), 1u);
    EXPECT_GT(nothing.checks, 2);
    EXPECT_EQ(nothing.lifted, nothing.checks) << "every failed re-check, the candidate's too";
    EXPECT_EQ(nothing.insides, 2) << "the box searched once a track";
    EXPECT_EQ(r.evidence[0].lifted, std::vector<double>(r.tracks[0].checks.size(), 0.01));
    std::vector<double> inside(r.tracks[0].checks.size(), NOT_LOOKED);
    inside[0] = 0.2;
    EXPECT_EQ(r.evidence[0].inside, inside);
    EXPECT_EQ(r.candidate_evidence[0].lifted.size(), r.candidates[0].checks.size());

    // Once a lifted re-check found the face, no more are made.
    CheckedViews found(failed, {LIFTED_EVIDENCE, NOT_LOOKED});
    r = search_checked(found, true);
    EXPECT_GT(found.checks, 2);
    EXPECT_EQ(found.lifted, 2) << "one for the track, one for the candidate";
    EXPECT_EQ(r.evidence[0].lifted, std::vector<double>{LIFTED_EVIDENCE});
    EXPECT_EQ(r.evidence[0].inside, std::vector<double>{NOT_LOOKED});

    // A re-check that finds the face needs no lifted one; the default search
    // keeps no evidence and lifts nothing.
    CheckedViews passing(RECHECK_EVIDENCE, {0.5, 0.5});
    r = search_checked(passing, true);
    EXPECT_GT(passing.checks, 0);
    EXPECT_EQ(passing.lifted, 0);
    EXPECT_TRUE(r.evidence[0].lifted.empty());
    CheckedViews plain(0.0, {0.5, 0.5});
    r = search_checked(plain, false);
    EXPECT_GT(plain.checks, 0);
    EXPECT_EQ(plain.lifted, 0);
    EXPECT_TRUE(r.evidence.empty());
}
