#include "clip/output_paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

TEST(ClipFiles, NamesBesideTheVideo) {
    fs::path out = fs::path("/o") / "A001_mosaic.mov";
    EXPECT_EQ(report_path(out), fs::path("/o/A001_mosaic.json"));
    EXPECT_EQ(overrides_path(out), fs::path("/o/A001_mosaic.overrides.json"));
    EXPECT_EQ(analysis_path(out), fs::path("/o/A001_mosaic.analysis.json"));
}

TEST(OutputPath, BesideTheClipOrInTheGivenFolder) {
    ScopedTempDir dir, home;
    fs::path src = dir / "A001.clip.mov";
    EXPECT_EQ(output_path(src, std::nullopt, home.path()),
              dir / "Quillet" / "A001.clip_mosaic.mov");
    EXPECT_TRUE(fs::is_directory(dir / "Quillet"));
    EXPECT_FALSE(fs::exists(dir / "Quillet" / ".write-test")) << "the probe file is removed";

    fs::path given = dir / "deep" / "out";
    EXPECT_EQ(output_path(src, given, home.path()), given / "A001.clip_mosaic.mov");
    EXPECT_TRUE(fs::is_directory(given));
    EXPECT_FALSE(fs::exists(home / "output"));
}

TEST(OutputPath, UnusableClipFolderFallsBackToHome) {
    ScopedTempDir dir, home;
    // "Quillet" taken by a file: the folder cannot be made, whoever runs this.
    write_file_atomic(dir / "Quillet", "not a folder");
    EXPECT_EQ(output_path(dir / "A001.mov", std::nullopt, home.path()),
              home / "output" / "A001_mosaic.mov");
    EXPECT_TRUE(fs::is_directory(home / "output"));
}

TEST(OutputPath, ReadOnlyCardFallsBackToHome) {
    ScopedTempDir dir, home;
    fs::path card = dir / "card";
    fs::create_directory(card);
    fs::permissions(card, fs::perms::owner_read | fs::perms::owner_exec);
    {
        // Root writes anyway; then there is no read-only card to test.
        std::ofstream f(card / "probe");
        if (f) GTEST_SKIP() << "running with rights that ignore file permissions";
    }
    EXPECT_EQ(output_path(card / "A001.mov", std::nullopt, home.path()),
              home / "output" / "A001_mosaic.mov");
    EXPECT_FALSE(fs::exists(card / "Quillet"));
}
