// Reading a review page as the editor's browser would: its cards, its
// embedded pictures, and the page opened in headless Chromium.
#pragma once

#include <filesystem>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/subprocess.h"

namespace qltest {

namespace fs = std::filesystem;

// One card of the page: its track id and its verdict's class.
struct PageCard {
    int id = 0;
    std::string kind;
    std::string html;  // the card's own markup
};
std::vector<PageCard> page_cards(const std::string& page);

// The page's embedded JPEGs, decoded in page order (empty Mats for any that
// do not decode).
std::vector<cv::Mat> page_images(const std::string& page);

// Runs headless Chromium on `page` with `extra` options (--dump-dom,
// --screenshot=...), its profile under `scratch`, each of two tries bounded
// to two minutes; nothing when Chromium is not installed.
std::optional<qlcore::RunResult> run_chromium(const fs::path& page, const fs::path& scratch,
                                              const std::vector<std::string>& extra);

// A screenshot of `page` at `window` ("W,H") decoded, with the run that took
// it; an empty picture when Chromium or the picture failed.
struct PageShot {
    qlcore::RunResult run;
    cv::Mat picture;
};
std::optional<PageShot> page_screenshot(const fs::path& page, const fs::path& scratch,
                                        const std::string& window);

// The summed standard deviation of a picture's channels: far above zero
// for anything but a blank page.
double picture_spread(const cv::Mat& picture);

}  // namespace qltest
