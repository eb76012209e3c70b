#include "media/rates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "media/rates.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ClipSpec;
using qltest::ScopedTempDir;

TEST(RateValue, ReadsRationalsAndDecimals) {
    EXPECT_DOUBLE_EQ(rate_value("30000/1001"), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(rate_value("25"), 25.0);
    EXPECT_DOUBLE_EQ(rate_value("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(rate_value("2997/100"), 29.97);
}

TEST(RateValue, UnreadableTextGivesZero) {
    for (const char* bad : {"", "0/0", "25/0", "1/2/3", "a/1", "1/b", "fps", "25 fps", "/"})
        EXPECT_EQ(rate_value(std::string(bad)), 0.0) << bad;
    EXPECT_EQ(rate_value(std::nullopt), 0.0);
    EXPECT_EQ(rate_value("1/1e-320"), 0.0);  // would be infinite
}

TEST(SnapRate, SnapsNearStandardRates) {
    EXPECT_EQ(snap_rate("2997/100", std::nullopt), "30000/1001");
    EXPECT_EQ(snap_rate("29.97", std::nullopt), "30000/1001");
    EXPECT_EQ(snap_rate("23.98", std::nullopt), "24000/1001");
    EXPECT_EQ(snap_rate("59.94", std::nullopt), "60000/1001");
    EXPECT_EQ(snap_rate("25/1", "50/1"), "25/1");
    EXPECT_EQ(snap_rate("0/0", "25/1"), "25/1");
}

TEST(SnapRate, KeepsTheClipsOwnTextWhenNothingSnaps) {
    EXPECT_EQ(snap_rate("15/1", std::nullopt), "15/1");
    EXPECT_EQ(snap_rate("12.5", "0/0"), "12.5");
    EXPECT_EQ(snap_rate("0/0", "15/1"), "15/1");
    // A later candidate that snaps wins over an earlier one that does not.
    EXPECT_EQ(snap_rate("15/1", "30/1"), "30/1");
}

TEST(SnapRate, AbsentWhenNoCandidateIsUsable) {
    EXPECT_EQ(snap_rate(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(snap_rate("0/0", "0/0"), std::nullopt);
    EXPECT_EQ(snap_rate("-25/1", "N/A"), std::nullopt);
}

TEST(SnapRate, ToleranceIsStrictlyBelowSixPerMille) {
    // 12500/497 lies exactly 0.6 % (of itself) above 25.
    EXPECT_EQ(snap_rate("12500/497", std::nullopt), "12500/497");
    EXPECT_EQ(snap_rate("12499/497", std::nullopt), "25/1");
    EXPECT_EQ(snap_rate("24.85", std::nullopt), "24.85");  // 0.604 % below 25
    EXPECT_EQ(snap_rate("24.86", std::nullopt), "25/1");
}
