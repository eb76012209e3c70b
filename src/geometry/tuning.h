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
// at most 0.11, faces at 0.36 and up pass by it, those lower by a lifted
// re-check and their motion.
inline constexpr double RECHECK_EVIDENCE = 0.3;
// A lifted re-check (Models::verify_lifted) shows a face that moves as one
// when it finds one of the box's size at its centre scoring this or more:
// the dim faces 0.11 and up, the tilted ones 0.23 and up, clutter acted on
// otherwise at most 0.07 (an orange; clutter left alone for other reasons
// reaches 0.31);
inline constexpr double LIFTED_EVIDENCE = 0.09;
// or anywhere inside the box scoring this or more: the weak box of 300 px
// around a dim face of 50, 0.51; clutter at most 0.43.
inline constexpr double INSIDE_EVIDENCE = 0.45;
// The lifted re-check: its detector reports scores from LIFT_SCORE up; the
// middle LIFT_INNER of the face's box is stretched to a lightness spread
// (standard deviation, of 255) of LIFT_SPREAD, by a gain of 1 to
// LIFT_GAIN_MAX; the box is zoomed to LIFT_INSIDE_SIDE pixels wide to look
// for a face anywhere inside it.
inline constexpr double LIFT_SCORE = 0.05;
inline constexpr double LIFT_INNER = 0.6;
inline constexpr double LIFT_SPREAD = 50.0;
inline constexpr double LIFT_GAIN_MAX = 4.0;
inline constexpr int LIFT_INSIDE_SIDE = 400;
// At the centre only a face LIFT_SIZE_MIN to LIFT_SIZE_MAX times the box's
// width counts: the dim faces were found at 0.94 to 1.26 times theirs,
// clutter at 0.41 to 0.58.
inline constexpr double LIFT_SIZE_MIN = 0.7;
inline constexpr double LIFT_SIZE_MAX = 1.5;
// A face moves as one: between two detections of a track, its landmarks
// shift against its box by this much at most (mean over the five, in box
// sizes), as the median over the track's steps. Faces: at most 0.083 (one
// strongly defocused face 0.157, shown by its re-check); clutter 0.04 to 0.28.
inline constexpr double LANDMARK_DRIFT_MAX = 0.09;

}  // namespace qlcore
