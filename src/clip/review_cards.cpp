#include "clip/review_cards.h"

#include <algorithm>
#include <map>

#include "clip/report.h"
#include "encode/render.h"
#include "media/console.h"

namespace qlcore {
namespace {

// The marks' own texts tell a user's verdict from the program's.
constexpr const char* MARKED_BY_YOU = "(marked by you)";

std::optional<CardMarker> _marker(const std::optional<json>& m) {
    if (!m) return std::nullopt;
    return CardMarker{m->value("color", ""), m->value("name", "")};
}

double _best_score(const Track* t) {
    if (!t || t->scores.empty()) return 0.0;
    return *std::max_element(t->scores.begin(), t->scores.end());
}

ReviewCard _card(int id, const BoxPath& path, const Track* track, const ClipInfo& info) {
    ReviewCard c;
    c.id = id;
    c.first = path.start;
    c.last = path.end;
    c.first_tc = timecode_text(info.timecode, info.rate, c.first);
    c.last_tc = timecode_text(info.timecode, info.rate, c.last);
    c.best_score = _best_score(track);
    return c;
}

CardVerdict _verdict(const Decision& d) {
    if (!d.keep) return CardVerdict::mosaicked;
    return d.person == MARKED_BY_YOU ? CardVerdict::marked_by_you : CardVerdict::kept;
}

}  // namespace

ReviewPlan plan_review(const std::vector<Track>& tracks, const std::vector<JudgedTrack>& live,
                       const std::vector<JudgedTrack>& hidden,
                       const std::vector<IgnoredTrack>& ignored, FrameSize size,
                       const ClipInfo& info, const std::vector<Track>& candidates) {
    std::map<int, const Track*> by_id;
    for (const auto* list : {&tracks, &candidates})
        for (const Track& t : *list)
            by_id[t.id] = &t;
    auto track_of = [&](int id) {
        auto it = by_id.find(id);
        return it == by_id.end() ? nullptr : it->second;
    };

    ReviewPlan plan;
    std::vector<ThumbRequest> wanted;
    // Pictured where the detector was surest; the overrides line names that
    // frame too when it works, as the editor has seen the face there.
    auto picture = [&](ReviewCard& c, const Track* t, const BoxPath& path) {
        if (!t) return;
        if (auto r = track_thumbnail(*t, path)) {
            c.picture_frame = r->frame;
            wanted.push_back(*r);
        }
    };
    for (const JudgedTrack& j : live) {
        const Track* t = track_of(j.id);
        ReviewCard c = _card(j.id, j.path, t, info);
        c.verdict = _verdict(j.decision);
        if (c.verdict == CardVerdict::kept) c.person = j.decision.person.value_or("");
        c.median = j.decision.median;
        c.marker = _marker(marker_entry(j));
        picture(c, t, j.path);
        if (c.verdict == CardVerdict::mosaicked)
            c.override_frame = keep_frame(j, live, c.picture_frame);
        plan.cards.push_back(std::move(c));
    }
    for (const JudgedTrack& j : hidden) {
        const Track* t = track_of(j.id);
        ReviewCard c = _card(j.id, j.path, t, info);
        c.verdict = CardVerdict::hidden_by_you;
        c.marker = _marker(marker_entry(j));
        picture(c, t, j.path);
        plan.cards.push_back(std::move(c));
    }
    for (const IgnoredTrack& g : ignored) {
        const Track* t = track_of(g.id);
        ReviewCard c = _card(g.id, g.path, t, info);
        c.verdict = g.reason == IgnoreReason::Flash ? CardVerdict::ignored_flash
                                                    : CardVerdict::ignored_nonface;
        c.marker = _marker(left_visible_marker(g, ignored));
        picture(c, t, g.path);
        c.override_frame = hide_frame(g, ignored);
        plan.cards.push_back(std::move(c));
    }
    std::stable_sort(plan.cards.begin(), plan.cards.end(),
                     [](const ReviewCard& a, const ReviewCard& b) { return a.id < b.id; });

    const FrameSize even = encoded_size(size);
    plan.thumbs = thumbnail_shots(std::move(wanted), even.w, even.h,
                                  yuv_colors(info.color_space, info.color_range, even.h));
    return plan;
}

std::string ReviewPlan::page_html(const ReviewHeader& header) {
    const Thumbnails pictures = thumbs.pictures();
    for (ReviewCard& c : cards) {
        if (auto it = pictures.source.find(c.id); it != pictures.source.end())
            c.source_jpeg = it->second;
        if (auto it = pictures.output.find(c.id); it != pictures.output.end())
            c.output_jpeg = it->second;
    }
    return review_page_html(header, cards);
}

void save_review_page(const std::filesystem::path& out, ReviewPlan* plan,
                      const ReviewHeader& header) {
    if (!plan) {
        remove_review_page(out);
        return;
    }
    try {
        write_review_page(out, plan->page_html(header));
    } catch (const std::exception& e) {
        remove_review_page(out);
        log("  \u26a0 no review page: " + std::string(e.what()));
    }
}

std::string mode_name(const Tuning& tuning) {
    if (tuning.thorough) return "thorough";
    const bool fast =
        tuning.det_every > DEFAULT_DET_EVERY || tuning.det_max_side < DEFAULT_DET_MAX_SIDE;
    return fast ? "fast" : "default";
}

}  // namespace qlcore
