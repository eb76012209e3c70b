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
    }
    return "";
}

std::string _median_text(const Decision& d) {
    return d.median ? shortest(*d.median) : "unknown";
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

std::optional<json> marker_entry(const JudgedTrack& t) {
    const Decision& d = t.decision;
    // Spots shorter than six frames are not worth a marker.
    if (!d.review || t.path.end - t.path.start < 5) return std::nullopt;
    json m = json::object();
    m["frame"] = t.path.start;
    m["duration"] = t.path.end - t.path.start + 1;
    if (*d.review == Review::KeptBorderline) {
        m["color"] = "Red";
        m["name"] = "Quillet: check visible face";
        m["note"] = "Left visible as " + d.person.value_or("") + " (similarity " + _median_text(d) +
                    "). Make sure this is really them.";
    } else if (*d.review == Review::WeakEvidence) {
        m["color"] = "Purple";
        m["name"] = "Quillet: mosaicked on weak evidence";
        m["note"] = "Mosaicked, though the detector was unsure it is a face (best detector score " +
                    shortest(t.best_score) + ").";
    } else {
        m["color"] = "Yellow";
        m["name"] = "Quillet: possibly over-mosaicked";
        m["note"] = "Mosaicked, but looked a bit like an enrolled person (similarity " +
                    _median_text(d) + ").";
    }
    return m;
}

std::optional<json> left_visible_marker(const IgnoredTrack& t,
                                        const std::vector<IgnoredTrack>& ignored) {
    if (t.reason != IgnoreReason::Lookalike) return std::nullopt;
    if (t.n_detections < LONG_TRACK || t.path.end - t.path.start < 5) return std::nullopt;
    const int64_t frame = hide_frame(t, ignored).value_or(t.best_frame);
    json m = json::object();
    m["frame"] = t.path.start;
    m["duration"] = t.path.end - t.path.start + 1;
    m["color"] = "Purple";
    m["name"] = "Quillet: check face left visible";
    m["note"] = "Left visible: judged not to be a face (best detector score " +
                shortest(t.best_score) + "). If it is a face, hide it: write {\"hide\": [" +
                std::to_string(frame) + "]} into the overrides file and run the clip again.";
    return m;
}

Assembly assemble(std::vector<JudgedTrack> live, std::vector<JudgedTrack> hidden,
                  const std::vector<IgnoredTrack>& ignored) {
    for (auto& t : hidden)
        live.push_back(std::move(t));
    std::stable_sort(live.begin(), live.end(),
                     [](const JudgedTrack& a, const JudgedTrack& b) { return a.id < b.id; });
    Assembly a = assemble(live);
    for (const auto& t : ignored)
        if (auto m = left_visible_marker(t, ignored)) a.markers.push_back(std::move(*m));
    return a;
}

Assembly assemble(const std::vector<JudgedTrack>& live) {
    Assembly a;
    for (const auto& t : live) {
        if (t.decision.keep) {
            ++a.kept;
        } else {
            ++a.mosaicked;
            for (const auto& [frame, box] : t.path.entries)
                a.plan[frame].push_back(box);
        }
        a.tracks.push_back(track_entry(t));
        if (auto m = marker_entry(t)) a.markers.push_back(std::move(*m));
    }
    return a;
}

std::string summary_line(int64_t kept, int64_t mosaicked, int64_t n_flash, int64_t n_look) {
    std::string s = "  faces tracked: " + std::to_string(kept + mosaicked) +
                    "  ·  left visible: " + std::to_string(kept) +
                    "  ·  mosaicked: " + std::to_string(mosaicked);
    if (n_flash > 0) s += "  ·  ignored " + std::to_string(n_flash) + " one-frame false alarm(s)";
    if (n_look > 0) s += "  ·  ignored " + std::to_string(n_look) + " non-face(s) (hands, wheels…)";
    return s;
}

json build_report(const std::string& src, const std::string& out, int64_t n_frames,
                  const std::vector<std::string>& names, const json& overrides,
                  const Assembly& assembly, HideStyle style, bool thorough) {
    json r = json::object();
    r["source"] = src;
    r["output"] = out;
    r["frames"] = n_frames;
    r["keep"] = names;
    r["engine"] = ENGINE_VERSION;
    // Only when not the default, so default reports stay as they were.
    if (style != HideStyle::mosaic) r["style"] = hide_style_name(style);
    if (thorough) r["mode"] = "thorough";
    r["overrides"] = overrides;
    r["tracks"] = assembly.tracks;
    r["markers"] = assembly.markers;
    return r;
}

std::string report_text(const json& report) {
    return dump_indented(report);
}

}  // namespace qlcore
