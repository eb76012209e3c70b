// The landmark geometry measured for the face-evidence choice: a detection's
// five landmarks turned so the eyes lie level, in eye distances, and how far
// they are from a frontal face's proportions. Measured, not used by the
// program: on the harness scenes the detector gives weak detections of
// clutter a face's landmarks more often than weak detections of real faces
// (BENCHMARKS.md, "Weak-evidence mosaics on cluttered footage").
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>

#include "geometry/face_row.h"

namespace bench {

struct LandmarkProportions {
    double eyes_per_box = 0.0;            // eye distance / the box's size
    double nose_x = 0.0, nose_y = 0.0;    // from the eyes' middle
    double mouth_x = 0.0, mouth_y = 0.0;  // the corners' middle
    double mouth_width = 0.0;             // right corner to left corner
};

inline std::optional<LandmarkProportions> landmark_proportions(const qlcore::FaceRow& r) {
    const double e0x = r.landmark_x(0), e0y = r.landmark_y(0);
    const double dx = r.landmark_x(1) - e0x, dy = r.landmark_y(1) - e0y;
    const double d = std::hypot(dx, dy);
    const double box = std::sqrt(std::max(0.0, double(r.w()) * r.h()));
    if (!(d > 1e-6) || !(box > 1e-6)) return std::nullopt;
    const double ux = dx / d, uy = dy / d, mx = e0x + dx / 2, my = e0y + dy / 2;
    const auto level_x = [&](int n) {
        return ((r.landmark_x(n) - mx) * ux + (r.landmark_y(n) - my) * uy) / d;
    };
    const auto level_y = [&](int n) {
        return (-(r.landmark_x(n) - mx) * uy + (r.landmark_y(n) - my) * ux) / d;
    };
    LandmarkProportions p;
    p.eyes_per_box = d / box;
    p.nose_x = level_x(2);
    p.nose_y = level_y(2);
    p.mouth_x = (level_x(3) + level_x(4)) / 2;
    p.mouth_y = (level_y(3) + level_y(4)) / 2;
    p.mouth_width = level_x(4) - level_x(3);
    return p;
}

// 0 at the middle of every range of a frontal face's proportions, 1 with the
// worst at the edge of its range; 9 for eyes on one point, a mirrored face
// or the mouth above the nose.
inline double landmark_misfit(const qlcore::FaceRow& r) {
    const auto p = landmark_proportions(r);
    if (!p || p->mouth_width <= 0.0 || p->mouth_y <= p->nose_y) return 9.0;
    const auto off = [](double v, double lo, double hi) {
        return std::abs(v - (lo + hi) / 2) / ((hi - lo) / 2);
    };
    return std::min(9.0, std::max({off(p->eyes_per_box, 0.2, 0.75), off(p->nose_y, 0.15, 1.1),
                                   off(p->mouth_y, 0.6, 1.8), off(p->mouth_width, 0.35, 1.4),
                                   std::abs(p->nose_x) / 0.65, std::abs(p->mouth_x) / 0.55}));
}

}  // namespace bench
