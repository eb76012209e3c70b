#include "media/console.h"

#include <gtest/gtest.h>

using namespace qlcore;

TEST(Progress, FullLineWithPercentageRateAndTimeLeft) {
    EXPECT_EQ(progress_text("writing", 420, 1000, 16.6),
              "\r  writing:  42.0%  (420/1000 frames, 25.3 fps, ~0m22s left)   ");
}

TEST(Progress, StartOfRunShowsZeros) {
    EXPECT_EQ(progress_text("finding faces", 0, 250, 0.0),
              "\r  finding faces:   0.0%  (0/250 frames,  0.0 fps, ~0m00s left)   ");
}

TEST(Progress, UnknownTotalGivesShortForm) {
    EXPECT_EQ(progress_text("scanning", 90, 0, 3.0), "\r  scanning: 90 frames (30.0 fps)   ");
}

TEST(Progress, MoreFramesThanExpectedCapsAtHundred) {
    // eta is negative here: -10 frames at 10 fps is -1 s, floor gives -1m59s.
    EXPECT_EQ(progress_text("writing", 110, 100, 11.0),
              "\r  writing: 100.0%  (110/100 frames, 10.0 fps, ~-1m59s left)   ");
}

TEST(Progress, MinutesAndTwoDigitSeconds) {
    // 125.7 s left: 2m05s.
    EXPECT_EQ(progress_text("writing", 100, 1357, 10.0),
              "\r  writing:   7.4%  (100/1357 frames, 10.0 fps, ~2m05s left)   ");
}
