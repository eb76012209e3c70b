#include "clip/review_cards.h"

#include <map>

#include "clip/marks.h"
#include "encode/render.h"
#include "media/console.h"

namespace qlcore {
namespace {

CardVerdict _card_verdict(Verdict v) {
    switch (v) {
        case Verdict::kept:
            return CardVerdict::kept;
        case Verdict::kept_by_you:
            return CardVerdict::marked_by_you;
        case Verdict::hidden_by_you:
            return CardVerdict::hidden_by_you;
        case Verdict::ignored_flash:
            return CardVerdict::ignored_flash;
        case Verdict::ignored_nonface:
            return CardVerdict::ignored_nonface;
        case Verdict::weak_thin:
            return CardVerdict::ignored_weak;
        case Verdict::mosaicked:
        case Verdict::weak_candidate:
            break;
    }
    return CardVerdict::mosaicked;
}

}  // namespace

ReviewPlan plan_review(const Judgement& judgement, const std::vector<Track>& tracks,
                       const std::vector<Track>& candidates, FrameSize size, const ClipInfo& info) {
    std::map<int, const Track*> by_id;
    for (const auto* list : {&tracks, &candidates})
        for (const Track& t : *list)
            by_id[t.id] = &t;

    ReviewPlan plan;
    std::vector<ThumbRequest> wanted;
    for (const JudgedTrack& j : judgement.tracks) {
        ReviewCard c;
        c.id = j.id;
        c.verdict = _card_verdict(j.verdict);
        if (c.verdict == CardVerdict::kept) c.person = j.decision.person.value_or("");
        c.first = j.path.start;
        c.last = j.path.end;
        c.first_tc = timecode_text(info.timecode, info.rate, c.first);
        c.last_tc = timecode_text(info.timecode, info.rate, c.last);
        c.best_score = j.best_score;
        c.median = j.decision.median;
        if (j.marker) c.marker = CardMarker{j.marker->color, j.marker->name};
        c.failed_check = j.failed_check;
        if (j.override_mark) c.override_mark = mark_text(*j.override_mark);
        // Pictured where the detector was surest, the frame the overrides
        // line prefers, as the editor has seen the face there.
        // A weak candidate's runs are pictured in their own detections.
        std::optional<ThumbRequest> r;
        if (j.verdict == Verdict::weak_candidate || j.verdict == Verdict::weak_thin) {
            if (auto box = j.path.at(j.best_frame)) r = ThumbRequest{j.id, j.best_frame, *box};
        } else if (auto it = by_id.find(j.id); it != by_id.end()) {
            r = track_thumbnail(*it->second, j.path);
        }
        if (r) {
            c.picture_frame = r->frame;
            wanted.push_back(*r);
        }
        plan.cards.push_back(std::move(c));
    }

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
