// The thorough search's weak candidates turned into mosaicked tracks.
#pragma once

#include <cstdint>
#include <vector>

#include "clip/judgement.h"
#include "tracking/tracker.h"

namespace qlcore {

// A candidate detected on fewer frames is too thin to act on.
inline constexpr int CANDIDATE_MIN_DETECTIONS = 5;
// A candidate whose box overlaps a live track's this much (intersection
// over union) at some frame is that face seen weakly: the live track decides.
inline constexpr double CANDIDATE_OVERLAP = 0.3;

// The candidates of at least CANDIDATE_MIN_DETECTIONS detection frames that
// overlap no live (not ignored) track of `judged`, in candidate order, each
// a weak_candidate flagged as weak evidence.
std::vector<JudgedTrack> weak_tracks(const std::vector<Track>& candidates,
                                     const std::vector<JudgedTrack>& judged, int64_t n_frames);

}  // namespace qlcore
