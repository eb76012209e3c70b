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

const IgnoredTrack* _hide_pick(const std::vector<IgnoredTrack>& ignored, int64_t frame) {
    return _widest_at(ignored, frame, [](const IgnoredTrack&) { return true; });
}

// A "keep" mark takes only a face not kept already.
bool _mosaicked(const JudgedTrack& t) {
    return !t.decision.keep;
}

// `preferred` when `takes` it, else the first frame of `path` it takes.
template <class Takes>
std::optional<int64_t> _taken_at(const BoxPath& path, int64_t preferred, Takes takes) {
    if (takes(preferred)) return preferred;
    for (const auto& [frame, box] : path.entries)
        if (takes(frame)) return frame;
    return std::nullopt;
}

}  // namespace

void apply_marks(std::vector<JudgedTrack>& live, const json& overrides) {
    auto keep = overrides.find("keep");
    if (keep == overrides.end() || !keep->is_array()) return;
    for (const auto& mark : *keep) {
        if (!mark.is_number_integer()) continue;
        JudgedTrack* best = _widest_at(live, mark.get<int64_t>(), _mosaicked);
        if (!best) continue;
        best->decision.keep = true;
        best->decision.person = "(marked by you)";
        best->decision.review.reset();
    }
}

std::vector<JudgedTrack> apply_hides(std::vector<IgnoredTrack>& ignored, const json& overrides) {
    std::vector<JudgedTrack> hidden;
    auto hide = overrides.find("hide");
    if (hide == overrides.end() || !hide->is_array()) return hidden;
    for (const auto& mark : *hide) {
        if (!mark.is_number_integer()) continue;
        const IgnoredTrack* pick = _hide_pick(ignored, mark.get<int64_t>());
        if (!pick) continue;
        JudgedTrack t{pick->id, pick->path, {}};
        t.decision.person = "(hidden by you)";
        t.decision.n_samples = pick->n_samples;
        hidden.push_back(std::move(t));
        ignored.erase(ignored.begin() + (pick - ignored.data()));
    }
    return hidden;
}

std::optional<int64_t> hide_frame(const IgnoredTrack& t, const std::vector<IgnoredTrack>& ignored) {
    return _taken_at(t.path, t.best_frame, [&](int64_t f) {
        const IgnoredTrack* p = _hide_pick(ignored, f);
        return p && p->id == t.id;
    });
}

std::optional<int64_t> keep_frame(const JudgedTrack& t, const std::vector<JudgedTrack>& live,
                                  int64_t preferred) {
    if (t.decision.keep) return std::nullopt;
    return _taken_at(t.path, preferred, [&](int64_t f) {
        const JudgedTrack* p = _widest_at(live, f, _mosaicked);
        return p && p->id == t.id;
    });
}

}  // namespace qlcore
