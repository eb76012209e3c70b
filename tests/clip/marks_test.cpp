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
    EXPECT_FALSE(live[2].decision.keep) << "no box at frame 40";
    EXPECT_FALSE(marker_entry(live[1])) << "no marker once marked";
}

TEST(UserMarks, TieGoesToTheLargerIdAndMarksApplyInTurn) {
    std::vector<JudgedTrack> live = {mosaicked(3, path_over(0, 20)), mosaicked(9, path_over(0, 20)),
                                     mosaicked(5, path_over(0, 20))};
    apply_marks(live, keep_marks({10}));
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_FALSE(live[0].decision.keep || live[2].decision.keep);

    // Marks apply in turn: the second sees track 9 kept and takes the next.
    std::vector<JudgedTrack> again = {mosaicked(3, path_over(0, 20)),
                                      mosaicked(9, path_over(0, 20)),
                                      mosaicked(5, path_over(0, 20))};
    apply_marks(again, keep_marks({10, 11}));
    EXPECT_TRUE(again[1].decision.keep && again[2].decision.keep);
    EXPECT_FALSE(again[0].decision.keep);

    // Kept people are not candidates; a frame nobody covers does nothing.
    std::vector<JudgedTrack> kept = {
        flagged(1, path_over(0, 9, 90.0f), Review::KeptBorderline, true),
        mosaicked(2, path_over(0, 9, 10.0f))};
    apply_marks(kept, keep_marks({5, 500, -3}));
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
