// Who stays visible: every track of a clip's search judged in one place,
// with the user's marks applied. The report, its markers, the review page
// and the MosaicPlan all read this judgement; none judges on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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
    // The frame an overrides line names to turn this verdict round ("keep"
    // for a mosaicked face, "hide" for an ignored one); nothing otherwise,
    // or when another face always takes the mark.
    std::optional<int64_t> override_frame;
    bool operator==(const JudgedTrack&) const = default;
};

struct Judgement {
    std::vector<JudgedTrack> tracks;  // tracks then weak candidates, in id order
    // The summary line's counts.
    int64_t kept = 0;
    int64_t mosaicked = 0;
    int64_t n_flash = 0;
    int64_t n_look = 0;
    bool operator==(const Judgement&) const = default;
};

// A track's path, detections and best score, not yet judged (mosaicked,
// with an empty decision record).
JudgedTrack judged_track(const Track& t, int64_t n_frames);

// The marker a judged track earns (override_frame set): a flagged verdict
// of a listed track, or a non-face of at least LONG_TRACK detections left
// visible; only for spots of at least six frames.
std::optional<Marker> track_marker(const JudgedTrack& t);

// Judges `result` (made in a frame of `size`) for the kept people `names`
// with the user's `overrides` and the run's `tuning`.
Judgement judge(const SearchResult& result, FrameSize size, const std::vector<std::string>& names,
                const json& overrides, const Tuning& tuning);

// The boxes of every hidden track, tracks in id order.
MosaicPlan mosaic_plan(const Judgement& j);

}  // namespace qlcore
