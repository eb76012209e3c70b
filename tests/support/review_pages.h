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
// --screenshot=...), its profile under `scratch`; nothing when Chromium is
// not installed.
std::optional<qlcore::RunResult> run_chromium(const fs::path& page, const fs::path& scratch,
                                              const std::vector<std::string>& extra);

}  // namespace qltest
