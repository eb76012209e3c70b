// One detected face as the detector writes it: 15 single-precision values in
// a row (box x, y, w, h; five landmark points x, y; score).
#pragma once

namespace qlcore {

inline constexpr int FACE_ROW_SIZE = 15;

// A named view of one row; it reads the floats in place and owns nothing.
struct FaceRow {
    const float* v;

    explicit FaceRow(const float* values) : v(values) {}
    float x() const { return v[0]; }
    float y() const { return v[1]; }
    float w() const { return v[2]; }
    float h() const { return v[3]; }
    // Landmark n (0..4): eyes, nose tip, mouth corners.
    float landmark_x(int n) const { return v[4 + 2 * n]; }
    float landmark_y(int n) const { return v[5 + 2 * n]; }
    float score() const { return v[14]; }
};

// What a re-check of a face lifted (turned level, its lightness stretched)
// found: the best score of a face at the box's centre, averaged over the
// usual re-check sizes, and the best of any face inside the box (NOT_LOOKED
// where the centre showed one).
inline constexpr double NOT_LOOKED = -1.0;
struct LiftedCheck {
    double centred = 0.0;
    double inside = NOT_LOOKED;
};

}  // namespace qlcore
