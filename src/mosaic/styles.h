// The ways a face can be hidden on a planar YUV frame: the mosaic, a coarser
// mosaic over the whole head, a blur, or a flat fill.
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mosaic/mosaic.h"

namespace qlcore {

enum class HideStyle { mosaic, coarse, blur, solid };

// "mosaic", "coarse", "blur", "solid"; nothing for any other text.
std::optional<HideStyle> parse_hide_style(std::string_view name);
std::string hide_style_name(HideStyle style);
// Every style's name in the order above, for usage messages.
std::vector<std::string> hide_style_names();

// The figures of the three head-covering styles. The defaults are what the
// program uses; the benchmark harness passes others to compare them.
struct StyleFigures {
    // The head rectangle, as multiples of the box's size, its centre raised
    // by `shift_up` box heights.
    double scale_w = 1.6, scale_h = 1.9, shift_up = 0.2;
    // coarse: blocks across the face width, rounded up to even pixels and
    // never under 6.
    double coarse_across = 3;
    // blur: Gaussian sigma as a share of the face width; the feather in luma
    // pixels (half that on the chroma planes).
    double blur_sigma = 0.5;
    int feather = 4;
};

// The head rectangle of a box: [x0, x1) x [y0, y1), even and inside the
// frame, with the coarse style's block size.
MosaicRect cover_rect(const BoxF& box, int W, int H, const StyleFigures& f = {});

// Hides one box in a planar YUV 4:2:0 frame in place (8- or 16-bit samples,
// chroma planes at half size rounded up). `mosaic` is exactly mosaic_yuv.
void hide_yuv(cv::Mat& y, cv::Mat& u, cv::Mat& v, const BoxF& box, int W, int H, HideStyle style,
              const StyleFigures& f = {});

}  // namespace qlcore
