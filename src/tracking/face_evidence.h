// Whether a weakly seen track shows a face besides its detector scores: a
// re-check that found one, or a re-check of the face lifted (turned level,
// its lightness stretched) that found one, with landmarks that move with the
// box as one. Texture the detector picks up by chance gives landmarks that
// jump about from frame to frame.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/face_row.h"
#include "tracking/tracker.h"

namespace qlcore {

// What the thorough search keeps of a track's landmarks: per detection, the
// landmark_drift from the track's previous detection (NO_DRIFT for the
// first), rounded to EVIDENCE_PLACES.
struct FaceEvidence {
    std::vector<double> drift;
    // The lifted re-checks made where a re-check of the track found no face,
    // until one found it, in order, rounded to EVIDENCE_PLACES: at the box's
    // centre, and inside (NOT_LOOKED where the centre showed a face, and
    // after the first search inside).
    std::vector<double> lifted;
    std::vector<double> inside;
    bool operator==(const FaceEvidence&) const = default;
};

inline constexpr double NO_DRIFT = -1.0;
inline constexpr int EVIDENCE_PLACES = 3;
// Raised whenever what the search keeps for the evidence changes, so an
// analysis cached before is searched again.
inline constexpr int FACE_EVIDENCE_VERSION = 3;

// The mean shift of the five landmarks between two detections, each measured
// from its box's centre in box sizes (the square root of the box's area): 0
// for a face that moves, grows or shrinks as one.
double landmark_drift(const FaceRow& before, const FaceRow& after);

// The median drift over the track's steps (the upper of the two middle ones
// for an even count) is at most LANDMARK_DRIFT_MAX; a track of one detection
// has no step and passes.
bool moves_as_one(const FaceEvidence& e);

// A re-check of at least RECHECK_EVIDENCE, or a lifted re-check that found a
// face (LIFTED_EVIDENCE at the centre, INSIDE_EVIDENCE inside the box) and
// moves_as_one. A track never re-checked (too small for it) shows nothing.
bool has_face_evidence(const Track& t, const FaceEvidence& e);
// A lifted re-check found a face: LIFTED_EVIDENCE at the box's centre, or
// INSIDE_EVIDENCE inside it.
bool found_by_lifted(const FaceEvidence& e);

// Whether track i of a search (evidence parallel to tracks) shows a face; a
// search that kept no evidence shows it for every track, so it is judged as
// before.
bool backed_by_evidence(const std::vector<Track>& tracks, const std::vector<FaceEvidence>& evidence,
                        size_t i);

// The tracks with those not backed by their evidence emptied of their
// detections, in order: the ids stay taken, so ids given after them do not
// change with the evidence.
std::vector<Track> backed_tracks(const std::vector<Track>& tracks,
                                 const std::vector<FaceEvidence>& evidence);

}  // namespace qlcore
