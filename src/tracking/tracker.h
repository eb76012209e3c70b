// Joining per-frame detections into tracks.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "geometry/box.h"

namespace qlcore {

// A track not seen for more than this many frames takes no more detections.
inline constexpr int MAX_GAP = 20;

// One recognition: frame, best similarity against the Gallery, owner index.
struct Sample {
    int64_t frame = 0;
    double sim = 0.0;
    int person = 0;
};

inline constexpr int64_t NEVER_SEEN = -1000000000;

// Decimal places a track's values keep once the search hands it over, as
// the analysis cache stores them, so a fresh run and a rerun from the cache
// judge the same numbers. Box sizes decide more than the look-alike test:
// which face a mark takes, whether a weak candidate is a tracked face, and
// the mosaic itself.
inline constexpr int BOX_PLACES = 1;
inline constexpr int SCORE_PLACES = 3;
inline constexpr int SIM_PLACES = 4;

// One tracked face. Fields in this order, and no others.
struct Track {
    int id = 0;
    std::vector<int64_t> frames;  // strictly increasing detection frames
    std::vector<Box> boxes;       // parallel to frames
    std::vector<double> scores;   // parallel to frames
    std::vector<Sample> samples;  // recognitions, in time order
    int64_t last = NEVER_SEEN;    // latest detection frame
    int n_rec = 0;                // recognitions taken so far
    std::vector<double> checks;   // re-check values, 3 decimals
    double best_checked = -1.0;   // score of the latest re-checked detection

    Track() = default;
    explicit Track(int tid) : id(tid) {}
    void add(int64_t fi, const Box& box, double score = 1.0);
};

// Intersection over union, 0.0 for degenerate input.
double iou(const Box& a, const Box& b);

class Tracker {
  public:
    // Every track created, in creation order (position == id). A deque keeps
    // references stable while tracks are appended.
    std::deque<Track> tracks;
    // Tracks that may still be matched, in the order they became active.
    std::vector<Track*> active;

    // Assigns this frame's detections; element i of the result is the track
    // that took detection i. Frames must come in strictly increasing order.
    std::vector<Track*> update(int64_t fi, const std::vector<Box>& boxes,
                               const std::optional<std::vector<double>>& scores = std::nullopt);
};

}  // namespace qlcore
