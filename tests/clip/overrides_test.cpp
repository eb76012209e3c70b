#include "clip/overrides.h"

#include "clip/output_paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

TEST(Overrides, WholeDistinctSortedFrames) {
    EXPECT_EQ(dump_compact(parse_overrides(R"({"keep": [40, "12", 12.9, 40]})")),
              R"({"keep":[12,40]})");
    EXPECT_EQ(dump_compact(parse_overrides(R"({"keep": [-7.9, " 3 ", 0], "other": 1})")),
              R"({"keep":[-7,0,3]})");
    EXPECT_EQ(parse_overrides(R"({"keep": []})"), json::object());
    EXPECT_EQ(parse_overrides(R"({"other": [1]})"), json::object());
}

TEST(Overrides, HostileContentCountsAsNoMarks) {
    for (const char* text : {"",
                             "{",
                             "not json",
                             "[40]",
                             "40",
                             "null",
                             R"({"keep": 40})",
                             R"({"keep": "40"})",
                             R"({"keep": {"a": 1}})",
                             R"({"keep": [true]})",
                             R"({"keep": [null]})",
                             R"({"keep": [[1]]})",
                             R"({"keep": ["12.5"]})",
                             R"({"keep": ["twelve"]})",
                             R"({"keep": [1e300]})",
                             R"({"keep": [-1e300]})",
                             R"({"keep": [1e999]})",
                             R"({"keep": [18446744073709551615]})",
                             R"({"keep": ["99999999999999999999"]})",
                             R"({"keep": [1, "x"]})"}) {
        EXPECT_EQ(parse_overrides(text), json::object()) << text;
    }
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(parse_overrides(R"({"keep": )" + deep + "}"), json::object());
}

TEST(Overrides, ReadFromBesideTheVideo) {
    ScopedTempDir dir;
    fs::path out = dir / "A001_mosaic.mov";
    EXPECT_EQ(load_overrides(out), json::object()) << "missing file";
    write_file_atomic(dir / "A001_mosaic.overrides.json", R"({"keep": [5]})");
    EXPECT_EQ(dump_compact(load_overrides(out)), R"({"keep":[5]})");
    fs::remove(dir / "A001_mosaic.overrides.json");
    fs::create_directory(dir / "A001_mosaic.overrides.json");
    EXPECT_EQ(load_overrides(out), json::object()) << "a folder in its place";
}

TEST(Overrides, HideFramesReadLikeKeepOnes) {
    EXPECT_EQ(dump_compact(parse_overrides(R"({"hide": [2450, "12", 12.7, 2450]})")),
              R"({"hide":[12,2450]})");
    EXPECT_EQ(dump_compact(parse_overrides(R"({"hide": [3], "keep": [9]})")),
              R"({"keep":[9],"hide":[3]})");
    EXPECT_EQ(parse_overrides(R"({"hide": []})"), json::object()) << "an empty hide is no hide";
    // A broken "hide" leaves the keep marks; a broken "keep" spoils both.
    EXPECT_EQ(dump_compact(parse_overrides(R"({"keep": [9], "hide": "x"})")), R"({"keep":[9]})");
    EXPECT_EQ(parse_overrides(R"({"keep": "x", "hide": [3]})"), json::object());
}
