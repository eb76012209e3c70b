// What the Windows build itself chooses.
#include <gtest/gtest.h>

#include "encode/encoders.h"
#include "media/tools.h"

using namespace qlcore;

TEST(WindowsBuild, ItsPlatformIsWindowsWithItsDecoderAndProResEntry) {
    EXPECT_TRUE(this_platform().windows);
    EXPECT_FALSE(this_platform().macos);
    EXPECT_EQ(hwaccel_args(), (std::vector<std::string>{"-hwaccel", "auto"}));
    ClipInfo info;
    info.rate = "25/1";
    const std::vector<Args> prores = encoder_candidates("prores", info, {1920, 1080});
    ASSERT_EQ(prores.size(), 1u);
    EXPECT_EQ(prores[0][1], "prores");
}
