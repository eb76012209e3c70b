#include "clip/report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

// A path over consecutive frames [start, end] with the given box width.
BoxPath _path(int64_t start, int64_t end, float w = 50.0f) {
    BoxPath p;
    for (int64_t f = start; f <= end; ++f)
        p.entries.push_back({f, BoxF{10.0f, 20.0f, w, w}});
    p.start = start;
    p.end = end;
    return p;
}

JudgedTrack _mosaicked(int id, BoxPath path) {
    JudgedTrack t{id, std::move(path), {}};
    t.decision.n_samples = 0;
    return t;
}

JudgedTrack _flagged(int id, BoxPath path, const std::string& review, bool keep) {
    JudgedTrack t{id, std::move(path), {}};
    t.decision.keep = keep;
    t.decision.person = keep ? std::optional<std::string>("Anna") : std::nullopt;
    t.decision.median = 0.35;
    t.decision.review = review;
    t.decision.n_samples = 9;
    return t;
}

json _marks(std::vector<int64_t> frames) {
    return json{{"keep", frames}};
}

void _set_mtime(const fs::path& p, fs::file_time_type t) {
    fs::last_write_time(p, t);
}

}  // namespace

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

namespace {

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
        Assembly a;
        a.markers.push_back(*marker_entry(_flagged(1, _path(0, 9), "kept-borderline", true)));
        report = build_report(src.string(), done.string(), 10, {"Ben", "Anna"}, _marks({4}), a);
        write(report_text(report));
    }
    void write(const std::string& text) { write_file_atomic(report_path(done), text); }
    std::optional<json> earlier(std::vector<std::string> names = {"Anna", "Ben"},
                                json overrides = _marks({4})) {
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
    EXPECT_FALSE(earlier({"Anna", "Ben"}, _marks({4, 5})));

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

TEST(Report, EngineFiveStillMatchesAsWholeDouble) {
    ScopedTempDir dir;
    fs::path src = dir / "a.mov", done = dir / "a_mosaic.mov";
    write_file_atomic(src, "s");
    write_file_atomic(done, "v");
    _set_mtime(src, fs::last_write_time(done) - std::chrono::seconds(5));
    json r = build_report(src.string(), done.string(), 1, {}, json::object(), Assembly{});
    r["engine"] = 5.0;
    write_file_atomic(report_path(done), report_text(r));
    EXPECT_TRUE(earlier_report(src, done, {}, json::object()));
}

TEST(UserMarks, WidestUnkeptFaceAtTheFrame) {
    std::vector<JudgedTrack> live = {_mosaicked(0, _path(30, 50, 60.0f)),
                                     _mosaicked(1, _path(35, 45, 80.0f)),
                                     _mosaicked(2, _path(41, 60, 200.0f))};
    live[1].decision.review = "mosaic-borderline";
    live[1].decision.median = 0.3;
    apply_marks(live, _marks({40}));
    EXPECT_FALSE(live[0].decision.keep);
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_EQ(live[1].decision.person, "(marked by you)");
    EXPECT_FALSE(live[1].decision.review);
    EXPECT_EQ(live[1].decision.median, 0.3) << "other fields unchanged";
    EXPECT_FALSE(live[2].decision.keep) << "no box at frame 40";
    EXPECT_FALSE(marker_entry(live[1])) << "no marker once marked";
}

TEST(UserMarks, TieGoesToTheLargerIdAndMarksApplyInTurn) {
    std::vector<JudgedTrack> live = {_mosaicked(3, _path(0, 20)), _mosaicked(9, _path(0, 20)),
                                     _mosaicked(5, _path(0, 20))};
    apply_marks(live, _marks({10}));
    EXPECT_TRUE(live[1].decision.keep);
    EXPECT_FALSE(live[0].decision.keep || live[2].decision.keep);

    // Marks apply in turn: the second sees track 9 kept and takes the next.
    std::vector<JudgedTrack> again = {_mosaicked(3, _path(0, 20)), _mosaicked(9, _path(0, 20)),
                                      _mosaicked(5, _path(0, 20))};
    apply_marks(again, _marks({10, 11}));
    EXPECT_TRUE(again[1].decision.keep && again[2].decision.keep);
    EXPECT_FALSE(again[0].decision.keep);

    // Kept people are not candidates; a frame nobody covers does nothing.
    std::vector<JudgedTrack> kept = {_flagged(1, _path(0, 9, 90.0f), "kept-borderline", true),
                                     _mosaicked(2, _path(0, 9, 10.0f))};
    apply_marks(kept, _marks({5, 500, -3}));
    EXPECT_EQ(kept[0].decision.person, "Anna");
    EXPECT_EQ(kept[0].decision.review, "kept-borderline");
    EXPECT_TRUE(kept[1].decision.keep);

    // No marks at all leave every decision as it was.
    std::vector<JudgedTrack> plain = {_flagged(1, _path(0, 9, 90.0f), "kept-borderline", true),
                                      _mosaicked(2, _path(0, 9, 10.0f))};
    apply_marks(plain, json::object());
    EXPECT_EQ(plain[0].decision.person, "Anna");
    EXPECT_EQ(plain[0].decision.review, "kept-borderline");
    EXPECT_TRUE(plain[0].decision.keep);
    EXPECT_FALSE(plain[1].decision.keep);
    EXPECT_NE(plain[1].decision.person, "(marked by you)");
}

TEST(Markers, OnlyForFlaggedSpotsOfSixFramesOrMore) {
    EXPECT_FALSE(marker_entry(_flagged(1, _path(10, 14), "kept-borderline", true)));
    EXPECT_FALSE(marker_entry(_mosaicked(1, _path(10, 100))));

    auto red = marker_entry(_flagged(1, _path(10, 15), "kept-borderline", true));
    ASSERT_TRUE(red);
    EXPECT_EQ(
        dump_compact(*red),
        R"({"frame":10,"duration":6,"color":"Red","name":"Quillet: check visible face",)"
        R"("note":"Left visible as Anna (similarity 0.35). Make sure this is really them."})");
    auto yellow = marker_entry(_flagged(2, _path(0, 99), "mosaic-borderline", false));
    ASSERT_TRUE(yellow);
    EXPECT_EQ(dump_compact(*yellow),
              R"({"frame":0,"duration":100,"color":"Yellow","name":"Quillet: possibly )"
              R"(over-mosaicked","note":"Mosaicked, but looked a bit like an enrolled person )"
              R"((similarity 0.35)."})");
}

TEST(Assembly, PlanHoldsMosaickedBoxesInTrackOrder) {
    BoxPath lead = _path(10, 12, 30.0f);
    lead.entries.push_back({8, BoxF{1, 2, 3, 4}});  // lead-in after the span
    lead.entries.push_back({9, BoxF{1, 2, 3, 5}});
    lead.start = 8;
    std::vector<JudgedTrack> live = {_mosaicked(4, lead),
                                     _flagged(5, _path(9, 11, 70.0f), "kept-borderline", true),
                                     _mosaicked(6, _path(11, 20, 40.0f))};
    Assembly a = assemble(live);
    EXPECT_EQ(a.kept, 1);
    EXPECT_EQ(a.mosaicked, 2);
    EXPECT_EQ(a.plan.size(), 13u);  // frames 8 to 20
    EXPECT_EQ(a.plan.count(7), 0u);
    ASSERT_EQ(a.plan.at(9).size(), 1u) << "the kept face is not pixelated";
    EXPECT_EQ(a.plan.at(9)[0], (BoxF{1, 2, 3, 5}));
    ASSERT_EQ(a.plan.at(11).size(), 2u);
    EXPECT_EQ(a.plan.at(11)[0][2], 30.0f);
    EXPECT_EQ(a.plan.at(11)[1][2], 40.0f);
    ASSERT_EQ(a.tracks.size(), 3u);
    EXPECT_EQ(dump_compact(a.tracks[0]),
              R"({"track":4,"start":8,"end":12,"keep":false,"person":null,"median":null,)"
              R"("review":null,"n_samples":0})");
    EXPECT_EQ(a.tracks[1]["person"], "Anna");
    EXPECT_TRUE(a.markers.empty()) << "the flagged track spans only three frames";
    EXPECT_TRUE(assemble({}).plan.empty());
}

TEST(Summary, IgnoredPartsOnlyWhenThereAreAny) {
    EXPECT_EQ(summary_line(2, 3, 0, 0),
              "  faces tracked: 5  \u00b7  left visible: 2  \u00b7  mosaicked: 3");
    EXPECT_EQ(summary_line(0, 0, 2, 1),
              "  faces tracked: 0  \u00b7  left visible: 0  \u00b7  mosaicked: 0"
              "  \u00b7  ignored 2 one-frame false alarm(s)"
              "  \u00b7  ignored 1 non-face(s) (hands, wheels\u2026)");
    EXPECT_EQ(summary_line(1, 0, 0, 4),
              "  faces tracked: 1  \u00b7  left visible: 1  \u00b7  mosaicked: 0"
              "  \u00b7  ignored 4 non-face(s) (hands, wheels\u2026)");
}

TEST(Report, IndentedPureAsciiLayout) {
    Assembly a;
    a.tracks.push_back(track_entry(_flagged(0, _path(0, 5), "kept-borderline", true)));
    json r = build_report("/c/Zo\u00eb.mov", "/c/Quillet/Zo\u00eb_mosaic.mov", 6,
                          {"Ren\u00e9e", "\U0001F600"}, json::object(), a);
    EXPECT_EQ(report_text(r),
              "{\n"
              " \"source\": \"/c/Zo\\u00eb.mov\",\n"
              " \"output\": \"/c/Quillet/Zo\\u00eb_mosaic.mov\",\n"
              " \"frames\": 6,\n"
              " \"keep\": [\n"
              "  \"Ren\\u00e9e\",\n"
              "  \"\\ud83d\\ude00\"\n"
              " ],\n"
              " \"engine\": 5,\n"
              " \"overrides\": {},\n"
              " \"tracks\": [\n"
              "  {\n"
              "   \"track\": 0,\n"
              "   \"start\": 0,\n"
              "   \"end\": 5,\n"
              "   \"keep\": true,\n"
              "   \"person\": \"Anna\",\n"
              "   \"median\": 0.35,\n"
              "   \"review\": \"kept-borderline\",\n"
              "   \"n_samples\": 9\n"
              "  }\n"
              " ],\n"
              " \"markers\": []\n"
              "}");
}
