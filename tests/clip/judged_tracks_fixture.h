// Judged tracks and marks for the report, marks and skip-test cases.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clip/judgement.h"
#include "clip/marks.h"
#include "platform/json_text.h"

namespace cliptest {

using namespace qlcore;

// A path over consecutive frames [start, end] with the given box width.
inline BoxPath path_over(int64_t start, int64_t end, float w = 50.0f) {
    BoxPath p;
    for (int64_t f = start; f <= end; ++f)
        p.entries.push_back({f, BoxF{10.0f, 20.0f, w, w}});
    p.start = start;
    p.end = end;
    return p;
}

// The same at left edge x.
inline BoxPath path_at(int64_t start, int64_t end, float x, float w) {
    BoxPath p = path_over(start, end, w);
    for (auto& [f, b] : p.entries)
        b.x = x;
    return p;
}

inline JudgedTrack mosaicked(int id, BoxPath path) {
    JudgedTrack t;
    t.id = id;
    t.path = std::move(path);
    return t;
}

inline JudgedTrack flagged(int id, BoxPath path, Review review, bool keep) {
    JudgedTrack t = mosaicked(id, std::move(path));
    t.verdict = keep ? Verdict::kept : Verdict::mosaicked;
    t.decision.keep = keep;
    t.decision.person = keep ? std::optional<std::string>("Anna") : std::nullopt;
    t.decision.median = 0.35;
    t.decision.review = review;
    t.decision.n_samples = 9;
    return t;
}

// An ignored track whose best detection is two frames into its path.
inline JudgedTrack ignored_over(int id, BoxPath path, Verdict verdict, int64_t detections) {
    JudgedTrack t = mosaicked(id, std::move(path));
    t.verdict = verdict;
    t.best_frame = t.path.start + 2;
    t.n_detections = detections;
    t.best_score = 0.8;
    return t;
}

inline json keep_marks(std::vector<int64_t> frames) {
    return json{{"keep", frames}};
}

// {"frame": f, "box": [x, y, w, h]}
inline json box_mark(int64_t f, double x, double y, double w, double h) {
    return json{{"frame", f}, {"box", {x, y, w, h}}};
}

}  // namespace cliptest
