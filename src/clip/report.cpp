#include "clip/report.h"

#include <algorithm>

#include "platform/numbers.h"

namespace qlcore {
namespace {

std::string _review_text(Review r) {
    switch (r) {
        case Review::KeptBorderline:
            return "kept-borderline";
        case Review::MosaicBorderline:
            return "mosaic-borderline";
        case Review::WeakEvidence:
            return "weak-evidence";
        case Review::FailedChecks:
            return "failed-checks";
        case Review::KeptMixed:
            return "kept-mixed";
    }
    return "";
}

}  // namespace

json track_entry(const JudgedTrack& t) {
    const Decision& d = t.decision;
    json e = json::object();
    e["track"] = t.id;
    e["start"] = t.path.start;
    e["end"] = t.path.end;
    e["keep"] = d.keep;
    e["person"] = d.person ? json(*d.person) : json(nullptr);
    e["median"] = d.median ? json(*d.median) : json(nullptr);
    e["review"] = d.review ? json(_review_text(*d.review)) : json(nullptr);
    e["n_samples"] = d.n_samples;
    return e;
}

json marker_json(const Marker& m) {
    json j = json::object();
    j["frame"] = m.frame;
    j["duration"] = m.duration;
    j["color"] = m.color;
    j["name"] = m.name;
    j["note"] = m.note;
    return j;
}

json report_tracks(const Judgement& j) {
    json tracks = json::array();
    for (const JudgedTrack& t : j.tracks)
        if (!is_ignored(t.verdict)) tracks.push_back(track_entry(t));
    return tracks;
}

json report_markers(const Judgement& j) {
    json markers = json::array();
    for (bool ignored : {false, true})
        for (const JudgedTrack& t : j.tracks)
            if (t.marker && is_ignored(t.verdict) == ignored)
                markers.push_back(marker_json(*t.marker));
    for (const Marker& m : j.mark_markers)
        markers.push_back(marker_json(m));
    return markers;
}

std::string summary_line(const Judgement& j) {
    std::string s = "  faces tracked: " + std::to_string(j.kept + j.mosaicked) +
                    "  ·  left visible: " + std::to_string(j.kept) +
                    "  ·  mosaicked: " + std::to_string(j.mosaicked);
    if (j.n_flash > 0)
        s += "  ·  ignored " + std::to_string(j.n_flash) + " one-frame false alarm(s)";
    if (j.n_look > 0)
        s += "  ·  ignored " + std::to_string(j.n_look) + " non-face(s) (hands, wheels…)";
    return s;
}

std::optional<std::string> weak_evidence_line(const Judgement& j, int64_t n_frames) {
    std::vector<bool> touched(static_cast<size_t>(std::max<int64_t>(0, n_frames)), false);
    int64_t n = 0;
    for (const JudgedTrack& t : j.tracks) {
        const bool weak =
            t.decision.review == Review::WeakEvidence || t.decision.review == Review::FailedChecks;
        if (!weak || !is_hidden(t.verdict)) continue;
        ++n;
        for (const auto& [frame, box] : t.path.entries)
            if (frame >= 0 && frame < n_frames) touched[static_cast<size_t>(frame)] = true;
    }
    if (n == 0) return std::nullopt;
    const auto hit = std::count(touched.begin(), touched.end(), true);
    const int64_t percent =
        n_frames > 0 ? round_half_even(100.0 * static_cast<double>(hit) / n_frames) : 0;
    return "  ⚠ mosaicked on weak evidence: " + std::to_string(n) + " spot(s), on " +
           std::to_string(percent) +
           " % of the frames (thorough mode; see the purple and cyan markers)";
}

json build_report(const std::string& src, const std::string& out, int64_t n_frames,
                  const std::vector<std::string>& names, const json& overrides,
                  const Judgement& judgement, HideStyle style, const Tuning& tuning) {
    json r = json::object();
    r["source"] = src;
    r["output"] = out;
    r["frames"] = n_frames;
    r["keep"] = names;
    r["engine"] = ENGINE_VERSION;
    // Only when not the default, so default reports stay as they were.
    if (style != HideStyle::mosaic) r["style"] = hide_style_name(style);
    if (tuning.keep_threshold != DEFAULT_KEEP_THRESHOLD) r["threshold"] = tuning.keep_threshold;
    if (tuning.thorough) {
        r["mode"] = "thorough";
        // Thorough reports judged without the landmark evidence are redone.
        r["evidence"] = FACE_EVIDENCE_VERSION;
    }
    r["overrides"] = overrides;
    r["tracks"] = report_tracks(judgement);
    r["markers"] = report_markers(judgement);
    return r;
}

std::string report_text(const json& report) {
    return dump_indented(report);
}

}  // namespace qlcore
