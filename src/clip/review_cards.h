// The review page of one clip from its judged tracks: a card per track of
// the search and the pictures the render is asked to take for them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "clip/marks.h"
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

// Cards for every track of the search: `live` as the marks left them,
// `hidden` the ignored tracks the user hid, `ignored` the others. Each
// track is pictured at its best detection in the frame the render encodes
// (`size` rounded down to even sides); `candidates` are the thorough
// search's weak ones, some of which are among `live`.
ReviewPlan plan_review(const std::vector<Track>& tracks, const std::vector<JudgedTrack>& live,
                       const std::vector<JudgedTrack>& hidden,
                       const std::vector<IgnoredTrack>& ignored, FrameSize size,
                       const ClipInfo& info, const std::vector<Track>& candidates = {});

// Writes the page beside the video `out`; without a plan, removes a page an
// earlier run left there, which would show another video. A page that
// cannot be written is said and removed, not thrown: the video and its
// report are done.
void save_review_page(const std::filesystem::path& out, ReviewPlan* plan,
                      const ReviewHeader& header);

// "fast" for the quicker search's detector settings, else "default".
std::string mode_name(const Tuning& tuning);

}  // namespace qlcore
