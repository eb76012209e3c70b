// `process --job DIR --clip N`: one clip of a job as a task of its own, and
// tasks of one job sharing the people folder at the same time.
#include <gtest/gtest.h>

#include <memory>

#include "app/cli.h"
#include "platform/json_text.h"
#include "platform/subprocess.h"
#include "run_checks.h"
#include "support/face_clips.h"

namespace fs = std::filesystem;
using qlchecks::read_text;
using qlchecks::write_text;
using qlcore::json;
using qltest::ScopedTempDir;

namespace {

// Parses a command line and returns its status with what went to stderr.
std::pair<int, std::string> parse_status(std::vector<std::string> args) {
    args.insert(args.begin(), "qlcore");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    testing::internal::CaptureStderr();
    auto p = qlcore::parse_command_line(static_cast<int>(argv.size()), argv.data());
    std::string err = testing::internal::GetCapturedStderr();
    return {p.args ? -1 : p.exit_status, err};
}

}  // namespace

TEST(ClipTask, AClipOutsideTheJobIsAUsageError) {
    ScopedTempDir job;
    // Blank lines are no clips: three of them here.
    write_text(job / "clips.txt", "a.mov\n\n  \nb.mov\r\nc.mov\tout\n");
    const std::string dir = job.path().string();
    for (const char* n : {"0", "4", "-1"}) {
        auto [status, err] = parse_status({"process", "--job", dir, "--clip", n});
        EXPECT_EQ(status, 2) << n;
        EXPECT_NE(err.find("Usage"), std::string::npos) << err;
        EXPECT_NE(err.find("qlcore: error: argument --clip: " + std::string(n) +
                           " is not a clip of the job (it has 3)"),
                  std::string::npos)
            << err;
    }
    EXPECT_EQ(parse_status({"process", "--job", dir, "--clip", "two"}).first, 2);
    auto [status, err] = parse_status({"process", "--clip", "1", "a.mov"});
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("--clip: not allowed without argument --job"), std::string::npos) << err;

    std::vector<const char*> argv{"qlcore", "process", "--job", dir.c_str(), "--clip", "3"};
    auto p = qlcore::parse_command_line(static_cast<int>(argv.size()), argv.data());
    ASSERT_TRUE(p.args);
    EXPECT_EQ(p.args->clip, 3);
}

TEST(ClipTask, WritesThePartTheWholeRunWouldWriteForTheClip) {
    ScopedTempDir home, work;
    fs::create_directories(home / "people" / "Barack");
    fs::copy_file(qltest::shared_photo(qltest::OBAMA_PHOTO),
                  home / "people" / "Barack" / "portrait.jpg");
    const fs::path first = qltest::make_two_people_clip(work / "first clip.mov");
    const fs::path second = work / "gone.mov";
    const fs::path job = work / "job";
    fs::create_directories(job / "parts");
    write_text(job / "clips.txt",
               first.string() + "\t" + (work / "out").string() + "\n\n" + second.string() + "\n");
    write_text(job / "keep.txt", "Barack\n");
    // Borderline, so the clip has a marker line too.
    write_text(job / "options.txt", "codec=h264\nthreshold=0.9\n");
    // A part from an earlier task whose clip has gone since.
    write_text(job / "parts" / "2.tsv", "CLIP\tstale\tstale\n");

    auto r = qlchecks::run_in(home.path(), {"process", "--job", job.string(), "--clip", "1"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\n[1/2]\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Finished"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(job / "results.tsv"));
    EXPECT_FALSE(fs::exists(job / "done.flag"));
    const std::string part = read_text(job / "parts" / "1.tsv");
    EXPECT_EQ(part.rfind("CLIP\t" + first.string() + "\t" + (work / "out").string() + "/", 0), 0u)
        << part;
    EXPECT_NE(part.find("\nMARK\t"), std::string::npos) << part;

    r = qlchecks::run_in(home.path(), {"process", "--job", job.string(), "--clip", "2"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("\n[2/2]\n  ⚠ missing file: " + second.string()), std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(job / "parts" / "2.tsv"));

    // The gathering run finds the clip done and writes the same lines.
    r = qlchecks::run_in(home.path(), {"process", "--job", job.string()});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << r.out;
    EXPECT_EQ(read_text(job / "results.tsv"), part);
    EXPECT_TRUE(fs::exists(job / "done.flag"));
    EXPECT_TRUE(qlchecks::leftovers(work.path()).empty());
}

TEST(ClipTask, TwoProcessesRefreshingOnePersonLeaveAWholeCache) {
    ScopedTempDir home;
    const fs::path person = home / "people" / "Barack";
    fs::create_directories(person);
    const std::vector<const char*> photos{"obama-720p.jpg", "obama1.jpg", "obama2.jpg",
                                          "obama.jpg"};
    for (const char* p : photos)
        fs::copy_file(qltest::shared_photo(p), person / p);
    const fs::path cache = person / ".embeddings.json";
    const std::string home_env = "QUILLET_HOME=" + home.path().string();
    const std::string program = qltest::test_install_program().string();
    const std::vector<std::string> people{"/usr/bin/env", home_env, program, "people"};

    auto solo = qltest::run_program({program, "people"}, {home_env});
    ASSERT_EQ(solo.status, 0) << solo.out << solo.err;
    const std::string reference = read_text(cache);
    ASSERT_EQ(qlcore::parse_json(reference).size(), photos.size()) << reference;

    for (int round = 0; round < 5; ++round) {
        // Without a cache both examine every photo and write at once.
        fs::remove(cache);
        qlcore::ChildOptions quiet{qlcore::Stdio::Null, qlcore::Stdio::Null, qlcore::Stdio::Null};
        auto a = std::make_unique<qlcore::Child>(people, quiet);
        auto b = std::make_unique<qlcore::Child>(people, quiet);
        EXPECT_EQ(a->wait().code, 0);
        EXPECT_EQ(b->wait().code, 0);
        EXPECT_EQ(read_text(cache), reference) << "round " << round;
    }
    for (const auto& e : fs::directory_iterator(person))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}
