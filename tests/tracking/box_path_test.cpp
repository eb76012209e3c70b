#include "tracking/box_path.h"

#include <gtest/gtest.h>

namespace qlcore {
namespace {

Track track_of(const std::vector<int64_t>& frames, const std::vector<Box>& boxes) {
    Track t(0);
    for (size_t i = 0; i < frames.size(); ++i)
        t.add(frames[i], boxes[i]);
    return t;
}

// Detections at every frame from..to, x rising by `step` per frame from 0.
Track ramp(int64_t from, int64_t to, double step = 1.0) {
    Track t(0);
    for (int64_t f = from; f <= to; ++f)
        t.add(f, {step * static_cast<double>(f - from), 5, 30, 40});
    return t;
}

std::vector<int64_t> keys(const BoxPath& p) {
    std::vector<int64_t> out;
    for (const auto& e : p.entries)
        out.push_back(e.first);
    return out;
}

float x_at(const BoxPath& p, int64_t f) {
    return p.at(f).value().x;
}

TEST(TrackBoxes, FillsSmoothsAndPadsTwoDetections) {
    BoxPath p = track_boxes(track_of({10, 14}, {{0, 0, 10, 10}, {8, 0, 10, 10}}), 1000);
    EXPECT_EQ(keys(p), (std::vector<int64_t>{10, 11, 12, 13, 14, 7, 8, 9, 15, 16, 17, 18}));
    EXPECT_EQ(p.start, 7);
    EXPECT_EQ(p.end, 18);
    float want[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // frames 7 ... 18
    for (int64_t f = 7; f <= 18; ++f) {
        EXPECT_EQ(p.at(f), (BoxF{want[f - 7], 0, 10, 10})) << f;
    }
    EXPECT_EQ(p.at(6), std::nullopt);
    EXPECT_EQ(p.at(19), std::nullopt);
}

TEST(TrackBoxes, SingleDetectionHoldsItsBox) {
    Box b{10.1, 20.2, 30.3, 40.4};
    BoxF bf{10.1f, 20.2f, 30.3f, 40.4f};
    BoxPath p = track_boxes(track_of({100}, {b}), 1000);
    EXPECT_EQ(keys(p), (std::vector<int64_t>{100, 98, 99, 101, 102}));
    for (const auto& [f, box] : p.entries)
        EXPECT_EQ(box, bf) << f;
    // Nothing before frame 0.
    p = track_boxes(track_of({0}, {b}), 1000);
    EXPECT_EQ(keys(p), (std::vector<int64_t>{0, 1, 2}));
    EXPECT_EQ(p.start, 0);
}

TEST(TrackBoxes, LeadOutStopsAtTheClipEnd) {
    BoxPath p = track_boxes(ramp(46, 49), 50);
    EXPECT_EQ(keys(p), (std::vector<int64_t>{46, 47, 48, 49, 40, 41, 42, 43, 44, 45}));
    EXPECT_EQ(p.end, 49);
    p = track_boxes(ramp(42, 45), 50);
    EXPECT_EQ(p.end, 49);
    EXPECT_EQ(p.entries.size(), 4u + 6u + 4u);
    // Without a known length the lead-out is never cut.
    p = track_boxes(ramp(42, 45), 0);
    EXPECT_EQ(p.end, 55);
    // Two or three detections pad by 3 and 4.
    p = track_boxes(ramp(42, 44), 0);
    EXPECT_EQ(p.start, 39);
    EXPECT_EQ(p.end, 48);
}

TEST(TrackBoxes, InterpolatesGapsLinearly) {
    BoxPath p = track_boxes(track_of({10, 30}, {{0, 0, 20, 20}, {20, 40, 40, 60}}), 1000);
    EXPECT_EQ(p.entries.size(), 21u + 3u + 4u);
    // A straight line survives the moving average away from the ends.
    for (int64_t j = 2; j <= 18; ++j) {
        BoxF b = p.at(10 + j).value();
        auto t = static_cast<float>(j) / 20.0f;
        EXPECT_NEAR(b.x, 20 * t, 1e-4);
        EXPECT_NEAR(b.y, 40 * t, 1e-4);
        EXPECT_NEAR(b.w, 20 + 20 * t, 1e-4);
        EXPECT_NEAR(b.h, 20 + 40 * t, 1e-4);
    }
}

TEST(TrackBoxes, ArithmeticIsSinglePrecision) {
    // Each box of frames 10 ... 12 is the mean of all three; in double the
    // result would round to 279.45001 instead.
    BoxPath p = track_boxes(track_of({10, 12}, {{271.9, 0, 10, 10}, {287.0, 0, 10, 10}}), 0);
    for (int64_t f = 10; f <= 12; ++f)
        EXPECT_EQ(x_at(p, f), 279.4499816894531f) << f;
}

TEST(TrackBoxes, TruncatedWindowSlowsTheEndVelocities) {
    BoxPath p = track_boxes(ramp(20, 40), 1000);
    EXPECT_EQ(x_at(p, 20), 1.0f);
    EXPECT_EQ(x_at(p, 21), 1.5f);
    EXPECT_EQ(x_at(p, 25), 5.0f);
    EXPECT_EQ(x_at(p, 35), 15.0f);
    EXPECT_EQ(x_at(p, 40), 19.0f);
    EXPECT_EQ(p.start, 14);
    EXPECT_EQ(p.end, 50);
    for (int64_t f = 14; f < 20; ++f)
        EXPECT_EQ(x_at(p, f), 1.0f + 0.8f * static_cast<float>(f - 20)) << f;
    for (int64_t f = 41; f <= 50; ++f)
        EXPECT_EQ(x_at(p, f), 19.0f + 0.8f * static_cast<float>(f - 40)) << f;
    EXPECT_NEAR(x_at(p, 14), -3.8f, 1e-6);
}

TEST(TrackBoxes, PaddingMovesWithEachEndAndKeepsItsSize) {
    // Still for ten frames, then moving right and growing.
    Track t(0);
    for (int64_t f = 10; f < 30; ++f) {
        double k = f < 20 ? 0.0 : static_cast<double>(f - 19);
        t.add(f, {3 * k, 7, 40 + k, 50 + 2 * k});
    }
    BoxPath p = track_boxes(t, 0);
    BoxF head = p.at(10).value(), tail = p.at(29).value();
    for (int64_t f = 4; f < 10; ++f)
        EXPECT_EQ(p.at(f), head) << f;
    EXPECT_GT(tail.x, 0.0f);
    for (int64_t f = 30; f <= 39; ++f) {
        BoxF b = p.at(f).value();
        EXPECT_GT(b.x, p.at(f - 1).value().x);
        EXPECT_EQ(b.y, tail.y);
        EXPECT_EQ(b.w, tail.w);
        EXPECT_EQ(b.h, tail.h);
    }
}

TEST(TrackBoxes, DegenerateTracks) {
    EXPECT_TRUE(track_boxes(Track(3), 100).entries.empty());
    EXPECT_EQ(track_boxes(Track(3), 100).at(0), std::nullopt);
    Track bad = ramp(0, 3);
    bad.boxes.pop_back();
    EXPECT_THROW(track_boxes(bad, 100), std::invalid_argument);
}

TEST(BoxPath, AtFindsEntriesInAnyOrder) {
    BoxPath p;
    p.entries = {{5, {5, 0, 1, 1}}, {3, {3, 0, 1, 1}}, {4, {4, 0, 1, 1}}};
    p.start = 3;
    p.end = 5;
    for (int64_t f = 3; f <= 5; ++f)
        EXPECT_EQ(x_at(p, f), static_cast<float>(f));
    EXPECT_EQ(p.at(6), std::nullopt);
}

}  // namespace
}  // namespace qlcore
