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
}

TEST(Overrides, AMalformedFileKeepsItsReadableHidesAndNoKeep) {
    // Whatever is wrong, and wherever: no keep, the readable hides.
    const std::pair<const char*, const char*> cases[] = {
        {R"({"keep": [9], "hide": "x"})", "{}"},
        {R"({"keep": [9], "hide": [3, true]})", R"({"hide":[3]})"},
        {R"({"keep": "x", "hide": [3]})", R"({"hide":[3]})"},
        {R"({"keep": [9, "x"], "hide": [3]})", R"({"hide":[3]})"},
        {R"({"keep": [9, {"frame": 4}], "hide": [3]})", R"({"hide":[3]})"},
        {R"({"keep": [9], "hide": [3, {"frame": 4, "box": [1, 2, 0, 5]}]})", R"({"hide":[3]})"}};
    for (const auto& [text, marks] : cases) {
        const Overrides o = parse_overrides_text(text);
        EXPECT_FALSE(o.problem.empty()) << text;
        EXPECT_EQ(dump_compact(o.marks), marks) << text;
    }
    // The first problem is named, the entry as written.
    EXPECT_EQ(
        parse_overrides_text(R"({"keep": [1, "twelve", null]})").problem,
        R"("keep" holds "twelve", neither a frame number nor {"frame": N, "box": [x, y, w, h]})");
    EXPECT_EQ(parse_overrides_text("{\"keep\": [1,").problem, "it is not JSON");
    EXPECT_EQ(parse_overrides_text("[1]").problem, "it is not a JSON object");
    EXPECT_EQ(parse_overrides_text(R"({"hide": 5})").problem, R"("hide" is not a list)");
    // Well formed: no problem, whatever keys besides.
    EXPECT_EQ(parse_overrides_text(R"({"keep": [], "note": "x"})").problem, "");

    ScopedTempDir dir;
    EXPECT_EQ(read_overrides(dir / "A001_mosaic.mov").problem, "") << "a missing file is no fault";
    fs::create_directory(dir / "A001_mosaic.overrides.json");
    EXPECT_EQ(read_overrides(dir / "A001_mosaic.mov").problem, "it cannot be read");
    EXPECT_EQ(overrides_warning(dir / "A.overrides.json", "it is not JSON"),
              "  \u26a0 the overrides file " + (dir / "A.overrides.json").string() +
                  " is malformed (it is not JSON): none of its \"keep\" marks apply, its "
                  "readable \"hide\" marks do");
}

TEST(Overrides, BoxMarksAfterTheFrameNumbersInOrder) {
    const json o = parse_overrides(
        R"({"keep": [{"frame": "40", "box": [10, 20.5, 30, 40]}, 7, {"frame": 12.9, "box": [1, 2, 3, 4]},
                     {"frame": 40, "box": [10, 20.5, 30, 40]}, 7],
            "hide": [{"frame": 3, "box": [-5, 0, 8, 8]}]})");
    EXPECT_EQ(
        dump_compact(o),
        R"({"keep":[7,{"frame":12,"box":[1.0,2.0,3.0,4.0]},{"frame":40,"box":[10.0,20.5,30.0,40.0]}],)"
        R"("hide":[{"frame":3,"box":[-5.0,0.0,8.0,8.0]}]})");
}
