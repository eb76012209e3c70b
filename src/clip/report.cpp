#include "clip/report.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>

#include "clip/analysis_cache.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

fs::path _with_extension(const fs::path& out, const char* ext) {
    fs::path p = out;
    p.replace_extension(ext);
    return p;
}

// Creates the folder and proves that a file can be written into it.
bool _writable_folder(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return false;
    // Private to this process: clips processed at once on several machines
    // often share their output folder.
    fs::path probe = sibling_temp_path(dir / ".write-test", "");
    {
        std::ofstream f(probe, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f << "x";
        f.close();
        if (!f) {
            fs::remove(probe, ec);
            return false;
        }
    }
    return fs::remove(probe, ec) && !ec;
}

// A marked frame as a whole number: numbers truncated toward zero, texts
// must spell one. Nothing for anything else, or beyond 64 bits.
std::optional<int64_t> _whole_number(const json& v) {
    if (v.is_number_unsigned()) {
        if (v.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<int64_t>(v.get<uint64_t>());
    }
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_float()) {
        double t = std::trunc(v.get<double>());
        // 2^63 is exact in a double; anything at or beyond it does not fit.
        if (!std::isfinite(t) || t < -9223372036854775808.0 || t >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<int64_t>(t);
    }
    if (v.is_string()) return parse_int(trim(v.get<std::string>()));
    return std::nullopt;
}

bool _is_int(const json& j) {
    return j.is_number_integer();
}

// What the batch runner reads from a report it is handed back.
bool _runner_fields_intact(const json& report) {
    auto src = report.find("source"), out = report.find("output"), markers = report.find("markers");
    if (src == report.end() || !src->is_string()) return false;
    if (out == report.end() || !out->is_string()) return false;
    if (markers == report.end() || !markers->is_array()) return false;
    for (const auto& m : *markers) {
        if (!m.is_object()) return false;
        for (const char* k : {"frame", "duration"})
            if (!m.contains(k) || !_is_int(m[k])) return false;
        for (const char* k : {"color", "name", "note"})
            if (!m.contains(k) || !m[k].is_string()) return false;
    }
    return true;
}

bool _same_people(const json& report, const std::vector<std::string>& names) {
    std::vector<std::string> stored;
    auto it = report.find("keep");
    if (it != report.end()) {
        // Anything but a list of texts simply differs.
        if (!it->is_array()) return false;
        for (const auto& v : *it) {
            if (!v.is_string()) return false;
            stored.push_back(v.get<std::string>());
        }
    }
    std::vector<std::string> wanted = names;
    std::sort(stored.begin(), stored.end());
    std::sort(wanted.begin(), wanted.end());
    return stored == wanted;
}

std::string _median_text(const Decision& d) {
    return d.median ? shortest(*d.median) : "unknown";
}

}  // namespace

fs::path report_path(const fs::path& out) {
    return _with_extension(out, ".json");
}
fs::path overrides_path(const fs::path& out) {
    return _with_extension(out, ".overrides.json");
}
fs::path analysis_path(const fs::path& out) {
    return _with_extension(out, ".analysis.json");
}

fs::path output_path(const fs::path& src, const std::optional<fs::path>& out_dir,
                     const fs::path& home_dir) {
    fs::path dir;
    if (out_dir) {
        dir = out_dir->empty() ? fs::path(".") : *out_dir;
    } else {
        dir = src.parent_path() / "Quillet";
        // Read-only cards and folders without rights fall back to the home folder.
        if (!_writable_folder(dir)) dir = home_dir / "output";
    }
    fs::create_directories(dir);
    return dir / (src.stem().string() + "_mosaic.mov");
}

json parse_overrides(const std::string& text) {
    try {
        json j = parse_json(text);
        if (!j.is_object()) return json::object();
        json keep = j.contains("keep") ? j["keep"] : json::array();
        if (!keep.is_array()) return json::object();
        std::set<int64_t> frames;
        for (const auto& v : keep) {
            auto n = _whole_number(v);
            if (!n) return json::object();
            frames.insert(*n);
        }
        json out = json::object();
        if (!frames.empty()) out["keep"] = std::vector<int64_t>(frames.begin(), frames.end());
        return out;
    } catch (const std::exception&) {
        return json::object();
    }
}

json load_overrides(const fs::path& out) {
    std::string text;
    try {
        text = read_file(overrides_path(out));
    } catch (const std::exception&) {
        return json::object();
    }
    return parse_overrides(text);
}

std::optional<json> earlier_report(const fs::path& src, const fs::path& done,
                                   const std::vector<std::string>& names, const json& overrides) {
    try {
        fs::path rep = report_path(done);
        std::error_code ec;
        if (!fs::exists(done, ec) || !fs::exists(rep, ec)) return std::nullopt;
        if (mtime_precise(done) < mtime_precise(src)) return std::nullopt;
        json report = parse_json(read_file(rep));
        if (!report.is_object()) return std::nullopt;
        if (!_same_people(report, names)) return std::nullopt;
        auto engine = report.find("engine");
        if (engine == report.end() || !same_json(*engine, json(ENGINE_VERSION)))
            return std::nullopt;
        auto ov = report.find("overrides");
        if (!same_json(ov == report.end() ? json::object() : *ov, overrides)) return std::nullopt;
        if (!_runner_fields_intact(report)) return std::nullopt;
        return report;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void apply_marks(std::vector<JudgedTrack>& live, const json& overrides) {
    auto keep = overrides.find("keep");
    if (keep == overrides.end() || !keep->is_array()) return;
    for (const auto& mark : *keep) {
        if (!mark.is_number_integer()) continue;
        int64_t frame = mark.get<int64_t>();
        JudgedTrack* best = nullptr;
        float best_w = 0.0f;
        for (auto& t : live) {
            if (t.decision.keep) continue;
            auto box = t.path.at(frame);
            if (!box) continue;
            float w = (*box)[2];
            if (!best || w > best_w || (w == best_w && t.id > best->id)) {
                best = &t;
                best_w = w;
            }
        }
        if (!best) continue;
        best->decision.keep = true;
        best->decision.person = "(marked by you)";
        best->decision.review.reset();
    }
}

json track_entry(const JudgedTrack& t) {
    const Decision& d = t.decision;
    json e = json::object();
    e["track"] = t.id;
    e["start"] = t.path.start;
    e["end"] = t.path.end;
    e["keep"] = d.keep;
    e["person"] = d.person ? json(*d.person) : json(nullptr);
    e["median"] = d.median ? json(*d.median) : json(nullptr);
    e["review"] = d.review ? json(*d.review) : json(nullptr);
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
    if (*d.review == "kept-borderline") {
        m["color"] = "Red";
        m["name"] = "Quillet: check visible face";
        m["note"] = "Left visible as " + d.person.value_or("") + " (similarity " + _median_text(d) +
                    "). Make sure this is really them.";
    } else {
        m["color"] = "Yellow";
        m["name"] = "Quillet: possibly over-mosaicked";
        m["note"] = "Mosaicked, but looked a bit like an enrolled person (similarity " +
                    _median_text(d) + ").";
    }
    return m;
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
                  const Assembly& assembly) {
    json r = json::object();
    r["source"] = src;
    r["output"] = out;
    r["frames"] = n_frames;
    r["keep"] = names;
    r["engine"] = ENGINE_VERSION;
    r["overrides"] = overrides;
    r["tracks"] = assembly.tracks;
    r["markers"] = assembly.markers;
    return r;
}

std::string report_text(const json& report) {
    return dump_indented(report);
}

}  // namespace qlcore
