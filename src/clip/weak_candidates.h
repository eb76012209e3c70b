// The thorough search's weak candidates turned into mosaicked tracks.
#pragma once

#include <cstdint>
#include <vector>

#include "clip/judgement.h"
#include "tracking/tracker.h"

namespace qlcore {

// A run of fewer detection frames is too thin to act on.
inline constexpr int CANDIDATE_MIN_DETECTIONS = 5;
// A candidate's detection whose box overlaps a live track's this much
// (intersection over union) at its frame is that face seen weakly: the live
// track decides there.
inline constexpr double CANDIDATE_OVERLAP = 0.3;

// Each candidate's detections that no live (not ignored) track of `judged`
// covers, split into runs of consecutive such detections, in candidate
// order: a run of at least CANDIDATE_MIN_DETECTIONS detection frames is a
// weak_candidate flagged as weak evidence, a shorter one a weak_thin left
// visible. A candidate's first run keeps its id; further runs take ids
// after every id of `judged` and `candidates`.
std::vector<JudgedTrack> weak_tracks(const std::vector<Track>& candidates,
                                     const std::vector<JudgedTrack>& judged, int64_t n_frames);

}  // namespace qlcore
