#include "tracking/face_evidence.h"

#include <algorithm>
#include <cmath>

#include "geometry/tuning.h"

namespace qlcore {

double landmark_drift(const FaceRow& before, const FaceRow& after) {
    struct Point {
        double x, y;
    };
    const auto rel = [](const FaceRow& r, int n) {
        const double size = std::sqrt(std::max(1e-12, double(r.w()) * r.h()));
        return Point{(r.landmark_x(n) - (r.x() + r.w() / 2.0)) / size,
                     (r.landmark_y(n) - (r.y() + r.h() / 2.0)) / size};
    };
    double sum = 0.0;
    for (int n = 0; n < 5; ++n) {
        const Point a = rel(before, n), b = rel(after, n);
        sum += std::hypot(b.x - a.x, b.y - a.y);
    }
    return sum / 5;
}

bool moves_as_one(const FaceEvidence& e) {
    std::vector<double> steps;
    for (double d : e.drift)
        if (d >= 0.0) steps.push_back(d);
    if (steps.empty()) return true;
    // The median: a few jumps (a turn of the head, a lost eye) do not decide.
    const auto mid = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), mid, steps.end());
    return *mid <= LANDMARK_DRIFT_MAX;
}

bool has_face_evidence(const Track& t, const FaceEvidence& e) {
    if (t.checks.empty()) return false;
    if (*std::max_element(t.checks.begin(), t.checks.end()) >= RECHECK_EVIDENCE) return true;
    return found_by_lifted(e) && moves_as_one(e);
}

bool found_by_lifted(const FaceEvidence& e) {
    const auto reaches = [](const std::vector<double>& v, double at_least) {
        return std::any_of(v.begin(), v.end(), [&](double x) { return x >= at_least; });
    };
    return reaches(e.lifted, LIFTED_EVIDENCE) || reaches(e.inside, INSIDE_EVIDENCE);
}

bool backed_by_evidence(const std::vector<Track>& tracks, const std::vector<FaceEvidence>& evidence,
                        size_t i) {
    if (evidence.empty()) return true;
    return i < tracks.size() && i < evidence.size() && has_face_evidence(tracks[i], evidence[i]);
}

std::vector<Track> backed_tracks(const std::vector<Track>& tracks,
                                 const std::vector<FaceEvidence>& evidence) {
    std::vector<Track> out;
    out.reserve(tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i)
        out.push_back(backed_by_evidence(tracks, evidence, i) ? tracks[i] : Track(tracks[i].id));
    return out;
}

}  // namespace qlcore
