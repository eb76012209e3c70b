// The values a job may replace. They travel as a value through the
// calls that read them, so a run (or a test) changes them without globals.
#pragma once

namespace qlcore {

inline constexpr double DEFAULT_KEEP_THRESHOLD = 0.363;
inline constexpr int DEFAULT_DET_MAX_SIDE = 1920;
inline constexpr int DEFAULT_DET_EVERY = 1;

struct Tuning {
    double keep_threshold = DEFAULT_KEEP_THRESHOLD;  // KEEP_THRESHOLD
    int det_max_side = DEFAULT_DET_MAX_SIDE;         // DET_MAX_SIDE
    int det_every = DEFAULT_DET_EVERY;               // DET_EVERY
    // More views, weak candidates tracked apart, no long track dropped.
    bool thorough = false;
};

// Face evidence of the thorough search's weak candidates and of the long
// tracks it mosaics though their re-checks failed (tracking/face_evidence.h),
// chosen by measurement (BENCHMARKS.md, "Weak-evidence mosaics on cluttered
// footage"). A re-check of this or more shows a face: clutter was re-checked
// at most 0.11, faces at 0.36 and up pass by it, those lower by their motion.
inline constexpr double RECHECK_EVIDENCE = 0.3;
// A face moves as one: between two detections of a track, its landmarks
// shift against its box by this much at most (mean over the five, in box
// sizes), as the median over the track's steps. Faces: at most 0.083 (one
// strongly defocused face 0.157, shown by its re-check); clutter 0.04 to 0.28.
inline constexpr double LANDMARK_DRIFT_MAX = 0.09;

}  // namespace qlcore
