// How strong the mosaic is against the detector: faces of several widths are
// pixelated with the program's rectangle and several block counts, then
// searched for again.
#pragma once

#include <vector>

#include "platform/json_text.h"
#include "scenes.h"

namespace qlcore {
class Models;
}

namespace bench {

// Per face width: the share of faces found before pixelation, and after it
// with each number of blocks across the face (the program uses 6).
qlcore::json mosaic_strength(const std::vector<Sprite>& sprites, qlcore::Models& models);

}  // namespace bench
