// Who stays visible: every track of a clip's search judged in one place,
// with the user's marks applied. The report, its markers, the review page
// and the MosaicPlan all read this judgement; none judges on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analyse.h"
#include "geometry/box.h"
#include "geometry/tuning.h"
#include "media/probe.h"
#include "platform/json_text.h"
#include "tracking/box_path.h"
#include "tracking/verdicts.h"

namespace qlcore {

enum class Verdict {
    kept,             // left visible as decision.person
    mosaicked,        // by the program
    kept_by_you,      // a mosaicked face the overrides' "keep" left visible
    hidden_by_you,    // an ignored track the overrides' "hide" mosaicked
    ignored_flash,    // one-frame false alarm, left visible
    ignored_nonface,  // hands, wheels..., left visible
    weak_candidate,   // the thorough search's weak detection, mosaicked
    weak_thin,        // a weak detection on too few frames, left visible
};

// Whether the face is pixelated / listed in the report's tracks.
bool is_hidden(Verdict v);
bool is_ignored(Verdict v);

// A timeline marker of the report.
struct Marker {
    int64_t frame = 0;
    int64_t duration = 0;
    std::string color;  // the editor's colour name: "Red", "Yellow", "Purple", "Cyan"
    std::string name;
    std::string note;
    bool operator==(const Marker&) const = default;
};

// A mark naming one face: a frame and the face's box there (frame pixels).
struct MarkLine {
    int64_t frame = 0;
    Box box{};
    bool operator==(const MarkLine&) const = default;
};

// A mark of the overrides that was not applied, and why.
struct MarkProblem {
    std::string key;  // "keep" or "hide"
    json mark;        // as the overrides hold it
    std::string why;
    bool operator==(const MarkProblem&) const = default;
};

// One track of the search, judged.
struct JudgedTrack {
    int id = 0;
    Verdict verdict = Verdict::mosaicked;
    BoxPath path;
    // The report's record; person holds "(marked by you)" or "(hidden by
    // you)" for the user's verdicts, as the report shows them.
    Decision decision;
    std::optional<Marker> marker;
    double best_score = 0.0;  // the best detector score
    int64_t best_frame = 0;   // its detection frame, the earliest of equal scores
    int64_t n_detections = 0;
    // Live only because the thorough search never drops a long track as a
    // non-face: every re-check failed, the best of them this.
    std::optional<double> failed_check;
    // The mark an overrides line names to turn this verdict round ("keep"
    // for a mosaicked face, "hide" for an ignored or kept one); nothing
    // otherwise, or when no mark can name this face alone.
    std::optional<MarkLine> override_mark;
    // Kept by recognition, yet these frames (from the first to the last
    // sample of its runs of samples that did not match the kept person)
    // may show someone else.
    std::optional<std::pair<int64_t, int64_t>> mixed;
    bool operator==(const JudgedTrack&) const = default;
};

struct Judgement {
    std::vector<JudgedTrack> tracks;  // tracks then weak candidates, in id order
    // The summary line's counts.
    int64_t kept = 0;
    int64_t mosaicked = 0;
    int64_t n_flash = 0;
    int64_t n_look = 0;
    // The user's marks that were not applied: a console line and, for a
    // frame of the clip, a marker each.
    std::vector<std::string> warnings;
    std::vector<Marker> mark_markers;
    bool operator==(const Judgement&) const = default;
};

// A track's path, detections and best score, not yet judged (mosaicked,
// with an empty decision record).
JudgedTrack judged_track(const Track& t, int64_t n_frames);

// The marker a judged track earns (override_mark set): a flagged verdict
// of a listed track, or a non-face of at least LONG_TRACK detections left
// visible; only for spots of at least six frames.
std::optional<Marker> track_marker(const JudgedTrack& t);

// A kept track's samples that do not match its person (below the keep
// threshold, or for someone else) in a run of at least MIXED_SAMPLES in a
// row, or spanning at least a second, flag it as "kept-mixed".
inline constexpr int MIXED_SAMPLES = 3;

// The frames from the first to the last sample of the runs that flag
// `track`, kept as names[person]; nothing when none does. fps 0 or less
// leaves out the time test.
std::optional<std::pair<int64_t, int64_t>> mixed_frames(const Track& track, int person,
                                                        double keep_threshold, double fps);

// Judges `result` (made in a frame of `size`, at `fps` frames a second when
// known) for the kept people `names` with the user's `overrides` and the
// run's `tuning`.
Judgement judge(const SearchResult& result, FrameSize size, const std::vector<std::string>& names,
                const json& overrides, const Tuning& tuning, double fps = 0.0);

// The boxes of every hidden track, tracks in id order.
MosaicPlan mosaic_plan(const Judgement& j);

}  // namespace qlcore
