// The review page of one clip from its judged tracks: a card per track of
// the search and the pictures the render is asked to take for them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "clip/judgement.h"
#include "clip/review_page.h"
#include "clip/thumbnails.h"
#include "geometry/tuning.h"
#include "media/probe.h"
#include "tracking/tracker.h"

namespace qlcore {

struct ReviewPlan {
    std::vector<ReviewCard> cards;  // track order; pictures filled by page_html
    ThumbnailShots thumbs;          // for the render to fill

    // The page, with the pictures the render took.
    std::string page_html(const ReviewHeader& header);
};

// A card for every track of `judgement`, each pictured at its best
// detection (from `tracks` or `candidates`, the search's) in the frame the
// render encodes (`size` rounded down to even sides).
ReviewPlan plan_review(const Judgement& judgement, const std::vector<Track>& tracks,
                       const std::vector<Track>& candidates, FrameSize size, const ClipInfo& info);

// Writes the page beside the video `out`; without a plan, removes a page an
// earlier run left there, which would show another video. A page that
// cannot be written is said and removed, not thrown: the video and its
// report are done.
void save_review_page(const std::filesystem::path& out, ReviewPlan* plan,
                      const ReviewHeader& header);

// "fast" for the quicker search's detector settings, else "default".
std::string mode_name(const Tuning& tuning);

}  // namespace qlcore
