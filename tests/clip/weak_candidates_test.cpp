// Weak candidates of the thorough search: which are mosaicked, and how the
// report shows them.
#include <gtest/gtest.h>

#include "clip/judged_tracks_fixture.h"
#include "clip/report.h"
#include "clip/weak_candidates.h"

using namespace cliptest;

namespace {

Track candidate(int id, int64_t first, int n, double x, double score = 0.3) {
    Track t(id);
    for (int i = 0; i < n; ++i)
        t.add(first + i, Box{x, 20, 50, 50}, i == 1 ? score + 0.0123 : score);
    return t;
}

}  // namespace

TEST(WeakCandidates, FiveDetectionsAwayFromEveryLiveTrackAreMosaicked) {
    // path_over puts live boxes at x = 10; an ignored track there does not count.
    const std::vector<JudgedTrack> live = {
        mosaicked(0, path_over(0, 40)),
        ignored_over(9, path_over(100, 140), Verdict::ignored_nonface, 40)};
    const std::vector<Track> candidates = {
        candidate(1, 0, 4, 300),   // too few detections
        candidate(2, 0, 5, 300),   // far from the live track
        candidate(3, 10, 6, 20),   // on the live track's face
        candidate(4, 100, 6, 20),  // the same place, after the live track ended
    };
    std::vector<JudgedTrack> weak = weak_tracks(candidates, live, 200);
    ASSERT_EQ(weak.size(), 3u);
    EXPECT_EQ(weak[0].id, 1);
    EXPECT_EQ(weak[0].verdict, Verdict::weak_thin) << "left visible, but on the review page";
    weak.erase(weak.begin());
    EXPECT_EQ(weak[0].id, 2);
    EXPECT_EQ(weak[1].id, 4);
    for (const JudgedTrack& t : weak) {
        EXPECT_EQ(t.verdict, Verdict::weak_candidate);
        EXPECT_FALSE(t.decision.keep);
        EXPECT_EQ(t.decision.review, Review::WeakEvidence);
        EXPECT_FALSE(t.decision.person);
        EXPECT_DOUBLE_EQ(t.best_score, 0.3123);
        EXPECT_EQ(t.best_frame, candidates[t.id - 1].frames[1]);
        EXPECT_LE(t.path.start, candidates[t.id - 1].frames.front());
        EXPECT_GE(t.path.end, candidates[t.id - 1].frames.back());
    }
}

TEST(WeakCandidates, MosaickedWithAPurpleMarkerWhenTheirPathSpansSixFrames) {
    JudgedTrack t = mosaicked(5, path_over(10, 15));
    t.verdict = Verdict::weak_candidate;
    t.decision.review = Review::WeakEvidence;
    t.best_score = 0.312;
    Judgement j;
    j.tracks = {t};
    j.tracks[0].marker = track_marker(t);
    EXPECT_EQ(mosaic_plan(j).size(), 6u);
    EXPECT_EQ(report_tracks(j)[0]["review"], "weak-evidence");
    const json markers = report_markers(j);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0]["color"], "Purple");
    EXPECT_EQ(markers[0]["name"], "Quillet: mosaicked on weak evidence");
    EXPECT_EQ(markers[0]["frame"], 10);
    EXPECT_EQ(markers[0]["duration"], 6);
    EXPECT_NE(markers[0]["note"].get<std::string>().find("best detector score 0.312)"),
              std::string::npos);

    t.path = path_over(10, 14);
    EXPECT_FALSE(track_marker(t));
}

TEST(WeakCandidates, OnlyThoroughReportsSayTheirMode) {
    const Judgement a;
    const json plain = build_report("a.mov", "b.mov", 10, {}, json::object(), a);
    EXPECT_FALSE(plain.contains("mode"));
    Tuning tuning;
    tuning.thorough = true;
    const json thorough =
        build_report("a.mov", "b.mov", 10, {}, json::object(), a, HideStyle::mosaic, tuning);
    EXPECT_EQ(thorough["mode"], "thorough");
    // Right after the engine, before the overrides.
    const std::string text = report_text(thorough);
    EXPECT_LT(text.find("\"engine\""), text.find("\"mode\""));
    EXPECT_LT(text.find("\"mode\""), text.find("\"overrides\""));
}

TEST(WeakCandidates, OnlyTheFramesALiveTrackCoversAreDroppedTheRestSplitIntoRuns) {
    const std::vector<JudgedTrack> live = {
        mosaicked(0, path_over(20, 40)),
        ignored_over(9, path_over(0, 60), Verdict::ignored_nonface, 40)};
    const std::vector<Track> candidates = {
        candidate(7, 10, 41, 20),  // 10..50, the live face over 20..40
        candidate(8, 38, 7, 20),   // 38..44: four frames left
    };
    const std::vector<JudgedTrack> weak = weak_tracks(candidates, live, 200);
    ASSERT_EQ(weak.size(), 3u);
    // Before the live face, its own id; after it, the next id free.
    EXPECT_EQ(weak[0].id, 7);
    EXPECT_EQ(weak[0].n_detections, 10);
    EXPECT_EQ(weak[0].verdict, Verdict::weak_candidate);
    EXPECT_EQ(weak[0].decision.review, Review::WeakEvidence);
    EXPECT_LE(weak[0].path.start, 10);
    EXPECT_EQ(weak[1].id, 10);
    EXPECT_EQ(weak[1].n_detections, 10);
    EXPECT_EQ(weak[1].verdict, Verdict::weak_candidate);
    EXPECT_LE(weak[1].path.start, 41);
    EXPECT_GE(weak[1].path.end, 50);
    // Too thin to mosaick, but still there to be looked at (and hidden).
    EXPECT_EQ(weak[2].id, 8);
    EXPECT_EQ(weak[2].n_detections, 4);
    EXPECT_EQ(weak[2].verdict, Verdict::weak_thin);
    EXPECT_FALSE(weak[2].decision.review);
    EXPECT_TRUE(is_ignored(weak[2].verdict));
    EXPECT_FALSE(is_hidden(weak[2].verdict));
    EXPECT_FALSE(track_marker(weak[2]));
}
