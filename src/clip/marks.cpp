#include "clip/marks.h"

#include "platform/numbers.h"

namespace qlcore {
namespace {

// What a key's marks may take, and what they make of it.
struct Rule {
    const char* key;
    bool (*eligible)(const JudgedTrack&);
    Verdict taken;
    const char* person;
    const char* nothing_there;
    // The faces a frame mark takes first, before any other it may take;
    // none when null.
    bool (*preferred)(const JudgedTrack&) = nullptr;
};

// A "keep" mark takes only a face the program mosaicked.
bool _keepable(const JudgedTrack& t) {
    return t.verdict == Verdict::mosaicked || t.verdict == Verdict::weak_candidate;
}

// A "hide" mark takes a face the program let go or kept by recognition.
bool _hideable(const JudgedTrack& t) {
    return is_ignored(t.verdict) || t.verdict == Verdict::kept;
}

// A face the program let go (or a "hide" mark already took): a frame's
// "hide" means it before a face kept by recognition.
bool _let_go(const JudgedTrack& t) {
    return is_ignored(t.verdict) || t.verdict == Verdict::hidden_by_you;
}

const Rule KEEP{"keep", _keepable, Verdict::kept_by_you, "(marked by you)",
                "no mosaicked face is there"};
const Rule HIDE{
    "hide", _hideable, Verdict::hidden_by_you, "(hidden by you)", "no face left visible is there",
    _let_go};

// A face `r`'s marks may take, or one an earlier mark of the same key took.
bool _mine(const Rule& r, const JudgedTrack& t) {
    return r.eligible(t) || t.verdict == r.taken;
}

// The best of `tracks` with a box at `frame` that `pass` lets through, by
// `better(box, best box)`; the larger id on a tie.
template <class Tracks, class Pass, class Score>
auto _best_at(Tracks& tracks, int64_t frame, Pass pass, Score score) -> decltype(&tracks[0]) {
    decltype(&tracks[0]) best = nullptr;
    double best_score = 0.0;
    for (auto& t : tracks) {
        if (!pass(t)) continue;
        auto box = t.path.at(frame);
        if (!box) continue;
        const double s = score(*box);
        if (s < 0.0) continue;
        if (!best || s > best_score || (s == best_score && t.id > best->id)) {
            best = &t;
            best_score = s;
        }
    }
    return best;
}

template <class Tracks, class Pass>
auto _widest_at(Tracks& tracks, int64_t frame, Pass pass) {
    return _best_at(tracks, frame, pass, [](const BoxF& b) { return static_cast<double>(b.w); });
}

template <class Tracks, class Pass>
auto _overlapping(Tracks& tracks, int64_t frame, const Box& box, Pass pass) {
    return _best_at(tracks, frame, pass, [&](const BoxF& b) {
        const double o = iou(box, to_box(b));
        return o >= MARK_OVERLAP ? o : -1.0;
    });
}

std::optional<MarkLine> _box_mark(const json& mark) {
    if (!mark.is_object()) return std::nullopt;
    auto f = mark.find("frame");
    auto b = mark.find("box");
    if (f == mark.end() || b == mark.end() || !f->is_number_integer() || !b->is_array() ||
        b->size() != 4)
        return std::nullopt;
    for (const auto& v : *b)
        if (!v.is_number()) return std::nullopt;
    return MarkLine{f->get<int64_t>(),
                    {(*b)[0].get<double>(), (*b)[1].get<double>(), (*b)[2].get<double>(),
                     (*b)[3].get<double>()}};
}

// The face a frame mark (`box` empty) or a box mark means under `r`: one it
// may take, or one an earlier mark of the same key took; nothing when no
// such face is there.
template <class Tracks>
auto _target(Tracks& tracks, int64_t frame, const std::optional<MarkLine>& box, const Rule& r)
    -> decltype(&tracks[0]) {
    auto mine = [&](const JudgedTrack& t) { return _mine(r, t); };
    if (box) return _overlapping(tracks, box->frame, box->box, mine);
    if (r.preferred)
        if (auto t = _widest_at(tracks, frame, r.preferred)) return t;
    return _widest_at(tracks, frame, mine);
}

std::vector<MarkProblem> _apply(std::vector<JudgedTrack>& tracks, const json& overrides,
                                const Rule& r) {
    std::vector<MarkProblem> problems;
    auto marks = overrides.find(r.key);
    if (marks == overrides.end() || !marks->is_array()) return problems;
    for (const auto& mark : *marks) {
        const bool by_frame = mark.is_number_integer();
        const std::optional<MarkLine> box = by_frame ? std::nullopt : _box_mark(mark);
        if (!by_frame && !box) continue;
        JudgedTrack* t = _target(tracks, by_frame ? mark.get<int64_t>() : 0, box, r);
        if (!t || t->verdict == r.taken) {
            problems.push_back(
                {r.key, mark, t ? "an earlier mark took the face there" : r.nothing_there});
            continue;
        }
        t->verdict = r.taken;
        t->decision.keep = r.taken == Verdict::kept_by_you;
        t->decision.person = r.person;
        t->decision.review.reset();
    }
    return problems;
}

// The box as a line gives it: to 0.1 pixel.
MarkLine _line(int64_t frame, const BoxF& b) {
    return {
        frame,
        {round_places(b.x, 1), round_places(b.y, 1), round_places(b.w, 1), round_places(b.h, 1)}};
}

// A box mark at `preferred` when it takes `t`, else at the first frame of
// its path where one does.
std::optional<MarkLine> _line_for(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks,
                                  int64_t preferred, const Rule& r) {
    if (!r.eligible(t)) return std::nullopt;
    auto mine = [&](const JudgedTrack& o) { return _mine(r, o); };
    auto takes = [&](int64_t f) -> std::optional<MarkLine> {
        auto b = t.path.at(f);
        if (!b) return std::nullopt;
        MarkLine m = _line(f, *b);
        const JudgedTrack* p = _overlapping(tracks, f, m.box, mine);
        if (p && p->id == t.id) return m;
        return std::nullopt;
    };
    if (auto m = takes(preferred)) return m;
    for (const auto& [frame, box] : t.path.entries)
        if (auto m = takes(frame)) return m;
    return std::nullopt;
}

}  // namespace

std::vector<MarkProblem> apply_marks(std::vector<JudgedTrack>& tracks, const json& overrides) {
    return _apply(tracks, overrides, KEEP);
}

std::vector<MarkProblem> apply_hides(std::vector<JudgedTrack>& tracks, const json& overrides) {
    return _apply(tracks, overrides, HIDE);
}

std::optional<MarkLine> keep_mark(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks,
                                  int64_t preferred) {
    return _line_for(t, tracks, preferred, KEEP);
}

std::optional<MarkLine> hide_mark(const JudgedTrack& t, const std::vector<JudgedTrack>& tracks) {
    return _line_for(t, tracks, t.best_frame, HIDE);
}

std::string mark_text(const MarkLine& m) {
    return "{\"frame\": " + std::to_string(m.frame) + ", \"box\": [" + shortest(m.box.x) + ", " +
           shortest(m.box.y) + ", " + shortest(m.box.w) + ", " + shortest(m.box.h) + "]}";
}

std::string mark_text(const json& mark) {
    if (mark.is_number_integer()) return std::to_string(mark.get<int64_t>());
    if (auto m = _box_mark(mark)) return mark_text(*m);
    return dump_compact(mark);
}

std::string overrides_line_text(const char* key, const MarkLine& m) {
    return std::string("{\"") + key + "\": [" + mark_text(m) + "]}";
}

}  // namespace qlcore
