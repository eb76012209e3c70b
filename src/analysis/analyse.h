// The face search pass over one clip.
#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/search_inputs.h"
#include "analysis/views.h"
#include "geometry/tuning.h"
#include "media/probe.h"
#include "tracking/face_evidence.h"
#include "tracking/tracker.h"
#include "tracking/verdicts.h"

namespace qlcore {

class Models;

// Re-check only faces at least this share of the frame's long side wide, at
// most VERIFY_BUDGET times per track (VERIFY_SKIP and VERIFY_PASS: verdicts).
inline constexpr double VERIFY_MIN_FRAC = 0.03;
inline constexpr int VERIFY_BUDGET = 6;
// Faces smaller than this (search pixels) are not recognised; a track takes
// REC_BUDGET samples at once, then one at every REC_EVERY-th frame index.
inline constexpr int MIN_REC_SIZE = 36;
inline constexpr int REC_BUDGET = 12;
inline constexpr int REC_EVERY = 6;

// The thorough search re-checks a weak candidate's detections once its track
// holds this many, as it would a track's: shorter ones are never acted on.
inline constexpr int CANDIDATE_CHECK_FROM = 3;

struct SearchResult {
    std::vector<Track> tracks;
    // The thorough search's weak candidates, tracked apart; their ids follow
    // the tracks' ids. Empty in the other modes.
    std::vector<Track> candidates;
    int64_t n_frames = 0;  // 0 when no frame could be read
    // Frames the decoder delivered, up to the last one searched: unlike
    // n_frames never more than the clip really holds.
    int64_t n_read = 0;
    // The thorough search's landmark evidence, parallel to tracks and to
    // candidates. Empty in the other modes.
    std::vector<FaceEvidence> evidence;
    std::vector<FaceEvidence> candidate_evidence;
};

// Boxes to BOX_PLACES, scores to SCORE_PLACES and similarities to
// SIM_PLACES, as the analysis cache stores them: the search hands its result
// over rounded, so a fresh run and a rerun from the cache judge and mosaic
// the same numbers.
void round_as_stored(SearchResult& result);

// The search size and the factors derived from it.
struct SearchGeometry {
    double sc = 1.0;        // search scale, never above 1
    int dw = 0, dh = 0;     // search size, always even
    double up = 1.0;        // search pixels -> frame pixels
    double verify_w = 0.0;  // smallest face width worth a re-check
};

SearchGeometry search_geometry(FrameSize size, int det_max_side);

// The thorough search's extras: each frame (searched at full resolution) is
// looked at in several views whose detections are merged, and detections
// from weak_score up to DET_SCORE are tracked apart as candidates.
struct ThoroughSearch {
    int det_max_side = DEFAULT_DET_MAX_SIDE;  // the usual view's long side
    ViewOptions views = thorough_view_options();
    double weak_score = 0.0;
};
ThoroughSearch thorough_search(const Tuning& tuning);

// The search over frames from `frames`: every `every`-th frame of the clip
// (fi = 0, every, 2 * every, ...) at the search size of `g`. total is the
// clip's expected frame count, 0 when unknown (progress and a lower bound of
// n_frames only). gallery: M x 128 CV_32F; owners: M entries. With
// `thorough`, the frames come at full resolution and are searched in its views.
SearchResult search_frames(FrameSource& frames, FaceDetector& detector, const SearchGeometry& g,
                           int every, int64_t total, const cv::Mat& gallery,
                           const std::vector<int32_t>& owners,
                           const std::optional<ThoroughSearch>& thorough = std::nullopt);

// The search over the clip at `path`, decoded by ffmpeg at search size (at
// full resolution when tuning.thorough), with the real models. Uses
// tuning.det_max_side and tuning.det_every.
SearchResult analyse(const std::string& path, const ClipInfo& info, FrameSize size, Models& models,
                     const cv::Mat& gallery, const std::vector<int32_t>& owners,
                     const Tuning& tuning);

}  // namespace qlcore
