#include "clip/earlier_report.h"

#include "clip/output_paths.h"
#include "clip/overrides.h"
#include "clip/report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "clip/judged_tracks_fixture.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;
using namespace cliptest;

namespace {

void _set_mtime(const fs::path& p, fs::file_time_type t) {
    fs::last_write_time(p, t);
}

struct SkipFixture : ::testing::Test {
    ScopedTempDir dir;
    fs::path src = dir / "A001.mov";
    fs::path done = dir / "Quillet" / "A001_mosaic.mov";
    json report;

    void SetUp() override {
        fs::create_directories(done.parent_path());
        write_file_atomic(src, "source");
        write_file_atomic(done, "video");
        _set_mtime(src, fs::last_write_time(done) - std::chrono::seconds(10));
        Judgement a;
        a.tracks.push_back(flagged(1, path_over(0, 9), Review::KeptBorderline, true));
        a.tracks[0].marker = track_marker(a.tracks[0]);
        report = build_report(src.string(), done.string(), 10, {"Ben", "Anna"}, keep_marks({4}), a);
        write(report_text(report));
    }
    void write(const std::string& text) { write_file_atomic(report_path(done), text); }
    std::optional<json> earlier(std::vector<std::string> names = {"Anna", "Ben"},
                                json overrides = keep_marks({4})) {
        return earlier_report(src, done, names, overrides);
    }
};

}  // namespace

TEST_F(SkipFixture, UpToDateReportIsReturnedUnchanged) {
    auto got = earlier();
    ASSERT_TRUE(got);
    EXPECT_EQ(dump_compact(*got), dump_compact(report));
    EXPECT_TRUE(earlier({"Ben", "Anna"})) << "order of the people does not matter";
    _set_mtime(src, fs::last_write_time(done));
    EXPECT_TRUE(earlier()) << "same time counts as up to date";
}

TEST_F(SkipFixture, ChangesThatRedoTheClip) {
    EXPECT_FALSE(earlier({"Anna"}));
    EXPECT_FALSE(earlier({"Anna", "Ben", "Cleo"}));
    EXPECT_FALSE(earlier({"Anna", "Ben"}, json::object())) << "other marks";
    EXPECT_FALSE(earlier({"Anna", "Ben"}, keep_marks({4, 5})));

    _set_mtime(src, fs::last_write_time(done) + std::chrono::seconds(1));
    EXPECT_FALSE(earlier()) << "source newer than its video";
    _set_mtime(src, fs::last_write_time(done) - std::chrono::seconds(10));

    json old = report;
    old["engine"] = 4;
    write(report_text(old));
    EXPECT_FALSE(earlier());

    write(report_text(report));
    fs::remove(done);
    EXPECT_FALSE(earlier()) << "video deleted";
}

TEST_F(SkipFixture, AThoroughRunRedoesOtherModesClipsButNotTheOtherWayRound) {
    const json overrides = keep_marks({4});
    Tuning thorough_run;
    thorough_run.thorough = true;
    EXPECT_FALSE(
        earlier_report(src, done, {"Anna", "Ben"}, overrides, HideStyle::mosaic, thorough_run));
    json thorough = report;
    thorough["mode"] = "thorough";
    write(report_text(thorough));
    EXPECT_FALSE(
        earlier_report(src, done, {"Anna", "Ben"}, overrides, HideStyle::mosaic, thorough_run))
        << "judged before the face evidence";
    thorough["evidence"] = FACE_EVIDENCE_VERSION;
    write(report_text(thorough));
    EXPECT_TRUE(
        earlier_report(src, done, {"Anna", "Ben"}, overrides, HideStyle::mosaic, thorough_run));
    EXPECT_TRUE(earlier()) << "a default run leaves a thorough result alone";
    thorough["mode"] = "fast";
    write(report_text(thorough));
    EXPECT_FALSE(
        earlier_report(src, done, {"Anna", "Ben"}, overrides, HideStyle::mosaic, thorough_run));
}

TEST_F(SkipFixture, AnotherThresholdRedoesTheClip) {
    const json overrides = keep_marks({4});
    Tuning strict;
    strict.keep_threshold = 0.5;
    ASSERT_TRUE(earlier());
    EXPECT_FALSE(earlier_report(src, done, {"Anna", "Ben"}, overrides, HideStyle::mosaic, strict))
        << "made at the default threshold";
    json made_strict = report;
    made_strict["threshold"] = 0.5;
    write(report_text(made_strict));
    EXPECT_TRUE(earlier_report(src, done, {"Anna", "Ben"}, overrides, HideStyle::mosaic, strict));
    EXPECT_FALSE(earlier()) << "a default run redoes a clip made at 0.5";
}

TEST_F(SkipFixture, MissingKeysMeanEmpty) {
    json r = report;
    r.erase("keep");
    r.erase("overrides");
    write(report_text(r));
    EXPECT_TRUE(earlier({}, json::object()));
    EXPECT_FALSE(earlier({"Anna"}, json::object()));
}

TEST_F(SkipFixture, BrokenReportIsIgnoredNeverFatal) {
    auto with = [&](auto change) {
        json r = report;
        change(r);
        return report_text(r);
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"broken JSON", "{\"source\":"},
        {"not an object", "[1]"},
        {"keep with numbers", with([](json& r) {
             r["keep"] = {1, 2};
         })},
        {"keep mixed", with([](json& r) {
             r["keep"] = {"Anna", 2};
         })},
        {"keep a text", with([](json& r) { r["keep"] = "AnnaBen"; })},
        {"no engine", with([](json& r) { r.erase("engine"); })},
        {"engine text", with([](json& r) { r["engine"] = "5"; })},
        {"overrides a list", with([](json& r) { r["overrides"] = {4}; })},
        {"no markers", with([](json& r) { r.erase("markers"); })},
        {"marker frame text", with([](json& r) { r["markers"][0]["frame"] = "0"; })},
        {"marker without note", with([](json& r) { r["markers"][0].erase("note"); })},
        {"source a number", with([](json& r) { r["source"] = 1; })},
    };
    for (const auto& [what, text] : cases) {
        write(text);
        EXPECT_FALSE(earlier()) << what;
    }
    fs::remove(report_path(done));
    fs::create_directory(report_path(done));
    EXPECT_FALSE(earlier()) << "a folder in the report's place";
}

TEST(Report, TheEngineStillMatchesAsAWholeDouble) {
    ScopedTempDir dir;
    fs::path src = dir / "a.mov", done = dir / "a_mosaic.mov";
    write_file_atomic(src, "s");
    write_file_atomic(done, "v");
    _set_mtime(src, fs::last_write_time(done) - std::chrono::seconds(5));
    json r = build_report(src.string(), done.string(), 1, {}, json::object(), Judgement{});
    r["engine"] = static_cast<double>(ENGINE_VERSION);
    write_file_atomic(report_path(done), report_text(r));
    EXPECT_TRUE(earlier_report(src, done, {}, json::object()));
}
