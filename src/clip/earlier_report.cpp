#include "clip/earlier_report.h"

#include <algorithm>

#include "clip/output_paths.h"
#include "clip/report.h"
#include "platform/files.h"

namespace qlcore {
namespace {

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

}  // namespace

std::optional<json> earlier_report(const fs::path& src, const fs::path& done,
                                   const std::vector<std::string>& names, const json& overrides,
                                   HideStyle style, const Tuning& tuning) {
    try {
        fs::path rep = report_path(done);
        std::error_code ec;
        if (!fs::exists(done, ec) || !fs::exists(rep, ec)) return std::nullopt;
        if (mtime_precise(done) < mtime_precise(src)) return std::nullopt;
        std::optional<json> stored = read_json_file(rep);
        if (!stored || !stored->is_object()) return std::nullopt;
        json& report = *stored;
        if (!_same_people(report, names)) return std::nullopt;
        auto engine = report.find("engine");
        if (engine == report.end() || !same_json(*engine, json(ENGINE_VERSION)))
            return std::nullopt;
        auto ov = report.find("overrides");
        if (!same_json(ov == report.end() ? json::object() : *ov, overrides)) return std::nullopt;
        // Reports of the default style carry no "style".
        auto st = report.find("style");
        if (!same_json(st == report.end() ? json("mosaic") : *st, json(hide_style_name(style))))
            return std::nullopt;
        // Reports made at the default threshold carry none. A run at another
        // threshold judges the cached search again.
        auto th = report.find("threshold");
        if (!same_json(th == report.end() ? json(DEFAULT_KEEP_THRESHOLD) : *th,
                       json(tuning.keep_threshold)))
            return std::nullopt;
        // Only thorough reports carry "mode". A thorough run redoes clips the
        // other modes did, as they looked less hard; like fast mode, the
        // other modes leave any finished clip alone.
        auto mode = report.find("mode");
        if (tuning.thorough && (mode == report.end() || !same_json(*mode, json("thorough"))))
            return std::nullopt;
        auto evidence = report.find("evidence");
        if (tuning.thorough &&
            (evidence == report.end() || !same_json(*evidence, json(FACE_EVIDENCE_VERSION))))
            return std::nullopt;
        if (!_runner_fields_intact(report)) return std::nullopt;
        return std::move(report);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace qlcore
