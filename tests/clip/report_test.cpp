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
    EXPECT_FALSE(marker_entry(flagged(1, path_over(10, 14), Review::KeptBorderline, true)));
    EXPECT_FALSE(marker_entry(mosaicked(1, path_over(10, 100))));

    auto red = marker_entry(flagged(1, path_over(10, 15), Review::KeptBorderline, true));
    ASSERT_TRUE(red);
    EXPECT_EQ(
        dump_compact(*red),
        R"({"frame":10,"duration":6,"color":"Red","name":"Quillet: check visible face",)"
        R"("note":"Left visible as Anna (similarity 0.35). Make sure this is really them."})");
    auto yellow = marker_entry(flagged(2, path_over(0, 99), Review::MosaicBorderline, false));
    ASSERT_TRUE(yellow);
    EXPECT_EQ(dump_compact(*yellow),
              R"({"frame":0,"duration":100,"color":"Yellow","name":"Quillet: possibly )"
              R"(over-mosaicked","note":"Mosaicked, but looked a bit like an enrolled person )"
              R"((similarity 0.35)."})");
}

TEST(Assembly, PlanHoldsMosaickedBoxesInTrackOrder) {
    BoxPath lead = path_over(10, 12, 30.0f);
    lead.entries.push_back({8, BoxF{1, 2, 3, 4}});  // lead-in after the span
    lead.entries.push_back({9, BoxF{1, 2, 3, 5}});
    lead.start = 8;
    std::vector<JudgedTrack> live = {
        mosaicked(4, lead), flagged(5, path_over(9, 11, 70.0f), Review::KeptBorderline, true),
        mosaicked(6, path_over(11, 20, 40.0f))};
    Assembly a = assemble(live);
    EXPECT_EQ(a.kept, 1);
    EXPECT_EQ(a.mosaicked, 2);
    EXPECT_EQ(a.plan.size(), 13u);  // frames 8 to 20
    EXPECT_EQ(a.plan.count(7), 0u);
    ASSERT_EQ(a.plan.at(9).size(), 1u) << "the kept face is not pixelated";
    EXPECT_EQ(a.plan.at(9)[0], (BoxF{1, 2, 3, 5}));
    ASSERT_EQ(a.plan.at(11).size(), 2u);
    EXPECT_EQ(a.plan.at(11)[0].w, 30.0f);
    EXPECT_EQ(a.plan.at(11)[1].w, 40.0f);
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
    a.tracks.push_back(track_entry(flagged(0, path_over(0, 5), Review::KeptBorderline, true)));
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
