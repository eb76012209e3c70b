#include "app/batch.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

json _report() {
    return json::parse(R"({
        "source": "/clips/A001.mov",
        "output": "/clips/Quillet/A001_mosaic.mov",
        "frames": 300,
        "markers": [
            {"frame": 12, "duration": 40, "color": "Red", "name": "Quillet: check visible face",
             "note": "Left visible as Anna\tB\nC (similarity 0.4). Make sure this is really them."},
            {"frame": 100, "duration": 6, "color": "Yellow",
             "name": "Quillet: possibly over-mosaicked", "note": "plain"}
        ]
    })");
}

}  // namespace

TEST(Results, ClipLineThenOneLinePerMarker) {
    auto lines = result_lines(_report());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "CLIP\t/clips/A001.mov\t/clips/Quillet/A001_mosaic.mov");
    EXPECT_EQ(lines[1],
              "MARK\t/clips/Quillet/A001_mosaic.mov\t12\t40\tRed\tQuillet: check visible face\t"
              "Left visible as Anna B C (similarity 0.4). Make sure this is really them.");
    EXPECT_EQ(lines[2],
              "MARK\t/clips/Quillet/A001_mosaic.mov\t100\t6\tYellow\t"
              "Quillet: possibly over-mosaicked\tplain");
    for (const auto& l : lines) {
        EXPECT_EQ(l.find('\n'), std::string::npos);
        if (l.rfind("MARK", 0) == 0) {
            EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 6);
        }
    }
    EXPECT_EQ(results_text({"a\tb", "c"}), "a\tb\nc\n");
    EXPECT_EQ(results_text({}), "");

    json bare = _report();
    bare["markers"] = json::array();
    EXPECT_EQ(result_lines(bare).size(), 1u);
}

TEST(Results, ClipEntriesSplitAtTheFirstTab) {
    EXPECT_EQ(split_clip_entry("/c/a.mov"), (std::pair<std::string, std::string>{"/c/a.mov", ""}));
    EXPECT_EQ(split_clip_entry("/c/a.mov\t/out\tx"),
              (std::pair<std::string, std::string>{"/c/a.mov", "/out\tx"}));
    EXPECT_EQ(split_clip_entry("/c/a.mov\t"),
              (std::pair<std::string, std::string>{"/c/a.mov", ""}));
}

TEST(Summary, MinutesWithOneDecimalAndFailedNames) {
    EXPECT_EQ(minutes_text(18.0), "0.3");
    EXPECT_EQ(minutes_text(0.0), "0.0");
    EXPECT_EQ(minutes_text(2.0), "0.0");
    EXPECT_EQ(minutes_text(90.0), "1.5");
    EXPECT_EQ(minutes_text(3600.0), "60.0");
    EXPECT_EQ(failed_line({"/c/a.mov", "b.mov", "/x/y/C 01.mxf"}),
              "Failed: a.mov, b.mov, C 01.mxf");
}

TEST(Batch, EmptyJobEndsWithoutDoneFlag) {
    ScopedTempDir job;
    write_file_atomic(job / "clips.txt", "\n  \r\n\t\n");
    CliArgs args;
    args.job = job.path().string();
    args.files = {"/ignored.mov"};
    testing::internal::CaptureStdout();
    int status = cmd_process(args);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "No clips given.\n");
    EXPECT_FALSE(fs::exists(job / "done.flag"));
    EXPECT_FALSE(fs::exists(job / "results.tsv"));
}
