// How strong each way of hiding is against the detector: faces of several
// widths are hidden with the program's rectangles and styles, then searched
// for again.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "platform/json_text.h"
#include "scenes.h"

namespace qlcore {
class Models;
}

namespace bench {

// Per face width: faces found before hiding; after the mosaic with each
// number of blocks across the face (the program uses 6); after each hiding
// style; and after the other figures the styles were chosen among.
qlcore::json mosaic_strength(const std::vector<Sprite>& sprites, qlcore::Models& models);

// One face `width` pixels wide hidden in every style, side by side.
cv::Mat style_strip(const std::vector<Sprite>& sprites, int sprite, int width);

}  // namespace bench
