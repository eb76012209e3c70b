#include "clip/marks.h"

#include "clip/report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "clip/judged_tracks_fixture.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;
using namespace cliptest;

TEST(UserMarks, WidestUnkeptFaceAtTheFrame) {
    std::vector<JudgedTrack> live = {mosaicked(0, path_over(30, 50, 60.0f)),
                                     mosaicked(1, path_over(35, 45, 80.0f)),
                                     mosaicked(2, path_over(41, 60, 200.0f))};
    live[1].decision.review = Review::MosaicBorderline;
    live[1].decision.median = 0.3;
    apply_marks(live, keep_marks({40}));
    EXPECT_FALSE(live[0].decision.keep);
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_EQ(live[1].decision.person, "(marked by you)");
    EXPECT_FALSE(live[1].decision.review);
    EXPECT_EQ(live[1].decision.median, 0.3) << "other fields unchanged";
    EXPECT_EQ(live[1].verdict, Verdict::kept_by_you);
    EXPECT_FALSE(live[2].decision.keep) << "no box at frame 40";
    EXPECT_FALSE(track_marker(live[1])) << "no marker once marked";
}

TEST(UserMarks, TieGoesToTheLargerIdAndMarksApplyInTurn) {
    std::vector<JudgedTrack> live = {mosaicked(3, path_over(0, 20)), mosaicked(9, path_over(0, 20)),
                                     mosaicked(5, path_over(0, 20))};
    apply_marks(live, keep_marks({10}));
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_FALSE(live[0].decision.keep || live[2].decision.keep);

    // Marks apply in turn: the second finds track 9 taken and is not moved
    // to the next face.
    std::vector<JudgedTrack> again = {mosaicked(3, path_over(0, 20)),
                                      mosaicked(9, path_over(0, 20)),
                                      mosaicked(5, path_over(0, 20))};
    const auto problems = apply_marks(again, keep_marks({10, 11}));
    EXPECT_TRUE(again[1].decision.keep);
    EXPECT_FALSE(again[0].decision.keep || again[2].decision.keep);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], (MarkProblem{"keep", 11, "an earlier mark took the face there"}));

    // Kept people are not candidates; a frame nobody covers does nothing.
    std::vector<JudgedTrack> kept = {
        flagged(1, path_over(0, 9, 90.0f), Review::KeptBorderline, true),
        mosaicked(2, path_over(0, 9, 10.0f))};
    EXPECT_EQ(apply_marks(kept, keep_marks({5, 500, -3})).size(), 2u);
    EXPECT_EQ(kept[0].decision.person, "Anna");
    EXPECT_EQ(kept[0].decision.review, Review::KeptBorderline);
    EXPECT_TRUE(kept[1].decision.keep);

    // No marks at all leave every decision as it was.
    std::vector<JudgedTrack> plain = {
        flagged(1, path_over(0, 9, 90.0f), Review::KeptBorderline, true),
        mosaicked(2, path_over(0, 9, 10.0f))};
    apply_marks(plain, json::object());
    EXPECT_EQ(plain[0].decision.person, "Anna");
    EXPECT_EQ(plain[0].decision.review, Review::KeptBorderline);
    EXPECT_TRUE(plain[0].decision.keep);
    EXPECT_FALSE(plain[1].decision.keep);
    EXPECT_NE(plain[1].decision.person, "(marked by you)");
}

TEST(HideMarks, WidestIgnoredTrackAtTheFrameIsMosaickedForItsWholePath) {
    std::vector<JudgedTrack> tracks = {
        ignored_over(2, path_over(0, 20, 60.0f), Verdict::ignored_nonface, 12),
        ignored_over(4, path_over(10, 30, 90.0f), Verdict::ignored_flash, 1),
        ignored_over(7, path_over(10, 30, 90.0f), Verdict::ignored_nonface, 9),
        // Mosaicked already and wider: no candidate for a hide.
        mosaicked(9, path_over(0, 30, 200.0f))};
    // Frame 15: 7 and 4 tie on width, the larger id wins; frame 5: only 2;
    // frame 500: nobody.
    apply_hides(tracks, json{{"hide", {5, 15, 500}}});
    EXPECT_EQ(tracks[0].verdict, Verdict::hidden_by_you);
    EXPECT_EQ(tracks[1].verdict, Verdict::ignored_flash);
    EXPECT_EQ(tracks[2].verdict, Verdict::hidden_by_you);
    EXPECT_EQ(tracks[2].decision.person, "(hidden by you)");
    EXPECT_FALSE(tracks[2].decision.keep);
    EXPECT_EQ(tracks[3].verdict, Verdict::mosaicked);

    // The mark a marker offers names its box and takes its track, even
    // where a wider one overlaps it.
    std::vector<JudgedTrack> two = {
        ignored_over(1, path_over(0, 20, 60.0f), Verdict::ignored_nonface, 12),
        ignored_over(3, path_over(0, 10, 90.0f), Verdict::ignored_nonface, 9)};
    const auto line = hide_mark(two[0], two);
    ASSERT_TRUE(line);
    EXPECT_EQ(mark_text(*line), R"({"frame": 2, "box": [10.0, 20.0, 60.0, 60.0]})");
    auto hidden = two;
    EXPECT_TRUE(apply_hides(hidden, json::parse(overrides_line_text("hide", *line))).empty());
    EXPECT_EQ(hidden[0].verdict, Verdict::hidden_by_you);
    EXPECT_EQ(hidden[1].verdict, Verdict::ignored_nonface);
}

TEST(HideMarks, AFaceKeptByRecognitionCanBeHiddenWhereNoIgnoredOneIsThere) {
    auto tracks = [] {
        return std::vector<JudgedTrack>{
            flagged(1, path_at(0, 30, 10.0f, 90.0f), Review::KeptBorderline, true),
            ignored_over(2, path_at(20, 30, 300.0f, 40.0f), Verdict::ignored_nonface, 9)};
    };
    // Frame 25 holds the ignored track too: it takes it, as it always did.
    auto a = tracks();
    apply_hides(a, json{{"hide", {25}}});
    EXPECT_EQ(a[0].verdict, Verdict::kept);
    EXPECT_EQ(a[1].verdict, Verdict::hidden_by_you);
    // Frame 5 holds only the kept face.
    auto b = tracks();
    apply_hides(b, json{{"hide", {5}}});
    EXPECT_EQ(b[0].verdict, Verdict::hidden_by_you);
    EXPECT_FALSE(b[0].decision.keep);
    EXPECT_EQ(b[0].decision.person, "(hidden by you)");
    EXPECT_FALSE(b[0].decision.review);
    // By its box, at any frame of it.
    auto c = tracks();
    const auto line = hide_mark(c[0], c);
    ASSERT_TRUE(line);
    apply_hides(c, json{{"hide", {box_mark(25, 10, 20, 88, 90)}}});
    EXPECT_EQ(c[0].verdict, Verdict::hidden_by_you);
    EXPECT_EQ(c[1].verdict, Verdict::ignored_nonface);
}

TEST(HideMarks, LongNonFacesLeftVisibleGetAPurpleMarker) {
    std::vector<JudgedTrack> ignored = {
        ignored_over(1, path_over(0, 5), Verdict::ignored_nonface, 8),
        ignored_over(2, path_over(0, 5), Verdict::ignored_nonface, 7),
        ignored_over(3, path_over(0, 4), Verdict::ignored_nonface, 8),
        ignored_over(4, path_over(0, 30), Verdict::ignored_flash, 8)};
    ignored[0].override_mark = MarkLine{3, {10, 20, 50, 50}};
    auto m = track_marker(ignored[0]);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->frame, 0);
    EXPECT_EQ(m->duration, 6);
    EXPECT_EQ(m->color, "Purple");
    EXPECT_EQ(m->name, "Quillet: check face left visible");
    EXPECT_NE(m->note.find("score 0.8)"), std::string::npos);
    EXPECT_NE(
        m->note.find(
            R"(hide it: write {"hide": [{"frame": 3, "box": [10.0, 20.0, 50.0, 50.0]}]} into)"),
        std::string::npos)
        << m->note;
    ignored[0].override_mark.reset();
    EXPECT_NE(track_marker(ignored[0])->note.find("No overrides line can name this face alone"),
              std::string::npos);
    EXPECT_FALSE(track_marker(ignored[1])) << "7 detections";
    EXPECT_FALSE(track_marker(ignored[2])) << "five frames";
    EXPECT_FALSE(track_marker(ignored[3])) << "a flash";

    // After the other markers, in track order; the hidden track is listed.
    Judgement j;
    j.tracks = {ignored_over(0, path_over(0, 9), Verdict::hidden_by_you, 9), ignored[0],
                flagged(5, path_over(0, 9), Review::MosaicBorderline, false)};
    for (JudgedTrack& t : j.tracks)
        t.marker = track_marker(t);
    const json tracks = report_tracks(j);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0]["track"], 0);
    EXPECT_EQ(mosaic_plan(j).size(), 10u);
    const json markers = report_markers(j);
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_EQ(markers[0]["color"], "Yellow");
    EXPECT_EQ(markers[1]["color"], "Purple");
}

TEST(KeepMarks, TheMarkOfferedForAMosaickedFaceKeepsThatFace) {
    std::vector<JudgedTrack> live = {
        mosaicked(1, path_over(0, 20, 60.0f)), mosaicked(3, path_over(0, 10, 90.0f)),
        // Kept already: wider, yet no rival for a mark.
        flagged(4, path_over(0, 30, 120.0f), Review::KeptBorderline, true)};
    EXPECT_EQ(keep_mark(live[0], live, 5)->frame, 5) << "named by its box beside a wider face";
    EXPECT_EQ(keep_mark(live[1], live, 5)->frame, 5);
    EXPECT_EQ(keep_mark(live[2], live, 5), std::nullopt) << "already kept";
    for (size_t i : {0, 1}) {
        auto marked = live;
        const json line = json::parse(overrides_line_text("keep", *keep_mark(live[i], live, 5)));
        EXPECT_TRUE(apply_marks(marked, line).empty());
        EXPECT_TRUE(marked[i].decision.keep) << i;
        EXPECT_FALSE(marked[1 - i].decision.keep) << i;
    }
    // The very same box, where the larger id wins: nothing names the other.
    std::vector<JudgedTrack> behind = {mosaicked(1, path_over(2, 4, 50.0f)),
                                       mosaicked(2, path_over(0, 9, 50.0f))};
    EXPECT_EQ(keep_mark(behind[0], behind, 3), std::nullopt);
    EXPECT_EQ(keep_mark(behind[1], behind, 3)->frame, 3);
}

TEST(KeepMarks, ABoxMarkTakesOnlyTheFaceItOverlapsAndIsNeverMoved) {
    // Three faces side by side at frame 40, the middle one the narrowest.
    auto row = [] {
        return std::vector<JudgedTrack>{mosaicked(1, path_at(0, 60, 0.0f, 100.0f)),
                                        mosaicked(2, path_at(0, 60, 200.0f, 60.0f)),
                                        mosaicked(3, path_at(0, 60, 400.0f, 100.0f))};
    };
    auto a = row();
    // Overlaps the middle face 0.6 (a plain 40 would take track 3).
    EXPECT_TRUE(apply_marks(a, json{{"keep", {box_mark(40, 215, 20, 60, 60)}}}).empty());
    EXPECT_EQ(a[1].verdict, Verdict::kept_by_you);
    EXPECT_FALSE(a[0].decision.keep || a[2].decision.keep);

    // Overlapping too little, or nothing, or a face kept by recognition, or
    // one an earlier mark took: not applied, and said.
    auto b = row();
    b[0] = flagged(1, path_at(0, 60, 0.0f, 100.0f), Review::KeptBorderline, true);
    const json marks = {{"keep",
                         {box_mark(40, 240, 20, 60, 60), box_mark(40, 700, 20, 50, 50),
                          box_mark(40, 0, 20, 100, 100), box_mark(40, 400, 20, 100, 100),
                          box_mark(41, 405, 20, 100, 100)}}};
    const auto problems = apply_marks(b, marks);
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_EQ(problems[0], (MarkProblem{"keep", marks["keep"][0], "no mosaicked face is there"}));
    EXPECT_EQ(problems[1].mark, marks["keep"][1]);
    EXPECT_EQ(problems[2].why, "no mosaicked face is there") << "kept as Anna already";
    EXPECT_EQ(problems[3],
              (MarkProblem{"keep", marks["keep"][4], "an earlier mark took the face there"}));
    EXPECT_EQ(b[0].decision.person, "Anna");
    EXPECT_FALSE(b[1].decision.keep);
    EXPECT_EQ(b[2].verdict, Verdict::kept_by_you);
}
