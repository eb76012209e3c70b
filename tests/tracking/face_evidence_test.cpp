#include "tracking/face_evidence.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "geometry/tuning.h"

namespace qlcore {
namespace {

using Row = std::array<float, FACE_ROW_SIZE>;

// The five landmarks of an upright frontal face in a 112 x 112 crop (the
// usual alignment template), in a box around them.
constexpr double FACE[5][2] = {
    {38.3, 51.7}, {73.5, 51.5}, {56.0, 71.7}, {41.5, 92.4}, {70.7, 92.2}};
constexpr double FACE_BOX[4] = {18, 22, 76, 96};

// A face at (x, y) scaled by `k`, turned by `roll` degrees about its box's
// centre; landmarks shifted by `jitter` (box units) in a direction of `rng`.
Row face(double x, double y, double k, double roll = 0.0, double jitter = 0.0,
         std::mt19937* rng = nullptr) {
    Row r{};
    const double cx = FACE_BOX[0] + FACE_BOX[2] / 2, cy = FACE_BOX[1] + FACE_BOX[3] / 2;
    const double a = roll * M_PI / 180, c = std::cos(a), s = std::sin(a);
    const double size = std::sqrt(FACE_BOX[2] * FACE_BOX[3]) * k;
    r[0] = static_cast<float>(x);
    r[1] = static_cast<float>(y);
    r[2] = static_cast<float>(FACE_BOX[2] * k);
    r[3] = static_cast<float>(FACE_BOX[3] * k);
    std::uniform_real_distribution<double> angle(0.0, 2 * M_PI);
    for (int n = 0; n < 5; ++n) {
        const double px = FACE[n][0] - cx, py = FACE[n][1] - cy;
        double lx = x + FACE_BOX[2] * k / 2 + k * (c * px - s * py);
        double ly = y + FACE_BOX[3] * k / 2 + k * (s * px + c * py);
        if (rng) {
            const double t = angle(*rng);
            lx += jitter * size * std::cos(t);
            ly += jitter * size * std::sin(t);
        }
        r[4 + 2 * n] = static_cast<float>(lx);
        r[5 + 2 * n] = static_cast<float>(ly);
    }
    r[14] = 0.3f;
    return r;
}

// A box of the face's size with five landmarks anywhere inside it.
Row random_landmarks(std::mt19937& rng) {
    Row r = face(100, 100, 1.0);
    std::uniform_real_distribution<double> ux(r[0], r[0] + r[2]), uy(r[1], r[1] + r[3]);
    for (int n = 0; n < 5; ++n) {
        r[4 + 2 * n] = static_cast<float>(ux(rng));
        r[5 + 2 * n] = static_cast<float>(uy(rng));
    }
    return r;
}

// The evidence the search keeps for a track of these rows.
FaceEvidence track_of(const std::vector<Row>& rows) {
    FaceEvidence e;
    for (size_t i = 0; i < rows.size(); ++i) {
        e.drift.push_back(
            i == 0 ? NO_DRIFT
                   : landmark_drift(FaceRow(rows[i - 1].data()), FaceRow(rows[i].data())));
    }
    return e;
}

// A track re-checked once with `check`.
Track checked(double check) {
    Track t(0);
    t.add(0, {0, 0, 80, 80}, 0.3);
    t.checks = {check};
    return t;
}

TEST(LandmarkDrift, AFaceMovingAsOnePassesAndFlickeringTextureFails) {
    // Moving, growing and turning a little: the landmarks stay put on the box.
    std::vector<Row> steady;
    for (int i = 0; i < 12; ++i)
        steady.push_back(face(100 + 9 * i, 50 - 3 * i, 1.0 + 0.04 * i, 0.5 * i));
    const FaceEvidence moving = track_of(steady);
    EXPECT_TRUE(moves_as_one(moving));
    EXPECT_LT(moving.drift[5], 0.02);
    EXPECT_EQ(moving.drift[0], NO_DRIFT);

    // The same box with the landmarks drawn anew every frame.
    std::mt19937 rng(3);
    std::vector<Row> flicker;
    for (int i = 0; i < 12; ++i)
        flicker.push_back(random_landmarks(rng));
    EXPECT_FALSE(moves_as_one(track_of(flicker)));

    // A face's landmarks shaking by a quarter of the threshold pass; by all
    // of it (a texture whose landmarks wander) fail.
    std::vector<Row> shaky, wandering;
    for (int i = 0; i < 12; ++i) {
        shaky.push_back(face(100, 50, 1.0, 0.0, LANDMARK_DRIFT_MAX / 4, &rng));
        wandering.push_back(face(100, 50, 1.0, 0.0, LANDMARK_DRIFT_MAX, &rng));
    }
    EXPECT_TRUE(moves_as_one(track_of(shaky)));
    EXPECT_FALSE(moves_as_one(track_of(wandering)));
}

TEST(LandmarkDrift, TheMedianStepDecidesAndOneDetectionHasNoMotion) {
    FaceEvidence e;
    e.drift = {NO_DRIFT, 0.01, 0.5, 0.02};  // one jump in three steps
    EXPECT_TRUE(moves_as_one(e));
    e.drift = {NO_DRIFT, 0.01, 0.5, 0.02, 0.6};  // two in four: the upper middle, 0.5
    EXPECT_FALSE(moves_as_one(e));
    e.drift = {NO_DRIFT, 0.01, LANDMARK_DRIFT_MAX, LANDMARK_DRIFT_MAX};
    EXPECT_TRUE(moves_as_one(e));
    EXPECT_TRUE(moves_as_one(FaceEvidence{{NO_DRIFT}, {}, {}}));
}

TEST(FaceEvidence, ARecheckThatFoundAFaceOrALiftedOneWithMotionAsOne) {
    // Lifted re-checks finding `centred` at the box's centre, `inside` in it.
    const auto lifted = [](std::vector<double> drift, double centred, double inside) {
        return FaceEvidence{std::move(drift), {0.0, centred}, {0.0, inside}};
    };
    const std::vector<double> steady{NO_DRIFT, 0.01, 0.02}, flicker{NO_DRIFT, 0.3, 0.4};
    // Re-checked and found: enough whatever the motion.
    EXPECT_TRUE(has_face_evidence(checked(RECHECK_EVIDENCE), lifted(flicker, 0, 0)));
    EXPECT_FALSE(has_face_evidence(checked(RECHECK_EVIDENCE - 0.001), lifted(flicker, 0, 0)));
    // A failed re-check: a lifted one that found the face, and steady landmarks.
    EXPECT_TRUE(has_face_evidence(checked(0.0), lifted(steady, LIFTED_EVIDENCE, 0)));
    EXPECT_TRUE(has_face_evidence(checked(0.0), lifted(steady, 0, INSIDE_EVIDENCE)));
    EXPECT_FALSE(has_face_evidence(
        checked(0.0), lifted(steady, LIFTED_EVIDENCE - 0.001, INSIDE_EVIDENCE - 0.001)));
    EXPECT_FALSE(has_face_evidence(checked(0.0), lifted(flicker, 0.9, 0.9)));
    // Steadiness alone is no face: still texture is steady too.
    EXPECT_FALSE(has_face_evidence(checked(0.0), FaceEvidence{steady, {}, {}}));
    // Never re-checked (too small for it): nothing shows a face.
    Track small = checked(0.9);
    small.checks.clear();
    EXPECT_FALSE(has_face_evidence(small, lifted(steady, 0.9, 0.9)));
}

TEST(BackedTracks, OnlyTracksWithFaceEvidenceOrNoneKeepTheirDetections) {
    std::vector<Track> tracks;
    for (int i = 0; i < 3; ++i) {
        tracks.push_back(checked(i == 1 ? 0.7 : 0.1));
        tracks[i].id = 10 + i;
    }
    const FaceEvidence flicker{{NO_DRIFT, 0.3}, {}, {}};
    // A search that kept no evidence: every track, as before.
    EXPECT_EQ(backed_tracks(tracks, {}).size(), 3u);
    EXPECT_EQ(backed_tracks(tracks, {})[0].frames, tracks[0].frames);
    // The others keep their ids, without a detection to act on.
    const std::vector<Track> kept = backed_tracks(tracks, {flicker, flicker, flicker});
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[1].frames, tracks[1].frames);
    for (int i : {0, 2}) {
        EXPECT_EQ(kept[i].id, 10 + i);
        EXPECT_TRUE(kept[i].frames.empty() && kept[i].boxes.empty() && kept[i].scores.empty());
    }
    EXPECT_FALSE(backed_by_evidence(tracks, {flicker}, 1)) << "no evidence for track 1";
}

}  // namespace
}  // namespace qlcore
