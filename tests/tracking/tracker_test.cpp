#include "tracking/tracker.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace qlcore {
namespace {

// One detection in frame 0 gives a tracker with a single track at `box`.
Tracker tracker_with(const Box& box) {
    Tracker t;
    t.update(0, {box});
    return t;
}

TEST(Iou, DegenerateDisjointAndPartialBoxes) {
    Box a{0, 0, 10, 10}, b{5, 0, 10, 10};
    EXPECT_DOUBLE_EQ(iou(a, b), 50.0 / 150.0);
    EXPECT_EQ(iou(a, b), iou(b, a));
    EXPECT_EQ(iou(a, a), 1.0);
    EXPECT_EQ(iou(a, Box{10, 0, 10, 10}), 0.0);  // touching edges only
    EXPECT_EQ(iou(Box{3, 3, 0, 0}, Box{3, 3, 0, 0}), 0.0);
}

TEST(Tracker, FirstCallCreatesTracksInDetectionOrder) {
    Tracker t;
    auto got = t.update(7, {{0, 0, 10, 10}, {500, 0, 10, 10}, {0, 500, 10, 10}});
    ASSERT_EQ(t.tracks.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i], &t.tracks[i]);
        EXPECT_EQ(t.tracks[i].id, i);
        EXPECT_EQ(t.tracks[i].scores, std::vector<double>{1.0});
        EXPECT_EQ(t.tracks[i].last, 7);
    }
    got = t.update(8, {{501, 0, 10, 10}}, std::vector<double>{0.75});
    EXPECT_EQ(got[0], &t.tracks[1]);
    EXPECT_EQ(t.tracks[1].scores, (std::vector<double>{1.0, 0.75}));
    EXPECT_EQ(t.tracks[1].frames, (std::vector<int64_t>{7, 8}));
}

TEST(Tracker, RetiresTracksBeyondTheGapLimit) {
    Box b{100, 100, 50, 50};
    Tracker t = tracker_with(b);
    EXPECT_TRUE(t.update(20, {}).empty());
    EXPECT_EQ(t.active.size(), 1u);
    EXPECT_EQ(t.tracks.size(), 1u);
    // Seen again exactly 20 frames later: the same face.
    Tracker u = tracker_with(b);
    EXPECT_EQ(u.update(20, {b})[0]->id, 0);
    // 21 frames later: a new track, and the old one is gone from active.
    auto got = u.update(41, {b});
    EXPECT_EQ(got[0]->id, 1);
    ASSERT_EQ(u.active.size(), 1u);
    EXPECT_EQ(u.active[0], &u.tracks[1]);
    EXPECT_EQ(u.tracks.size(), 2u);
    // An empty frame retires too.
    Tracker v = tracker_with(b);
    v.update(21, {});
    EXPECT_TRUE(v.active.empty());
    EXPECT_EQ(v.tracks.size(), 1u);
}

TEST(Tracker, SizeGateIsInclusiveAtHalfAndDouble) {
    // Same centre (125, 125) throughout; only the size changes.
    struct Case {
        double side;
        bool joins;
    } cases[] = {{50, true}, {100, true}, {49, false}, {201, false}, {200, true}};
    for (const Case& c : cases) {
        Tracker t = tracker_with({75, 75, 100, 100});
        double x = 125 - c.side / 2;
        EXPECT_EQ(t.update(1, {{x, x, c.side, c.side}})[0]->id == 0, c.joins) << c.side;
    }
}

TEST(Tracker, DistanceGateIsStrict) {
    // 115-wide boxes 85 apart overlap by exactly 0.15 while the centres lie
    // beyond the reach of 78.2: no pair.
    Tracker t = tracker_with({0, 0, 115, 115});
    EXPECT_EQ(t.update(1, {{85, 0, 115, 115}})[0]->id, 1);
    Tracker u = tracker_with({0, 0, 115, 115});
    EXPECT_EQ(u.update(1, {{84, 0, 115, 115}})[0]->id, 0);
    // No overlap at all, but within the reach that grows with the gap.
    Tracker v = tracker_with({0, 0, 100, 100});
    EXPECT_EQ(v.update(10, {{120, 0, 100, 100}})[0]->id, 0);
    Tracker w = tracker_with({0, 0, 100, 100});
    EXPECT_EQ(w.update(1, {{120, 0, 100, 100}})[0]->id, 1);
    // Five frames on the reach is exactly 100: touching boxes stay apart.
    Tracker x = tracker_with({0, 0, 100, 100});
    EXPECT_EQ(x.update(5, {{100, 0, 100, 100}})[0]->id, 1);
    Tracker y = tracker_with({0, 0, 100, 100});
    EXPECT_EQ(y.update(5, {{99.5, 0, 100, 100}})[0]->id, 0);
}

TEST(Tracker, BestPairWinsAndTiesGoToLargerIndices) {
    Box b{100, 100, 100, 100};
    Tracker t = tracker_with(b);
    auto got = t.update(1, {{110, 100, 100, 100}, b});
    EXPECT_EQ(got[1]->id, 0);
    EXPECT_EQ(got[0]->id, 1);
    // Mirror images score the same: the later detection takes the track.
    Tracker u = tracker_with(b);
    got = u.update(1, {{95, 100, 100, 100}, {105, 100, 100, 100}});
    EXPECT_EQ(got[1]->id, 0);
    EXPECT_EQ(got[0]->id, 1);
    // One detection halfway between two tracks goes to the later one.
    Tracker v;
    v.update(0, {{95, 100, 100, 100}, {105, 100, 100, 100}});
    EXPECT_EQ(v.update(1, {b})[0]->id, 1);
}

TEST(Tracker, RecentTrackOutscoresOlderOneWithLongerReach) {
    Tracker t;
    t.update(0, {{95, 100, 100, 100}, {105, 100, 100, 100}});
    t.update(1, {{105, 100, 100, 100}});  // track 1 seen again, track 0 not
    // Track 0's wider reach is worth less than the 0.01 per missed frame.
    EXPECT_EQ(t.update(2, {{100, 100, 100, 100}})[0]->id, 1);
}

TEST(Tracker, ZeroAreaBoxesNeverPair) {
    Tracker t = tracker_with({100, 100, 50, 50});
    EXPECT_EQ(t.update(1, {{100, 100, 0, 50}})[0]->id, 1);
    EXPECT_EQ(t.update(2, {{100, 100, 0, 50}})[0]->id, 2);
}

TEST(Tracker, RejectsMismatchedScoresAndRepeatedFrames) {
    Tracker t = tracker_with({0, 0, 10, 10});
    EXPECT_THROW(t.update(1, {{0, 0, 10, 10}}, std::vector<double>{}), std::invalid_argument);
    EXPECT_THROW(t.update(0, {{0, 0, 10, 10}}), std::invalid_argument);
    EXPECT_EQ(t.tracks[0].frames.size(), 1u);
}

TEST(Tracker, RandomFramesKeepAssignmentInvariants) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> pos(0, 300), size(5, 80);
    for (int round = 0; round < 20; ++round) {
        Tracker t;
        int64_t fi = 0;
        size_t detections = 0;
        for (int step = 0; step < 200; ++step) {
            fi += 1 + static_cast<int64_t>(rng() % 4);
            std::vector<Box> boxes(rng() % 9);
            for (Box& b : boxes)
                b = {pos(rng), pos(rng), size(rng), size(rng)};
            size_t before = t.tracks.size();
            auto got = t.update(fi, boxes);
            detections += boxes.size();

            ASSERT_EQ(got.size(), boxes.size());
            std::set<const Track*> taken;
            int next_new = static_cast<int>(before);
            for (size_t di = 0; di < boxes.size(); ++di) {
                const Track* tr = got[di];
                ASSERT_NE(tr, nullptr);
                EXPECT_TRUE(taken.insert(tr).second) << "track took two detections";
                EXPECT_EQ(tr->boxes.back(), boxes[di]);
                EXPECT_EQ(tr->last, fi);
                if (static_cast<size_t>(tr->id) >= before) {
                    EXPECT_EQ(tr->id, next_new++) << "new ids follow detection order";
                } else {
                    ASSERT_GE(tr->frames.size(), 2u);
                    EXPECT_LE(fi - tr->frames[tr->frames.size() - 2], 20);
                }
            }
            EXPECT_EQ(t.tracks.size(), static_cast<size_t>(next_new));
            for (const Track* a : t.active)
                EXPECT_LE(fi - a->last, 20);
        }
        size_t recorded = 0;
        for (size_t i = 0; i < t.tracks.size(); ++i) {
            const Track& tr = t.tracks[i];
            EXPECT_EQ(tr.id, static_cast<int>(i));
            EXPECT_EQ(tr.boxes.size(), tr.frames.size());
            for (size_t k = 1; k < tr.frames.size(); ++k)
                EXPECT_LT(tr.frames[k - 1], tr.frames[k]);
            recorded += tr.frames.size();
        }
        EXPECT_EQ(recorded, detections);
    }
}

}  // namespace
}  // namespace qlcore
