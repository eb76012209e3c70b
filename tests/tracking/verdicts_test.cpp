#include "tracking/verdicts.h"

#include <gtest/gtest.h>

#include "geometry/tuning.h"

namespace qlcore {
namespace {

const std::vector<std::string> NAMES = {"ada", "bo"};
constexpr double THR = DEFAULT_KEEP_THRESHOLD;

// A track of n detection frames with the given (similarity, person) samples.
Track with_samples(int n, const std::vector<std::pair<double, int>>& sims) {
    Track t(0);
    for (int i = 0; i < n; ++i)
        t.add(i, {0, 0, 40, 40});
    for (size_t i = 0; i < sims.size(); ++i)
        t.samples.push_back({static_cast<int64_t>(i), sims[i].first, sims[i].second});
    return t;
}

// A track of n frames whose widest box and best score sit mid-track.
Track detections(int n, double max_w, double best, std::vector<double> checks = {}) {
    Track t(0);
    for (int i = 0; i < n; ++i) {
        bool peak = i == n / 2;
        t.add(i, {0, 0, peak ? max_w : max_w / 2, 40}, peak ? best : best / 2);
    }
    t.checks = std::move(checks);
    return t;
}

TEST(Decide, NothingToJudgeLeavesTheDefaults) {
    Decision d = decide(with_samples(20, {}), NAMES, THR);
    EXPECT_FALSE(d.keep);
    EXPECT_FALSE(d.person || d.median || d.review);
    EXPECT_EQ(d.n_samples, 0);
    d = decide(with_samples(20, {{0.9, 0}, {0.9, 0}, {0.9, 0}}), {}, THR);
    EXPECT_FALSE(d.keep || d.person || d.median || d.review);
    EXPECT_EQ(d.n_samples, 3);
}

TEST(Decide, KeepsOnEnoughAgreeingSamples) {
    Decision d = decide(with_samples(20, {{0.40, 0}, {0.40, 0}, {0.20, 0}}), NAMES, THR);
    EXPECT_TRUE(d.keep);
    EXPECT_EQ(d.person, "ada");
    EXPECT_EQ(d.median, 0.4);
    EXPECT_EQ(d.review, Review::KeptBorderline);  // median below 0.433

    d = decide(with_samples(10, {{0.50, 1}, {0.50, 1}}), NAMES, THR);
    EXPECT_TRUE(d.keep);
    EXPECT_EQ(d.person, "bo");
    EXPECT_EQ(d.review, std::nullopt);
    EXPECT_EQ(d.n_samples, 2);
    // From 15 frames on, two samples are not enough.
    EXPECT_TRUE(decide(with_samples(14, {{0.50, 1}, {0.50, 1}}), NAMES, THR).keep);
    d = decide(with_samples(15, {{0.50, 1}, {0.50, 1}}), NAMES, THR);
    EXPECT_FALSE(d.keep);
    EXPECT_EQ(d.person, std::nullopt);
    EXPECT_EQ(d.review, Review::MosaicBorderline);
}

TEST(Decide, VoteShareDecidesAndNamesTheLeader) {
    // Split votes: nobody reaches 60 %.
    Decision d = decide(with_samples(20, {{0.4, 1}, {0.4, 0}, {0.4, 0}, {0.4, 1}}), NAMES, THR);
    EXPECT_FALSE(d.keep);
    EXPECT_EQ(d.review, Review::MosaicBorderline);
    // 3 of 5 is exactly 0.6: kept, for the person with most votes, not the
    // first to vote; below 0.8 it is borderline.
    d = decide(with_samples(20, {{0.5, 0}, {0.5, 1}, {0.5, 1}, {0.5, 1}, {0.1, 0}}), NAMES, THR);
    EXPECT_TRUE(d.keep);
    EXPECT_EQ(d.person, "bo");
    EXPECT_EQ(d.review, Review::KeptBorderline);
}

TEST(Decide, MedianIsTakenInSinglePrecision) {
    // 0.363 votes, and its single-precision value lies above the double.
    Decision d = decide(with_samples(10, {{0.363, 0}, {0.363, 0}, {0.363, 0}}), NAMES, THR);
    EXPECT_TRUE(d.keep);
    EXPECT_EQ(d.review, Review::KeptBorderline);
    // Single-precision 0.433 lies just below the double 0.433.
    d = decide(with_samples(10, {{0.433, 0}, {0.433, 0}, {0.433, 0}}), NAMES, THR);
    EXPECT_TRUE(d.keep);
    EXPECT_EQ(d.median, 0.433);
    EXPECT_EQ(d.review, Review::KeptBorderline);
    // Two neighbouring floats around 0.3035: their single-precision mean is
    // the lower one (0.303), the double mean would round to 0.304.
    d = decide(with_samples(10, {{0.3035000264644623, 0}, {0.3034999966621399, 1}}), NAMES, THR);
    EXPECT_EQ(d.median, 0.303);
    EXPECT_EQ(d.review, Review::MosaicBorderline);
}

TEST(Decide, MosaicBorderlineBandWithoutVotes) {
    Decision d = decide(with_samples(20, {{0.30, 0}, {0.28, 0}, {0.25, 1}}), NAMES, THR);
    EXPECT_EQ(d.median, 0.28);
    EXPECT_EQ(d.review, std::nullopt);
    d = decide(with_samples(20, {{0.30, 0}, {0.30, 0}, {0.25, 1}}), NAMES, THR);
    EXPECT_EQ(d.median, 0.3);
    EXPECT_EQ(d.review, Review::MosaicBorderline);
}

TEST(Decide, UsesTheRunsThreshold) {
    Track t = with_samples(10, {{0.45, 0}, {0.45, 0}, {0.45, 0}});
    EXPECT_TRUE(decide(t, NAMES, THR).keep);
    Decision d = decide(t, NAMES, 0.5);
    EXPECT_FALSE(d.keep);
    EXPECT_EQ(d.review, Review::MosaicBorderline);  // 0.45 >= 0.5 - 0.07
}

TEST(Decide, RefusesToKeepAPersonOutsideTheNames) {
    EXPECT_THROW(decide(with_samples(10, {{0.5, 2}, {0.5, 2}}), NAMES, THR), std::out_of_range);
}

TEST(IsFlash, WeakOrSingleDetections) {
    EXPECT_TRUE(is_flash(detections(1, 40, 0.84)));
    EXPECT_FALSE(is_flash(detections(1, 40, 0.85)));
    EXPECT_TRUE(is_flash(detections(4, 40, 0.59)));
    EXPECT_FALSE(is_flash(detections(5, 40, 0.59)));
    Track no_scores = detections(1, 40, 0.1);
    no_scores.scores.clear();
    EXPECT_FALSE(is_flash(no_scores));
}

TEST(IsLookalike, BigOrShortTracksThatNeverPassedARecheck) {
    const double side = 1920;  // big from a width of 115.2
    EXPECT_FALSE(is_lookalike(detections(10, 50, 0.8, {0.3, 0.5}), side));
    EXPECT_TRUE(is_lookalike(detections(10, 120, 0.8, {0.3, 0.5}), side));
    EXPECT_TRUE(is_lookalike(detections(10, 115.2, 0.8, {0.3}), side));
    EXPECT_FALSE(is_lookalike(detections(10, 115.1, 0.8, {0.3}), side));
    // Widths are judged as the analysis cache stores them, to 0.1 pixel.
    EXPECT_TRUE(is_lookalike(detections(10, 115.16, 0.8, {0.3}), side));
    EXPECT_FALSE(is_lookalike(detections(10, 115.14, 0.8, {0.3}), side));
    EXPECT_FALSE(is_lookalike(detections(10, 120, 0.8, {0.3, 0.62}), side));
    EXPECT_FALSE(is_lookalike(detections(10, 120, 0.89, {0.3, 0.5}), side));
    EXPECT_FALSE(is_lookalike(detections(10, 120, 0.8), side));
    EXPECT_TRUE(is_lookalike(detections(2, 40, 0.7, {0.1}), side));
    EXPECT_TRUE(is_lookalike(detections(3, 40, 0.7, {0.1}), side));
    EXPECT_FALSE(is_lookalike(detections(4, 40, 0.7, {0.1}), side));
}

TEST(Ignored, FlashIsReportedBeforeLookalike) {
    EXPECT_EQ(ignored(detections(1, 200, 0.5, {0.1}), 1920), IgnoreReason::Flash);
    EXPECT_EQ(ignored(detections(2, 200, 0.7, {0.1}), 1920), IgnoreReason::Lookalike);
    EXPECT_EQ(ignored(detections(2, 200, 0.7, {0.7}), 1920), std::nullopt);
}

TEST(Ignored, KeepingLongTracksSparesLookalikesFromEightDetectionsOnly) {
    EXPECT_EQ(ignored(detections(8, 200, 0.7, {0.1}), 1920), IgnoreReason::Lookalike);
    EXPECT_EQ(ignored(detections(8, 200, 0.7, {0.1}), 1920, true), std::nullopt);
    EXPECT_EQ(ignored(detections(7, 200, 0.7, {0.1}), 1920, true), IgnoreReason::Lookalike);
    // A flash stays a flash.
    EXPECT_EQ(ignored(detections(1, 200, 0.5, {0.1}), 1920, true), IgnoreReason::Flash);
}

}  // namespace
}  // namespace qlcore
