// The face search pass over one clip.
#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "app/settings.h"
#include "media/probe.h"
#include "tracking/tracker.h"

namespace qlcore {

class Models;

struct SearchResult {
    std::vector<Track> tracks;
    int64_t n_frames = 0;  // 0 when no frame could be read
    // Frames the decoder delivered, up to the last one searched: unlike
    // n_frames never more than the clip really holds.
    int64_t n_read = 0;
};

// The search size and the factors derived from it.
struct SearchGeometry {
    double sc = 1.0;        // search scale, never above 1
    int dw = 0, dh = 0;     // search size, always even
    double up = 1.0;        // search pixels -> frame pixels
    double verify_w = 0.0;  // smallest face width worth a re-check
};

SearchGeometry search_geometry(FrameSize size, int det_max_side);

// gallery: M x 128 CV_32F; owners: M entries. Uses tuning.det_max_side and
// tuning.det_every.
SearchResult analyse(const std::string& path, const ClipInfo& info, FrameSize size, Models& models,
                     const cv::Mat& gallery, const std::vector<int32_t>& owners,
                     const Tuning& tuning);

}  // namespace qlcore
