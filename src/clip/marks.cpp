#include "clip/marks.h"

namespace qlcore {
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
            float w = box->w;
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

}  // namespace qlcore
