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

TEST(Markers, OnlyForFlaggedSpotsOfSixFramesOrMore) {
    EXPECT_FALSE(track_marker(flagged(1, path_over(10, 14), Review::KeptBorderline, true)));
    EXPECT_FALSE(track_marker(mosaicked(1, path_over(10, 100))));

    auto red = track_marker(flagged(1, path_over(10, 15), Review::KeptBorderline, true));
    ASSERT_TRUE(red);
    EXPECT_EQ(
        dump_compact(marker_json(*red)),
        R"({"frame":10,"duration":6,"color":"Red","name":"Quillet: check visible face",)"
        R"("note":"Left visible as Anna (similarity 0.35). Make sure this is really them."})");
    auto yellow = track_marker(flagged(2, path_over(0, 99), Review::MosaicBorderline, false));
    ASSERT_TRUE(yellow);
    EXPECT_EQ(dump_compact(marker_json(*yellow)),
              R"({"frame":0,"duration":100,"color":"Yellow","name":"Quillet: possibly )"
              R"(over-mosaicked","note":"Mosaicked, but looked a bit like an enrolled person )"
              R"((similarity 0.35)."})");
}

TEST(Assembly, PlanHoldsMosaickedBoxesInTrackOrder) {
    BoxPath lead = path_over(10, 12, 30.0f);
    lead.entries.push_back({8, BoxF{1, 2, 3, 4}});  // lead-in after the span
    lead.entries.push_back({9, BoxF{1, 2, 3, 5}});
    lead.start = 8;
    Judgement j;
    j.tracks = {mosaicked(4, lead),
                flagged(5, path_over(9, 11, 70.0f), Review::KeptBorderline, true),
                mosaicked(6, path_over(11, 20, 40.0f)),
                ignored_over(7, path_over(0, 30, 90.0f), Verdict::ignored_flash, 1)};
    const MosaicPlan plan = mosaic_plan(j);
    EXPECT_EQ(plan.size(), 13u);  // frames 8 to 20
    EXPECT_EQ(plan.count(7), 0u) << "a flash stays visible";
    ASSERT_EQ(plan.at(9).size(), 1u) << "the kept face is not pixelated";
    EXPECT_EQ(plan.at(9)[0], (BoxF{1, 2, 3, 5}));
    ASSERT_EQ(plan.at(11).size(), 2u);
    EXPECT_EQ(plan.at(11)[0].w, 30.0f);
    EXPECT_EQ(plan.at(11)[1].w, 40.0f);
    const json tracks = report_tracks(j);
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(dump_compact(tracks[0]),
              R"({"track":4,"start":8,"end":12,"keep":false,"person":null,"median":null,)"
              R"("review":null,"n_samples":0})");
    EXPECT_EQ(tracks[1]["person"], "Anna");
    EXPECT_TRUE(mosaic_plan(Judgement{}).empty());
}

TEST(Summary, IgnoredPartsOnlyWhenThereAreAny) {
    auto line = [](int64_t kept, int64_t mosaicked, int64_t n_flash, int64_t n_look) {
        Judgement j;
        j.kept = kept, j.mosaicked = mosaicked, j.n_flash = n_flash, j.n_look = n_look;
        return summary_line(j);
    };
    EXPECT_EQ(line(2, 3, 0, 0),
              "  faces tracked: 5  \u00b7  left visible: 2  \u00b7  mosaicked: 3");
    EXPECT_EQ(line(0, 0, 2, 1),
              "  faces tracked: 0  \u00b7  left visible: 0  \u00b7  mosaicked: 0"
              "  \u00b7  ignored 2 one-frame false alarm(s)"
              "  \u00b7  ignored 1 non-face(s) (hands, wheels\u2026)");
    EXPECT_EQ(line(1, 0, 0, 4),
              "  faces tracked: 1  \u00b7  left visible: 1  \u00b7  mosaicked: 0"
              "  \u00b7  ignored 4 non-face(s) (hands, wheels\u2026)");
}

TEST(Report, IndentedPureAsciiLayout) {
    Judgement a;
    a.tracks.push_back(flagged(0, path_over(0, 5), Review::KeptBorderline, true));
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
              " \"engine\": 6,\n"
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
