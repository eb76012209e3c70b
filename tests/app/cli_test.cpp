#include "app/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/batch.h"
#include "app/commands.h"
#include "app/folders.h"
#include "app/job.h"
#include "app/startup.h"
#include "faces/people.h"
#include "platform/platform.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::run_qlcore;
using qltest::ScopedTempDir;
namespace fs = std::filesystem;

namespace {

ParseOutcome parse(std::vector<const char*> args) {
    args.insert(args.begin(), "qlcore");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

}  // namespace

TEST(CommandLine, ProcessOptionsAndDefaults) {
    auto p = parse({"process", "--keep", "Anna", "a.mov", "--keep", "Ben", "b.mov"});
    ASSERT_TRUE(p.args);
    EXPECT_EQ(p.args->cmd, "process");
    EXPECT_EQ(p.args->fn, &cmd_process);
    EXPECT_EQ(p.args->keep, (std::vector<std::string>{"Anna", "Ben"}));
    EXPECT_EQ(p.args->files, (std::vector<std::string>{"a.mov", "b.mov"}));
    EXPECT_EQ(p.args->codec, "prores");
    EXPECT_FALSE(p.args->fast);
    EXPECT_FALSE(p.args->job);
    EXPECT_FALSE(p.args->out_dir);
    EXPECT_EQ(p.args->style, "mosaic");
    EXPECT_EQ(p.args->threshold, "") << "not given: the job or the default decides";
    auto th = parse({"process", "--threshold", "0.5", "a.mov"});
    ASSERT_TRUE(th.args);
    EXPECT_EQ(plan_run(*th.args).tuning.keep_threshold, 0.5);
    auto s = parse({"process", "--style", "coarse", "--style", "solid", "a.mov"});
    ASSERT_TRUE(s.args);
    EXPECT_EQ(s.args->style, "solid");
    EXPECT_TRUE(s.args->review_page);
    auto nr = parse({"process", "--no-review-page", "a.mov"});
    ASSERT_TRUE(nr.args);
    EXPECT_FALSE(nr.args->review_page);
    EXPECT_FALSE(plan_run(*nr.args).review_page);

    auto q = parse({"process", "--job", "/j", "--out-dir", "/o", "--codec", "h264", "--fast"});
    ASSERT_TRUE(q.args);
    EXPECT_EQ(*q.args->job, "/j");
    EXPECT_EQ(*q.args->out_dir, "/o");
    EXPECT_EQ(q.args->codec, "h264");
    EXPECT_TRUE(q.args->fast);
    EXPECT_FALSE(q.args->thorough);
    EXPECT_TRUE(q.args->keep.empty());

    auto t = parse({"process", "--thorough", "a.mov"});
    ASSERT_TRUE(t.args);
    EXPECT_TRUE(t.args->thorough);
    EXPECT_FALSE(t.args->fast);
    testing::internal::CaptureStderr();
    auto both = parse({"process", "--thorough", "--fast", "a.mov"});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(both.args);
    EXPECT_EQ(both.exit_status, 2);
    EXPECT_NE(err.find("qlcore: error: "), std::string::npos) << err;
}

TEST(CommandLine, ASingleValueOptionGivenTwiceTakesTheLast) {
    auto p = parse({"process", "--codec", "h264", "--codec", "hevc", "--out-dir", "/a", "--out-dir",
                    "/b", "--job", "/j", "--job", "/k", "c.mov"});
    ASSERT_TRUE(p.args) << p.exit_status;
    EXPECT_EQ(p.args->codec, "hevc");
    EXPECT_EQ(*p.args->out_dir, "/b");
    EXPECT_EQ(*p.args->job, "/k");
    auto e = parse({"enroll", "Ann", "--from-video", "a.mov", "--every", "2", "--every", "0.5",
                    "--max", "3", "--max", "4", "--from-video", "b.mov"});
    ASSERT_TRUE(e.args) << e.exit_status;
    EXPECT_EQ(e.args->every, 0.5);
    EXPECT_EQ(e.args->max, 4);
    EXPECT_EQ(e.args->from_video, "b.mov");
    // Every value is still checked.
    EXPECT_FALSE(parse({"process", "--codec", "vp9", "--codec", "h264"}).args);
}

TEST(CommandLine, EnrollAndPeople) {
    auto p = parse({"enroll", "Ann", "--from-video", "v.mov", "--every", "0.5", "--max", "3"});
    ASSERT_TRUE(p.args);
    EXPECT_EQ(p.args->fn, &cmd_enroll);
    EXPECT_EQ(p.args->name, "Ann");
    EXPECT_EQ(p.args->from_video, "v.mov");
    EXPECT_EQ(p.args->every, 0.5);
    EXPECT_EQ(p.args->max, 3);
    auto d = parse({"enroll", "Ann", "--from-video", "v.mov"});
    EXPECT_EQ(d.args->every, 1.5);
    EXPECT_EQ(d.args->max, 25);
    auto people = parse({"people"});
    ASSERT_TRUE(people.args);
    EXPECT_EQ(people.args->fn, &cmd_people);
}

TEST(CommandLine, UsageErrorsExitTwoWithUsageOnStderr) {
    ScopedTempDir home;
    std::vector<std::vector<std::string>> bad = {
        {},
        {"bogus"},
        {"process", "--bogus"},
        {"process", "--codec", "vp9"},
        {"process", "--style", "pixelate", "a.mov"},
        {"process", "--threshold", "high", "a.mov"},
        {"enroll", "Ann"},
        {"enroll", "--from-video", "v.mov"},
        {"enroll", "Ann", "--from-video", "v.mov", "--every", "soon"},
        {"enroll", "Ann", "--from-video", "v.mov", "--max", "many"},
        {"people", "extra"},
    };
    for (const auto& args : bad) {
        auto r = run_qlcore(args, {"QUILLET_HOME=" + home.path().string()});
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_NE(r.err.find("Usage"), std::string::npos) << shown << r.err;
        EXPECT_NE(r.err.find("error: "), std::string::npos) << shown << r.err;
        EXPECT_TRUE(r.out.empty()) << shown;
    }
    // A refused command line creates nothing.
    EXPECT_FALSE(fs::exists(home / "people"));
}

TEST(CommandLine, HelpAndVersionExitZero) {
    ScopedTempDir home;
    for (std::vector<std::string> args : {std::vector<std::string>{"--help"},
                                          {"-h"},
                                          {"process", "--help"},
                                          {"enroll", "-h"},
                                          {"--version"}}) {
        auto r = run_qlcore(args, {"QUILLET_HOME=" + home.path().string()});
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_FALSE(r.out.empty());
    }
    auto top = run_qlcore({"--help"}, {"QUILLET_HOME=" + home.path().string()});
    for (const char* text :
         {"process", "mosaic faces in clips", "enroll",
          "collect face photos of a person from a clip", "people", "list enrolled people"})
        EXPECT_NE(top.out.find(text), std::string::npos) << text;
    auto proc = run_qlcore({"process", "--help"}, {"QUILLET_HOME=" + home.path().string()});
    for (const char* text :
         {"job folder written by the Resolve script",
          "person folder name to leave visible (repeatable)",
          "where to write results (default: Quillet/ next to each clip)",
          "quicker face search; misses more small faces", "prores", "hevc", "h264"})
        EXPECT_NE(proc.out.find(text), std::string::npos) << text;
    auto enr = run_qlcore({"enroll", "--help"}, {"QUILLET_HOME=" + home.path().string()});
    EXPECT_NE(enr.out.find("seconds between samples"), std::string::npos);
}

TEST(CommandLine, ProcessAloneReportsNoClips) {
    ScopedTempDir home;
    auto r = run_qlcore({"process"}, {"QUILLET_HOME=" + home.path().string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No clips given.\n");
    EXPECT_TRUE(fs::is_directory(home / "people"));
}

TEST(Folders, PeopleFolderFollowsQuilletHome) {
    ScopedTempDir dir;
    // Set: the people folder goes there.
    run_qlcore({"process"}, {"QUILLET_HOME=" + (dir / "qh").string()});
    EXPECT_TRUE(fs::is_directory(dir / "qh" / "people"));
    // Set but empty: the current folder.
    fs::create_directories(dir / "cwd");
    run_qlcore({"process"}, {"QUILLET_HOME="}, dir / "cwd");
    EXPECT_TRUE(fs::is_directory(dir / "cwd" / "people"));
    // Unset: "Quillet" in the home folder.
    fs::create_directories(dir / "home");
    run_qlcore({"process"}, {"-QUILLET_HOME", "HOME=" + (dir / "home").string()});
    EXPECT_TRUE(fs::is_directory(dir / "home" / "Quillet" / "people"));
}

TEST(Folders, ModelsTravelWithTheProgram) {
    Folders f = resolve_folders();
    EXPECT_EQ(f.model_dir, f.app_dir / "models");
    EXPECT_EQ(f.det_model.filename(), "face_detection_yunet_2023mar.onnx");
    EXPECT_EQ(f.rec_model.filename(), "face_recognition_sface_2021dec.onnx");
    EXPECT_EQ(f.people_dir, f.home_dir / "people");
    EXPECT_TRUE(f.app_dir.is_absolute());
    EXPECT_TRUE(is_image_ext(".JPG"));
    EXPECT_TRUE(is_image_ext(".heic"));
    EXPECT_FALSE(is_image_ext(".txt"));
}

TEST(Startup, OpenCvLogLevelSetOnlyWhenUnset) {
    setenv("OPENCV_LOG_LEVEL", "", 1);
    init_environment();
    EXPECT_STREQ(getenv("OPENCV_LOG_LEVEL"), "");
    unsetenv("OPENCV_LOG_LEVEL");
    init_environment();
    EXPECT_STREQ(getenv("OPENCV_LOG_LEVEL"), "ERROR");
}

TEST(Startup, PlatformFlagsOfThisBuild) {
#if defined(__APPLE__)
    EXPECT_TRUE(MACOS);
#else
    EXPECT_FALSE(MACOS);
#endif
#if defined(_WIN32)
    EXPECT_TRUE(WINDOWS);
#else
    EXPECT_FALSE(WINDOWS);
#endif
    keep_awake();  // a no-op here; must not fail
    EXPECT_EQ(KEEP_AWAKE_FLAGS, 2147483649UL);
}
