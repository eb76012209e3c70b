// One judgement of a clip's search: the same fresh and from the cache.
#include "clip/judgement.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "clip/analysis_cache.h"
#include "clip/marks.h"
#include "clip/report.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

Track track(int id, int64_t first, int n, Box box, double score) {
    Track t(id);
    for (int i = 0; i < n; ++i)
        t.add(first + i, box, score);
    return t;
}

// A search whose every value sits just off a threshold's edge in its last
// digits: the raw values fall on one side, the values as stored on the other.
SearchResult edge_search() {
    SearchResult r;
    r.n_frames = r.n_read = 120;
    // Two samples of 0.36296: they vote only as 0.363.
    Track voted = track(0, 0, 10, {100, 100, 60, 60}, 0.95);
    voted.samples = {{0, 0.36296, 0}, {1, 0.36296, 0}};
    // One frame at 0.84951: a flash below 0.85, a face at it.
    Track single = track(1, 20, 1, {400, 100, 70, 70}, 0.84951);
    // Four frames best 0.59996: a flash below 0.6.
    Track weak = track(2, 30, 4, {700, 100, 60, 60}, 0.59996);
    // Short, failing its re-check, best 0.88996: a non-face below 0.89.
    Track unsure = track(3, 40, 3, {1000, 100, 60, 60}, 0.88996);
    unsure.checks = {0.3};
    // Median 0.29296: flagged only as 0.293, the review band's lower edge.
    Track near = track(4, 60, 20, {100, 500, 60, 60}, 0.95);
    near.samples = {{60, 0.29296, 1}, {61, 0.29296, 1}, {62, 0.29296, 1}};
    // A flash the user hides.
    Track flash = track(5, 100, 1, {100, 800, 60, 60}, 0.5);
    // Two faces a mark at 115 chooses between: the wider raw, equal as
    // stored, when the larger id wins.
    Track wider = track(6, 110, 10, {600, 500, 80.04, 80}, 0.95);
    Track narrower = track(7, 110, 10, {900, 500, 80.01, 80}, 0.95);
    r.tracks = {voted, single, weak, unsure, near, flash, wider, narrower};
    // A weak candidate far from every face; its marker names its score.
    Track far = track(8, 90, 6, {1500, 800, 40, 40}, 0.30004);
    // Beside the voted face: an overlap of 0.2994 raw, 0.3001 as stored,
    // which makes it that face seen weakly.
    Track beside = track(9, 0, 6, {132.349, 100, 60, 60}, 0.3);
    r.candidates = {far, beside};
    return r;
}

}  // namespace

TEST(Judgement, FreshAndFromTheCacheAlikeOnEveryEdge) {
    const SearchResult raw = edge_search();
    SearchResult fresh = raw;
    round_as_stored(fresh);

    ScopedTempDir dir;
    const json key = {{"v", ANALYSIS_VERSION}, {"names", {"Anna", "Ben"}}, {"mode", "thorough"}};
    save_analysis(dir / "a.analysis.json", key, fresh);
    const auto loaded = load_analysis(dir / "a.analysis.json", key);
    ASSERT_TRUE(loaded);
    const SearchResult& cached = loaded->search;

    const std::vector<std::string> names = {"Anna", "Ben"};
    const json overrides = {{"keep", {20, 115}}, {"hide", {100}}};
    Tuning tuning;
    tuning.thorough = true;
    const FrameSize size{1920, 1080};
    const Judgement j = judge(fresh, size, names, overrides, tuning);
    EXPECT_EQ(j, judge(cached, size, names, overrides, tuning));

    // The edges were met: every verdict is the one of the rounded numbers.
    ASSERT_EQ(j.tracks.size(), 9u);
    EXPECT_EQ(j.tracks[0].verdict, Verdict::kept);
    EXPECT_EQ(j.tracks[0].decision.person, "Anna");
    EXPECT_EQ(j.tracks[1].verdict, Verdict::kept_by_you);
    EXPECT_EQ(j.tracks[2].verdict, Verdict::mosaicked);
    EXPECT_EQ(j.tracks[3].verdict, Verdict::mosaicked);
    EXPECT_EQ(j.tracks[4].decision.review, Review::MosaicBorderline);
    EXPECT_EQ(j.tracks[5].verdict, Verdict::hidden_by_you);
    EXPECT_EQ(j.tracks[6].verdict, Verdict::mosaicked);
    EXPECT_EQ(j.tracks[7].verdict, Verdict::kept_by_you);
    EXPECT_EQ(j.tracks[8].verdict, Verdict::weak_candidate);
    ASSERT_TRUE(j.tracks[8].marker);
    EXPECT_NE(j.tracks[8].marker->note.find("score 0.3)"), std::string::npos);
    EXPECT_EQ(j.kept, 3);
    EXPECT_EQ(j.mosaicked, 6);
    EXPECT_EQ(j.n_flash + j.n_look, 0);
    // ...and the raw numbers judge otherwise, which is why they never reach a judge.
    const Judgement r = judge(raw, size, names, overrides, tuning);
    EXPECT_EQ(r.tracks[0].verdict, Verdict::mosaicked);
    EXPECT_EQ(r.tracks[2].verdict, Verdict::ignored_flash);
    EXPECT_EQ(r.tracks[3].verdict, Verdict::ignored_nonface);
    EXPECT_FALSE(r.tracks[4].decision.review);
    EXPECT_EQ(r.tracks[6].verdict, Verdict::kept_by_you);
    EXPECT_EQ(r.tracks[7].verdict, Verdict::mosaicked);
    ASSERT_EQ(r.tracks.size(), 10u);
    EXPECT_EQ(r.tracks[9].verdict, Verdict::weak_candidate);
}

TEST(Judgement, EveryConsumerReadsTheSameVerdicts) {
    SearchResult found = edge_search();
    round_as_stored(found);
    const Judgement j =
        judge(found, {1920, 1080}, {"Anna", "Ben"}, {{"keep", {20}}, {"hide", {100}}}, Tuning{});
    // Listed in the report: all but the ignored; pixelated: the hidden ones.
    const json tracks = report_tracks(j);
    const MosaicPlan plan = mosaic_plan(j);
    int64_t listed = 0;
    for (const JudgedTrack& t : j.tracks) {
        listed += !is_ignored(t.verdict);
        const auto& [frame, box] = t.path.entries.front();
        const auto it = plan.find(frame);
        const bool in_plan = it != plan.end() && std::find(it->second.begin(), it->second.end(),
                                                           box) != it->second.end();
        EXPECT_EQ(in_plan, is_hidden(t.verdict)) << t.id;
    }
    EXPECT_EQ(static_cast<int64_t>(tracks.size()), listed);
    EXPECT_EQ(listed, j.kept + j.mosaicked);
    EXPECT_EQ(tracks[1]["person"], "(marked by you)");
    EXPECT_EQ(tracks[1]["keep"], true);
}

TEST(Judgement, ThoroughFlagsTheLongTrackItMosaicksOnFailedChecks) {
    // A defocused head: big at 640x360, 10 detections, every re-check 0.0.
    SearchResult r;
    r.n_frames = r.n_read = 60;
    Track head = track(0, 5, 10, {200, 80, 213, 230}, 0.7);
    head.checks = {0.0, 0.0, 0.0};
    Track passed = track(1, 20, 10, {20, 20, 60, 60}, 0.7);
    passed.checks = {0.1, 0.7};
    r.tracks = {head, passed};
    const FrameSize size{640, 360};
    Tuning thorough;
    thorough.thorough = true;

    // The default search drops it as a non-face and keeps its own marker.
    const Judgement plain = judge(r, size, {}, json::object(), Tuning{});
    EXPECT_EQ(plain.tracks[0].verdict, Verdict::ignored_nonface);
    EXPECT_FALSE(plain.tracks[0].failed_check);
    EXPECT_EQ(plain.tracks[0].marker->color, "Purple");

    const Judgement j = judge(r, size, {}, json::object(), thorough);
    const JudgedTrack& t = j.tracks[0];
    EXPECT_EQ(t.verdict, Verdict::mosaicked);
    EXPECT_EQ(t.failed_check, 0.0);
    EXPECT_EQ(t.decision.review, Review::FailedChecks);
    EXPECT_EQ(report_tracks(j)[0]["review"], "failed-checks");
    ASSERT_TRUE(t.marker);
    EXPECT_EQ(t.marker->color, "Cyan");
    EXPECT_EQ(t.marker->name, "Quillet: mosaicked, may not be a face");
    EXPECT_EQ(t.marker->frame, t.path.start);
    ASSERT_TRUE(t.override_mark);
    const std::string line = overrides_line_text("keep", *t.override_mark);
    EXPECT_EQ(t.override_mark->frame, t.best_frame);
    EXPECT_NE(t.marker->note.find("(best re-check 0.0)"), std::string::npos) << t.marker->note;
    EXPECT_NE(t.marker->note.find(line), std::string::npos) << t.marker->note;
    // A long track that passed a re-check is a face: no flag.
    EXPECT_EQ(j.tracks[1].verdict, Verdict::mosaicked);
    EXPECT_FALSE(j.tracks[1].failed_check);
    EXPECT_FALSE(j.tracks[1].marker);
    EXPECT_EQ(report_markers(j).size(), 1u);

    // The line the marker names lifts the mosaic, and the flag with it.
    const Judgement lifted = judge(r, size, {}, json::parse(line), thorough);
    EXPECT_EQ(lifted.tracks[0].verdict, Verdict::kept_by_you);
    EXPECT_FALSE(lifted.tracks[0].marker);
    EXPECT_TRUE(mosaic_plan(lifted).count(t.path.start) == 0);
}

TEST(Judgement, ThoroughMosaicsOnWeakEvidenceOnlyWhatShowsAFace) {
    SearchResult r;
    r.n_frames = r.n_read = 100;
    // A defocused head's re-checks all failed (cyan), and two weak candidates
    // away from it, re-checked without finding a face.
    Track head = track(0, 5, 10, {200, 80, 213, 230}, 0.7);
    head.checks = {0.0, 0.0, 0.0};
    r.tracks = {head};
    r.candidates = {track(1, 10, 6, {20, 300, 40, 40}, 0.3),
                    track(2, 40, 10, {560, 300, 40, 40}, 0.3)};
    r.candidates[0].checks = {0.0};
    r.candidates[1].checks = {0.1};
    // Steady landmarks, and landmarks jumping about, over n detections; the
    // lifted re-checks find a face in both.
    const auto steady = [](size_t n) {
        FaceEvidence e{std::vector<double>(n, 0.02), {0.0, LIFTED_EVIDENCE}, {0.0, 0.0}};
        e.drift[0] = NO_DRIFT;
        return e;
    };
    const auto flicker = [](size_t n) {
        FaceEvidence e{std::vector<double>(n, 0.3), {0.5}, {0.5}};
        e.drift[0] = NO_DRIFT;
        return e;
    };
    r.evidence = {flicker(10)};
    r.candidate_evidence = {steady(6), flicker(10)};
    const FrameSize size{640, 360};
    Tuning thorough;
    thorough.thorough = true;

    const auto ids = [](const Judgement& j, Verdict v) {
        std::vector<int> out;
        for (const JudgedTrack& t : j.tracks)
            if (t.verdict == v) out.push_back(t.id);
        return out;
    };
    const Judgement j = judge(r, size, {}, json::object(), thorough);
    // The flickering head is left as the default mode leaves it, with the
    // marker that asks to check it; the flickering candidate is not acted on.
    EXPECT_EQ(ids(j, Verdict::ignored_nonface), std::vector<int>{0});
    EXPECT_EQ(j.tracks[0].marker->name, "Quillet: check face left visible");
    EXPECT_EQ(ids(j, Verdict::weak_candidate), std::vector<int>{1});
    EXPECT_EQ(j.tracks.size(), 2u);
    // Its path: detections 10-15, six frames of lead-in, ten of lead-out.
    EXPECT_EQ(weak_evidence_line(j, r.n_frames),
              "  \u26a0 mosaicked on weak evidence: 1 spot(s), on 22 % of the frames (thorough "
              "mode; see the purple and cyan markers)");

    // Moving as one, both are mosaicked and flagged.
    r.evidence = {steady(10)};
    r.candidate_evidence = {steady(6), steady(10)};
    const Judgement backed = judge(r, size, {}, json::object(), thorough);
    EXPECT_EQ(backed.tracks[0].decision.review, Review::FailedChecks);
    EXPECT_EQ(ids(backed, Verdict::weak_candidate), (std::vector<int>{1, 2}));
    // Paths over frames 0-24, 4-25 and 34-59: 52 of 100.
    EXPECT_EQ(weak_evidence_line(backed, r.n_frames),
              "  \u26a0 mosaicked on weak evidence: 3 spot(s), on 52 % of the frames (thorough "
              "mode; see the purple and cyan markers)");

    // A search without evidence (the other modes) is judged as before, and
    // nothing flagged says nothing.
    r.evidence.clear();
    r.candidate_evidence.clear();
    EXPECT_EQ(ids(judge(r, size, {}, json::object(), thorough), Verdict::weak_candidate),
              (std::vector<int>{1, 2}));
    // The other modes have no candidates.
    r.candidates.clear();
    EXPECT_FALSE(weak_evidence_line(judge(r, size, {}, json::object(), Tuning{}), r.n_frames));
}

TEST(Judgement, MarksNotAppliedAreSaidAndMarkedWhereTheClipHasTheirFrame) {
    SearchResult found = edge_search();
    round_as_stored(found);
    const json overrides = {
        {"keep", {20, 21, 5000, json{{"frame", 50}, {"box", {1700.0, 10.0, 40.0, 40.0}}}}},
        {"hide", {110}}};
    const Judgement j = judge(found, {1920, 1080}, {"Anna", "Ben"}, overrides, Tuning{});
    EXPECT_EQ(j.tracks[1].verdict, Verdict::kept_by_you);
    EXPECT_EQ(
        j.warnings,
        (std::vector<std::string>{
            "  \u26a0 the \"keep\" mark 21 was not applied: an earlier mark took the face "
            "there",
            "  \u26a0 the \"keep\" mark 5000 was not applied: no mosaicked face is there",
            "  \u26a0 the \"keep\" mark {\"frame\": 50, \"box\": [1700.0, 10.0, 40.0, "
            "40.0]} was not applied: no mosaicked face is there",
            "  \u26a0 the \"hide\" mark 110 was not applied: no face left visible is there"}));
    // Beyond the clip's 120 frames: said, but no marker.
    ASSERT_EQ(j.mark_markers.size(), 3u);
    EXPECT_EQ(j.mark_markers[0],
              (Marker{21, 1, "Red", "Quillet: mark not applied",
                      "The \"keep\" mark 21 was not applied: an earlier mark took the face there. "
                      "Check the overrides file."}));
    EXPECT_EQ(j.mark_markers[1].frame, 50);
    EXPECT_EQ(j.mark_markers[2].frame, 110);
    const json markers = report_markers(j);
    EXPECT_EQ(markers.back()["frame"], 110) << "after the tracks' markers";
}

TEST(Judgement, AStretchOfAKeptTrackThatIsSomeoneElseIsFlaggedOverThatStretch) {
    // Anna in frames 0..11, sampled at every frame; someone else after.
    Track t = track(0, 0, 40, {100, 100, 60, 60}, 0.95);
    for (int64_t f = 0; f < 12; ++f)
        t.samples.push_back({f, 0.6, 0});
    auto with = [&](std::vector<Sample> tail) {
        Track u = t;
        u.samples.insert(u.samples.end(), tail.begin(), tail.end());
        return u;
    };
    // Three in a row not matching: below the threshold, or voting for Ben.
    const Track three = with({{12, 0.1, 0}, {18, 0.5, 1}, {24, 0.2, 1}});
    EXPECT_EQ(mixed_frames(three, 0, 0.363, 0.0), std::make_pair(int64_t{12}, int64_t{24}));
    // Two, 6 frames apart: not enough; 25 frames apart at 25 fps: a second.
    EXPECT_FALSE(mixed_frames(with({{12, 0.1, 0}, {18, 0.1, 0}}), 0, 0.363, 25.0));
    EXPECT_EQ(mixed_frames(with({{12, 0.1, 0}, {37, 0.1, 0}}), 0, 0.363, 25.0),
              std::make_pair(int64_t{12}, int64_t{37}));
    EXPECT_FALSE(mixed_frames(with({{12, 0.1, 0}, {37, 0.1, 0}}), 0, 0.363, 0.0));
    // Broken by a matching sample: two runs of two.
    EXPECT_FALSE(mixed_frames(with({{12, 0.1, 0}, {18, 0.1, 0}, {24, 0.6, 0}, {30, 0.1, 0}}), 0,
                              0.363, 25.0));
    // The exact threshold matches.
    EXPECT_FALSE(
        mixed_frames(with({{12, 0.363, 0}, {18, 0.363, 0}, {24, 0.363, 0}}), 0, 0.363, 25.0));

    // Judged: still kept (12 of 15 samples vote), flagged with a red marker
    // over the stretch whose note gives the line that hides the face.
    SearchResult r;
    r.n_frames = r.n_read = 60;
    r.tracks = {three};
    const Judgement j = judge(r, {640, 360}, {"Anna", "Ben"}, json::object(), Tuning{}, 25.0);
    const JudgedTrack& k = j.tracks[0];
    EXPECT_EQ(k.verdict, Verdict::kept);
    EXPECT_EQ(k.decision.review, Review::KeptMixed);
    EXPECT_EQ(report_tracks(j)[0]["review"], "kept-mixed");
    ASSERT_TRUE(k.marker && k.override_mark);
    EXPECT_EQ(k.marker->color, "Red");
    EXPECT_EQ(k.marker->frame, 12);
    EXPECT_EQ(k.marker->duration, 13);
    const std::string line = overrides_line_text("hide", *k.override_mark);
    EXPECT_NE(k.marker->note.find(line), std::string::npos) << k.marker->note;
    // That line hides the whole track.
    const Judgement hidden = judge(r, {640, 360}, {"Anna", "Ben"}, json::parse(line), Tuning{});
    EXPECT_EQ(hidden.tracks[0].verdict, Verdict::hidden_by_you);
    EXPECT_FALSE(hidden.tracks[0].marker);
    EXPECT_EQ(mosaic_plan(hidden).size(), 50u) << "frames 0..39 and the lead-out";
}
