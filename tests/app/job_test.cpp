#include "app/job.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/settings.h"

#include "platform/files.h"
#include "platform/numbers.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

TEST(JobFiles, LinesWhateverTheLineBreaks) {
    EXPECT_EQ(split_lines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(split_lines("\xEF\xBB\xBF"
                          "first\r\n"),
              (std::vector<std::string>{"first"}));
    EXPECT_EQ(trimmed_lines("  a.mov  \r\n\r\n\t\n b.mov\t/out \n"),
              (std::vector<std::string>{"a.mov", "b.mov\t/out"}));
}

TEST(JobFiles, OptionLines) {
    RunPlan p;
    apply_option_line(p, "codec=h264");
    EXPECT_EQ(p.codec, "h264");
    apply_option_line(p, "codec= hevc  ");
    EXPECT_EQ(p.codec, "hevc");
    apply_option_line(p, "threshold=0.5");
    EXPECT_EQ(p.tuning.keep_threshold, 0.5);
    apply_option_line(p, "threshold=strict");  // not a number: ignored
    apply_option_line(p, "threshold=");
    EXPECT_EQ(p.tuning.keep_threshold, 0.5);
    apply_option_line(p, "threshold= 0.25 ");
    EXPECT_EQ(p.tuning.keep_threshold, 0.25);
    apply_option_line(p, " codec=prores");  // compared untrimmed: ignored
    EXPECT_EQ(p.codec, "hevc");
    EXPECT_FALSE(p.fast);
    apply_option_line(p, "  speed=fast \t");
    EXPECT_TRUE(p.fast);
    apply_option_line(p, "colour=blue");  // unknown: ignored
    EXPECT_EQ(p.style, HideStyle::mosaic);
    apply_option_line(p, "style= blur ");
    EXPECT_EQ(p.style, HideStyle::blur);
    apply_option_line(p, "style=pixels");  // unknown: said, and the default used
    EXPECT_EQ(p.style, HideStyle::mosaic);
    EXPECT_TRUE(p.review_page);
    apply_option_line(p, "review_page= no ");
    EXPECT_FALSE(p.review_page);
    apply_option_line(p, "review_page=yes");
    EXPECT_TRUE(p.review_page);
}

TEST(JobFiles, SpeedLinesChooseFastOrThoroughAndTheLastOneCounts) {
    ScopedTempDir job;
    write_file_atomic(job / "clips.txt", "/c/a.mov\n");
    write_file_atomic(job / "options.txt", "speed=fast\n speed=thorough \n");
    CliArgs args;
    args.job = job.path().string();
    RunPlan p = plan_run(args);
    EXPECT_TRUE(p.thorough);
    EXPECT_FALSE(p.fast);
    EXPECT_TRUE(p.tuning.thorough);
    EXPECT_EQ(p.tuning.det_max_side, DEFAULT_DET_MAX_SIDE);
    EXPECT_EQ(p.tuning.det_every, DEFAULT_DET_EVERY);

    write_file_atomic(job / "options.txt", "speed=thorough\nspeed=fast\n");
    p = plan_run(args);
    EXPECT_FALSE(p.tuning.thorough);
    EXPECT_EQ(p.tuning.det_every, 2);

    // From the command line; a job's options.txt without a speed line keeps it.
    write_file_atomic(job / "options.txt", "codec=h264\n");
    args.thorough = true;
    EXPECT_TRUE(plan_run(args).tuning.thorough);
}

TEST(JobFiles, JobFolderReplacesCommandLine) {
    ScopedTempDir job;
    write_file_atomic(job / "clips.txt", "\xEF\xBB\xBF/c/a.mov\r\n/c/b.mov\t/out\r\n\r\n");
    write_file_atomic(job / "options.txt", "codec=h264\r\nthreshold=0.5\r\nspeed=fast\r\n");
    CliArgs args;
    args.job = job.path().string();
    args.files = {"/ignored.mov"};
    args.keep = {"Anna"};
    RunPlan p = plan_run(args);
    EXPECT_EQ(p.clips, (std::vector<std::string>{"/c/a.mov", "/c/b.mov\t/out"}));
    EXPECT_TRUE(p.keep.empty()) << "no keep.txt keeps nobody, whatever --keep said";
    EXPECT_EQ(p.codec, "h264");
    EXPECT_EQ(p.tuning.keep_threshold, 0.5);
    EXPECT_EQ(p.tuning.det_max_side, 1600);
    EXPECT_EQ(p.tuning.det_every, 2);

    write_file_atomic(job / "keep.txt", " Anna \n\nBen\n");
    EXPECT_EQ(plan_run(args).keep, (std::vector<std::string>{"Anna", "Ben"}));
}

TEST(JobFiles, CommandLineOnlyAndMissingClipsFile) {
    CliArgs args;
    args.files = {"a.mov"};
    args.keep = {"Anna", "Ben"};
    RunPlan p = plan_run(args);
    EXPECT_EQ(p.keep, (std::vector<std::string>{"Anna", "Ben"}));
    EXPECT_EQ(p.tuning.det_max_side, 1920);
    EXPECT_EQ(p.tuning.det_every, 1);
    EXPECT_EQ(p.tuning.keep_threshold, 0.363);
    ScopedTempDir empty;
    args.job = empty.path().string();
    EXPECT_THROW(plan_run(args), std::runtime_error);
}

namespace {

// What applying `line` says on the console.
std::string said_by(RunPlan& p, const std::string& line) {
    testing::internal::CaptureStdout();
    apply_option_line(p, line);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(RunSettings, UnknownChoicesFallBackAndOddThresholdsAreUsedButSaid) {
    RunPlan p;
    p.codec = "h264";
    EXPECT_EQ(said_by(p, "codec=vp9"),
              "  \u26a0 unknown codec 'vp9' in options.txt: using prores\n");
    EXPECT_EQ(p.codec, "prores");
    EXPECT_EQ(said_by(p, "speed=turbo"),
              "  \u26a0 unknown speed 'turbo' in options.txt: using default\n");
    EXPECT_FALSE(p.fast || p.thorough);

    // The sensible range's edges are fine; beyond them, used as given and said.
    for (const char* fine : {"threshold=0.2", "threshold=0.95", "threshold=0.5"})
        EXPECT_EQ(said_by(p, fine), "") << fine;
    EXPECT_EQ(p.tuning.keep_threshold, 0.5);
    for (double odd : {0.1999, 0.96, -3.0, 36.3}) {
        const std::string said = said_by(p, "threshold=" + shortest(odd));
        EXPECT_EQ(p.tuning.keep_threshold, odd);
        EXPECT_EQ(said.rfind("  \u26a0 threshold " + shortest(odd) +
                                 " in options.txt is outside 0.2 to 0.95 (",
                             0),
                  0u)
            << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
}

TEST(RunSettings, TheCommandLineGoesThroughTheSameTable) {
    CliArgs args;
    args.files = {"a.mov"};
    args.threshold = "0.05";
    testing::internal::CaptureStdout();
    const RunPlan p = plan_run(args);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.tuning.keep_threshold, 0.05);
    EXPECT_NE(said.find("threshold 0.05 on the command line is outside"), std::string::npos)
        << said;

    // A job's line replaces the command line's value.
    ScopedTempDir job;
    write_file_atomic(job / "clips.txt", "/c/a.mov\n");
    write_file_atomic(job / "options.txt", "threshold=0.4\nstyle=solid\n");
    args.job = job.path().string();
    args.threshold = "0.3";
    args.style = "blur";
    const RunPlan q = plan_run(args);
    EXPECT_EQ(q.tuning.keep_threshold, 0.4);
    EXPECT_EQ(q.style, HideStyle::solid);
}

// A keep.txt in the user's code page (what older scripts wrote) reads the
// same as a UTF-8 one; a name the code page could not spell is left out with
// a line of its own, while a plainly missing person still stops the run.
TEST(JobFiles, ReadAsUtf8AndUnreadableNamesFailAlone) {
    ScopedTempDir job, people;
    fs::create_directories(people / "Zo\xc3\xab");
    fs::create_directories(people / "odd \xef\xbf\xbd");
    write_file_atomic(job / "clips.txt", "\xef\xbb\xbf/c/\xc3\x89t\xc3\xa9/a.mov\r\n");
    write_file_atomic(job / "keep.txt",
                      "Zo\xc3\xab\r\nZo\xef\xbf\xbd\r\nodd \xef\xbf\xbd\r\nBen\r\n");
    CliArgs args;
    args.job = job.path().string();
    RunPlan plan = plan_run(args);
    EXPECT_EQ(plan.clips, std::vector<std::string>{"/c/\xc3\x89t\xc3\xa9/a.mov"});
    testing::internal::CaptureStdout();
    drop_unreadable_names(plan.keep, people.path());
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(plan.keep, (std::vector<std::string>{"Zo\xc3\xab", "odd \xef\xbf\xbd", "Ben"}));
    EXPECT_NE(said.find("cannot read the name 'Zo\xef\xbf\xbd' in keep.txt"), std::string::npos)
        << said;
    EXPECT_EQ(said.find("Ben"), std::string::npos) << said;
}
