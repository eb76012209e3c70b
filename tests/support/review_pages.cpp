#include "support/review_pages.h"

#include <cstring>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <regex>

#include "platform/files.h"

namespace qltest {
namespace {

std::string _unbase64(const std::string& s) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    int bits = 0, acc = 0;
    for (char c : s) {
        const char* p = c ? std::strchr(digits, c) : nullptr;
        if (!p) break;
        acc = ((acc << 6) | int(p - digits)) & 0xffffff;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((acc >> bits) & 0xff);
        }
    }
    return out;
}

}  // namespace

std::vector<PageCard> page_cards(const std::string& page) {
    std::vector<PageCard> cards;
    // Found by hand: libstdc++'s regular expressions recurse once per
    // character, too deep for a card's pictures.
    static const std::regex head("<article class=\"card ([a-z_]+)\" id=\"track-([0-9]+)\">");
    const std::string open = "<article class=\"card ", close = "</article>";
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        const size_t end = page.find(close, at);
        const size_t head_end = page.find('>', at);
        if (end == std::string::npos || head_end == std::string::npos) break;
        std::smatch m;
        const std::string tag = page.substr(at, head_end + 1 - at);
        if (!std::regex_match(tag, m, head)) continue;
        cards.push_back(
            {std::stoi(m[2].str()), m[1].str(), page.substr(head_end + 1, end - head_end - 1)});
    }
    return cards;
}

std::vector<cv::Mat> page_images(const std::string& page) {
    std::vector<cv::Mat> out;
    const std::string open = "src=\"data:image/jpeg;base64,";
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        const size_t from = at + open.size(), end = page.find('"', from);
        if (end == std::string::npos) break;
        const std::string bytes = _unbase64(page.substr(from, end - from));
        out.push_back(
            cv::imdecode(std::vector<uchar>(bytes.begin(), bytes.end()), cv::IMREAD_COLOR));
    }
    return out;
}

std::optional<qlcore::RunResult> run_chromium(const fs::path& page, const fs::path& scratch,
                                              const std::vector<std::string>& extra) {
    auto chromium = qlcore::find_on_path("chromium");
    if (!chromium) return std::nullopt;
    // Chromium starved of the processor can hang instead of failing; coreutils'
    // timeout ends it with every helper process it started (their process
    // group), and one more try tells a starved run from a broken page.
    const auto timeout = qlcore::find_on_path("timeout");
    qlcore::RunResult run;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A fresh profile each time: nothing from an earlier run, nothing shared.
        fs::path profile;
        for (int i = 0; fs::exists(profile = scratch / ("chromium-profile-" + std::to_string(i)));
             ++i) {
        }
        fs::create_directories(profile / "Default");
        // The page's save button downloads: into the scratch folder, not the
        // home folder's Downloads.
        std::ofstream(profile / "Default" / "Preferences")
            << R"({"download": {"default_directory": ")" << (profile / "downloads").string()
            << R"(", "prompt_for_download": false}})";
        std::vector<std::string> argv;
        if (timeout) argv = {timeout->string(), "--kill-after=10", "120"};
        argv.insert(
            argv.end(),
            {chromium->string(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile.string()});
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back("file://" + fs::absolute(page).string());
        run = qlcore::run_capture(argv);
        if (!timeout || run.status != 124) break;
        run.err = "chromium did not finish within 120 s\n" + run.err;
    }
    return run;
}

std::optional<PageShot> page_screenshot(const fs::path& page, const fs::path& scratch,
                                        const std::string& window) {
    const fs::path png = scratch / "page.png";
    auto run =
        run_chromium(page, scratch, {"--screenshot=" + png.string(), "--window-size=" + window});
    if (!run) return std::nullopt;
    PageShot shot{*run, run->status == 0 ? cv::imread(png.string()) : cv::Mat()};
    return shot;
}

double picture_spread(const cv::Mat& picture) {
    cv::Scalar mean, dev;
    cv::meanStdDev(picture, mean, dev);
    return dev[0] + dev[1] + dev[2];
}

}  // namespace qltest
