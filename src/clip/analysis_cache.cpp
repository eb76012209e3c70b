#include "clip/analysis_cache.h"

#include <cmath>
#include <limits>

#include "analysis/views.h"
#include "faces/models.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

// Readers for the cache's values; false for anything not of the stored kind.
bool _read_int(const json& j, int64_t& out) {
    if (j.is_number_unsigned()) {
        if (j.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return false;
        out = static_cast<int64_t>(j.get<uint64_t>());
        return true;
    }
    if (!j.is_number_integer()) return false;
    out = j.get<int64_t>();
    return true;
}

bool _read_double(const json& j, double& out) {
    if (!j.is_number()) return false;
    out = j.get<double>();
    return std::isfinite(out);
}

bool _read_doubles(const json& j, std::vector<double>& out) {
    if (!j.is_array()) return false;
    out.clear();
    out.reserve(j.size());
    for (const auto& v : j) {
        double d;
        if (!_read_double(v, d)) return false;
        out.push_back(d);
    }
    return true;
}

const json* _member(const json& obj, const char* name) {
    auto it = obj.find(name);
    return it == obj.end() ? nullptr : &*it;
}

// One track object. Everything later code indexes by is checked here, so a
// damaged file can never reach the verdicts or box paths.
std::optional<Track> _restore_track(const json& t, int64_t n_frames, size_t n_names) {
    if (!t.is_object()) return std::nullopt;
    const json *id = _member(t, "id"), *f = _member(t, "f"), *b = _member(t, "b"),
               *s = _member(t, "s"), *r = _member(t, "r"), *c = _member(t, "c");
    int64_t tid;
    if (!id || !f || !b || !s || !r || !_read_int(*id, tid)) return std::nullopt;
    if (tid < std::numeric_limits<int>::min() || tid > std::numeric_limits<int>::max())
        return std::nullopt;
    Track track(static_cast<int>(tid));

    if (!f->is_array() || !b->is_array() || f->size() != b->size()) return std::nullopt;
    for (const auto& v : *f) {
        int64_t fi;
        if (!_read_int(v, fi) || fi < 0 || fi >= n_frames) return std::nullopt;
        if (!track.frames.empty() && fi <= track.frames.back()) return std::nullopt;
        track.frames.push_back(fi);
    }
    for (const auto& v : *b) {
        if (!v.is_array() || v.size() != 4) return std::nullopt;
        Box box;
        if (!_read_double(v[0], box.x) || !_read_double(v[1], box.y) ||
            !_read_double(v[2], box.w) || !_read_double(v[3], box.h))
            return std::nullopt;
        track.boxes.push_back(box);
    }
    if (!_read_doubles(*s, track.scores) || track.scores.size() != track.frames.size())
        return std::nullopt;
    if (!r->is_array()) return std::nullopt;
    for (const auto& v : *r) {
        Sample smp;
        int64_t person;
        if (!v.is_array() || v.size() != 3 || !_read_int(v[0], smp.frame) ||
            !_read_double(v[1], smp.sim) || !_read_int(v[2], person))
            return std::nullopt;
        if (smp.frame < 0 || smp.frame >= n_frames) return std::nullopt;
        if (person < 0 || static_cast<uint64_t>(person) >= n_names) return std::nullopt;
        smp.person = static_cast<int>(person);
        track.samples.push_back(smp);
    }
    if (c && !_read_doubles(*c, track.checks)) return std::nullopt;
    track.last = track.frames.empty() ? NEVER_SEEN : track.frames.back();
    return track;
}

bool _restore_tracks(const json& list, int64_t n_frames, size_t n_names, std::vector<Track>& out) {
    if (!list.is_array()) return false;
    out.reserve(list.size());
    for (const auto& t : list) {
        auto track = _restore_track(t, n_frames, n_names);
        if (!track) return false;
        out.push_back(std::move(*track));
    }
    return true;
}

// ClipInfo's texts under their stored names; absent ones are left out.
using ClipText = std::optional<std::string> ClipInfo::*;
constexpr std::pair<const char*, ClipText> CLIP_TEXTS[] = {
    {"rate", &ClipInfo::rate},
    {"timecode", &ClipInfo::timecode},
    {"color_primaries", &ClipInfo::color_primaries},
    {"color_transfer", &ClipInfo::color_transfer},
    {"color_space", &ClipInfo::color_space},
    {"color_range", &ClipInfo::color_range}};

// As large as a first frame's PNG header may say.
constexpr int64_t MAX_SIDE = int64_t{1} << 20;

// The clip beside the search; anything off means the clip is probed again,
// so a damaged entry can never stand in for a probe.
std::optional<ProbedClip> _restore_clip(const json& file) {
    const json *c = _member(file, "clip"), *size = _member(file, "frame_size");
    if (!c || !size || !c->is_object() || !size->is_array() || size->size() != 2)
        return std::nullopt;
    int64_t w, h, bits;
    if (!_read_int((*size)[0], w) || !_read_int((*size)[1], h) || w <= 0 || h <= 0 ||
        w > MAX_SIDE || h > MAX_SIDE)
        return std::nullopt;
    ProbedClip clip;
    clip.size = {static_cast<int>(w), static_cast<int>(h)};
    const json *frames = _member(*c, "frames"), *b = _member(*c, "bits");
    if (!frames || !b || !_read_int(*frames, clip.info.frames) || clip.info.frames < 0 ||
        !_read_int(*b, bits) || (bits != 8 && bits != 10))
        return std::nullopt;
    clip.info.bits = static_cast<int>(bits);
    for (const auto& [name, field] : CLIP_TEXTS) {
        const json* v = _member(*c, name);
        if (!v) continue;
        if (!v->is_string()) return std::nullopt;
        clip.info.*field = v->get<std::string>();
    }
    return clip;
}

json _clip_json(const ClipInfo& info) {
    json j = json::object();
    for (const auto& [name, field] : CLIP_TEXTS)
        if (info.*field) j[name] = *(info.*field);
    j["frames"] = info.frames;
    j["bits"] = info.bits;
    return j;
}

// Stored only when it reads back exactly (a text that is not UTF-8 would
// not): a rerun must render as a probed run does.
void _add_clip(json& file, const ProbedClip& clip) {
    json entry = json::object();
    entry["clip"] = _clip_json(clip.info);
    entry["frame_size"] = json::array({clip.size.w, clip.size.h});
    auto back = _restore_clip(parse_json(dump_compact(entry)));
    if (!back || back->info != clip.info || back->size != clip.size) return;
    file["clip"] = std::move(entry["clip"]);
    file["frame_size"] = std::move(entry["frame_size"]);
}

}  // namespace

double gallery_digest(const cv::Mat& gallery) {
    if (gallery.empty() || gallery.rows == 0) return 0.0;
    cv::Mat m = gallery;
    if (m.type() != CV_32F) gallery.convertTo(m, CV_32F);
    float sum = 0.0f;
    for (int r = 0; r < m.rows; ++r) {
        const float* row = m.ptr<float>(r);
        for (int i = 0; i < m.cols * m.channels(); ++i)
            sum += row[i];
    }
    // Rounded, then kept in the matrix's precision before widening.
    return static_cast<double>(static_cast<float>(round_places(sum, 4)));
}

json analysis_key(const std::filesystem::path& src, const std::vector<std::string>& names,
                  const cv::Mat& gallery, const Tuning& tuning) {
    FileStatus st = file_status(src);
    json key = json::object();
    key["v"] = ANALYSIS_VERSION;
    key["size"] = st.size;
    key["mtime"] = st.mtime;
    key["names"] = names;
    key["gallery"] = json::array({gallery.empty() ? 0 : gallery.rows, gallery_digest(gallery)});
    key["det"] = json::array({DET_SCORE, tuning.det_max_side, tuning.det_every});
    // Only for the thorough search, so the other modes' files still match.
    if (tuning.thorough) {
        key["mode"] = "thorough";
        key["views"] = THOROUGH_VIEWS_VERSION;
        // Searches from before the face evidence was kept are searched again.
        key["evidence"] = FACE_EVIDENCE_VERSION;
    }
    return key;
}

namespace {

json _tracks_json(const std::vector<Track>& tracks) {
    json list = json::array();
    for (const Track& t : tracks) {
        json boxes = json::array();
        for (const Box& b : t.boxes)
            boxes.push_back({round_places(b.x, BOX_PLACES), round_places(b.y, BOX_PLACES),
                             round_places(b.w, BOX_PLACES), round_places(b.h, BOX_PLACES)});
        json scores = json::array();
        for (double s : t.scores)
            scores.push_back(round_places(s, SCORE_PLACES));
        json samples = json::array();
        for (const Sample& s : t.samples)
            samples.push_back(json::array({s.frame, round_places(s.sim, SIM_PLACES), s.person}));
        json obj = json::object();
        obj["id"] = t.id;
        obj["f"] = t.frames;
        obj["b"] = std::move(boxes);
        obj["s"] = std::move(scores);
        obj["r"] = std::move(samples);
        obj["c"] = t.checks;
        list.push_back(std::move(obj));
    }
    return list;
}

// Thorough searches hold weak candidates besides the tracks.
bool _thorough(const json& key) {
    return key.is_object() && key.contains("mode");
}

json _evidence_json(const std::vector<FaceEvidence>& list) {
    json out = json::array();
    for (const FaceEvidence& e : list)
        out.push_back(
            json::object({{"drift", e.drift}, {"lifted", e.lifted}, {"inside", e.inside}}));
    return out;
}

// The evidence of `tracks`, one entry per track with one value per detection.
bool _restore_evidence(const json& list, const std::vector<Track>& tracks,
                       std::vector<FaceEvidence>& out) {
    if (!list.is_array() || list.size() != tracks.size()) return false;
    out.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        const json *drift = _member(list[i], "drift"), *lifted = _member(list[i], "lifted"),
                   *inside = _member(list[i], "inside");
        FaceEvidence ev;
        if (!drift || !lifted || !inside || !_read_doubles(*drift, ev.drift) ||
            ev.drift.size() != tracks[i].frames.size() || !_read_doubles(*lifted, ev.lifted) ||
            !_read_doubles(*inside, ev.inside) || ev.inside.size() != ev.lifted.size())
            return false;
        out.push_back(std::move(ev));
    }
    return true;
}

}  // namespace

json analysis_json(const json& key, const std::vector<Track>& tracks, int64_t n_frames,
                   int64_t n_read, const std::vector<Track>& candidates, const ProbedClip* clip) {
    json out = json::object();
    out["key"] = key;
    out["frames"] = n_frames;
    out["read"] = n_read < 0 ? n_frames : n_read;
    out["tracks"] = _tracks_json(tracks);
    if (_thorough(key)) out["candidates"] = _tracks_json(candidates);
    if (clip) _add_clip(out, *clip);
    return out;
}

namespace {

void _save(const std::filesystem::path& path, const json& key, const SearchResult& found,
           const ProbedClip* clip) {
    try {
        json out =
            analysis_json(key, found.tracks, found.n_frames, found.n_read, found.candidates, clip);
        if (_thorough(key) && found.evidence.size() == found.tracks.size() &&
            found.candidate_evidence.size() == found.candidates.size()) {
            out["evidence"] = _evidence_json(found.evidence);
            out["candidate_evidence"] = _evidence_json(found.candidate_evidence);
        }
        write_file_atomic(path, dump_compact(out));
    } catch (const std::exception&) {
        // A cache that cannot be written only costs a search next time.
    }
}

}  // namespace

void save_analysis(const std::filesystem::path& path, const json& key, const SearchResult& found) {
    _save(path, key, found, nullptr);
}

void save_analysis(const std::filesystem::path& path, const json& key, const SearchResult& found,
                   const ProbedClip& clip) {
    _save(path, key, found, &clip);
}

void save_analysis(const std::filesystem::path& path, const json& key,
                   const std::vector<Track>& tracks, int64_t n_frames, int64_t n_read) {
    SearchResult found;
    found.tracks = tracks;
    found.n_frames = n_frames;
    found.n_read = n_read;
    save_analysis(path, key, found);
}

std::optional<CachedAnalysis> load_analysis(const std::filesystem::path& path, const json& key) {
    const std::optional<json> file = read_json_file(path);
    if (!file || !file->is_object()) return std::nullopt;
    const json& j = *file;
    const json* stored = _member(j, "key");
    if (!stored || !same_json(*stored, key)) return std::nullopt;

    SearchResult result;
    const json *frames = _member(j, "frames"), *tracks = _member(j, "tracks");
    if (!frames || !tracks || !_read_int(*frames, result.n_frames) || result.n_frames < 0 ||
        !tracks->is_array())
        return std::nullopt;
    // Files written before "read" was kept lack it: searched again, as the
    // render could not tell a damaged source from a short one without it.
    const json* read = _member(j, "read");
    if (!read || !_read_int(*read, result.n_read) || result.n_read < 0 ||
        result.n_read > result.n_frames)
        return std::nullopt;
    const json* names = _member(key, "names");
    size_t n_names = names && names->is_array() ? names->size() : 0;
    if (!_restore_tracks(*tracks, result.n_frames, n_names, result.tracks)) return std::nullopt;
    if (_thorough(key)) {
        const json* candidates = _member(j, "candidates");
        if (!candidates ||
            !_restore_tracks(*candidates, result.n_frames, n_names, result.candidates))
            return std::nullopt;
        // Every thorough search keeps it; a file without it is judged
        // without it.
        const json *ev = _member(j, "evidence"), *cev = _member(j, "candidate_evidence");
        if ((ev || cev) &&
            (!ev || !cev || !_restore_evidence(*ev, result.tracks, result.evidence) ||
             !_restore_evidence(*cev, result.candidates, result.candidate_evidence)))
            return std::nullopt;
    }
    return CachedAnalysis{std::move(result), _restore_clip(j)};
}

}  // namespace qlcore
