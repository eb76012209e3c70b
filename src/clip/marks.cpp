#include "clip/marks.h"

namespace qlcore {
namespace {

// The track a mark at `frame` takes: among those `eligible` with a box
// there, the widest, the larger id on equal width; nothing when none is.
template <class Tracks, class Eligible>
auto _widest_at(Tracks& tracks, int64_t frame, Eligible eligible) -> decltype(&tracks[0]) {
    decltype(&tracks[0]) best = nullptr;
    float best_w = 0.0f;
    for (auto& t : tracks) {
        if (!eligible(t)) continue;
        auto box = t.path.at(frame);
        if (!box) continue;
        if (!best || box->w > best_w || (box->w == best_w && t.id > best->id)) {
            best = &t;
            best_w = box->w;
        }
    }
    return best;
}

// A "keep" mark takes only a face the program mosaicked.
bool _keepable(const JudgedTrack& t) {
    return t.verdict == Verdict::mosaicked || t.verdict == Verdict::weak_candidate;
}

// A "hide" mark takes only a track the program let go.
bool _hideable(const JudgedTrack& t) {
    return is_ignored(t.verdict);
}

template <class Eligible>
void _apply(std::vector<JudgedTrack>& tracks, const json& overrides, const char* key,
            Eligible eligible, Verdict verdict, const char* person) {
    auto marks = overrides.find(key);
    if (marks == overrides.end() || !marks->is_array()) return;
    for (const auto& mark : *marks) {
        if (!mark.is_number_integer()) continue;
        JudgedTrack* best = _widest_at(tracks, mark.get<int64_t>(), eligible);
        if (!best) continue;
        best->verdict = verdict;
        best->decision.keep = verdict == Verdict::kept_by_you;
        best->decision.person = person;
        best->decision.review.reset();
    }
}

// `preferred` when a mark there takes `t`, else the first frame of its path
// where one does.
template <class Eligible>
std::optional<int64_t> _taken_at(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks,
                                 int64_t preferred, Eligible eligible) {
    if (!eligible(t)) return std::nullopt;
    auto takes = [&](int64_t f) {
        const JudgedTrack* p = _widest_at(tracks, f, eligible);
        return p && p->id == t.id;
    };
    if (takes(preferred)) return preferred;
    for (const auto& [frame, box] : t.path.entries)
        if (takes(frame)) return frame;
    return std::nullopt;
}

}  // namespace

void apply_marks(std::vector<JudgedTrack>& tracks, const json& overrides) {
    _apply(tracks, overrides, "keep", _keepable, Verdict::kept_by_you, "(marked by you)");
}

void apply_hides(std::vector<JudgedTrack>& tracks, const json& overrides) {
    _apply(tracks, overrides, "hide", _hideable, Verdict::hidden_by_you, "(hidden by you)");
}

std::optional<int64_t> keep_frame(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks,
                                  int64_t preferred) {
    return _taken_at(t, tracks, preferred, _keepable);
}

std::optional<int64_t> hide_frame(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks) {
    return _taken_at(t, tracks, t.best_frame, _hideable);
}

}  // namespace qlcore
