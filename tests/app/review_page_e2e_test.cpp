// The review page of a real run: a kept face, a mosaicked face and a
// one-frame false alarm, the page beside the output as the program writes
// it, read back and opened in headless Chromium; and the runs that write
// none.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <regex>

#include "app/run_checks.h"
#include "platform/json_text.h"
#include "support/face_clips.h"
#include "support/review_pages.h"
#include "support/test_install.h"
#include "support/test_support.h"

using qlcore::json;
using namespace qlchecks;

namespace {

// The overrides line a card offers, as JSON; null when it has none.
json card_line(const std::string& card_html) {
    const size_t b = card_html.find("<code>"), e = card_html.find("</code>");
    if (b == std::string::npos || e == std::string::npos) return json();
    return qlcore::parse_json(
        std::regex_replace(card_html.substr(b + 6, e - b - 6), std::regex("&quot;"), "\""));
}

class ReviewPageEndToEnd : public ::testing::Test {
  protected:
    qlcore::RunResult run(const std::vector<std::string>& args) {
        return qltest::run_qlcore(args, {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                                  qltest::test_install_program());
    }
    void SetUp() override {
        // The stand-in recogniser matches the very photo the clip was made from.
        fs::create_directories(home_ / "people" / "Barack");
        fs::copy_file(qltest::shared_photo(qltest::OBAMA_PHOTO),
                      home_ / "people" / "Barack" / "portrait.jpg");
        src_ = qltest::make_two_people_clip(work_ / "two.mov");
    }
    // Adds a one-frame, weak detection at frame 12 to the cached search: a
    // false alarm the verdicts ignore.
    void add_false_alarm() {
        const fs::path cache_path = dir() / "two_mosaic.analysis.json";
        json cache = qlcore::parse_json(read_text(cache_path));
        int id = 0;
        for (const auto& t : cache["tracks"])
            id = std::max(id, t["id"].get<int>() + 1);
        cache["tracks"].push_back({{"id", id},
                                   {"f", {12}},
                                   {"b", {{220, 10, 40, 40}}},
                                   {"s", {0.5}},
                                   {"r", json::array()},
                                   {"c", json::array()}});
        write_text(cache_path, cache.dump());
    }
    // A job folder for the clip, keeping Barack, with these options.
    fs::path make_job(const std::string& options) {
        const fs::path job = work_ / "job";
        fs::create_directories(job);
        write_text(job / "clips.txt", src_.string() + "\n");
        write_text(job / "keep.txt", "Barack\n");
        write_text(job / "options.txt", options);
        return job;
    }
    fs::path dir() const { return work_ / "Quillet"; }
    fs::path page() const { return dir() / "two_mosaic.review.html"; }
    qltest::ScopedTempDir home_, work_;
    fs::path src_;
};

}  // namespace

TEST_F(ReviewPageEndToEnd, OneCardPerTrackWithVerdictsLinesAndPicturesThatABrowserShows) {
    // At this threshold the other face is mosaicked and Barack's is borderline.
    const fs::path job = make_job("codec=h264\nthreshold=0.9\n");
    auto r = run({"process", "--no-review-page", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(page()));
    add_false_alarm();
    fs::remove(dir() / "two_mosaic.mov");

    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_NE(r.out.find("faces tracked: 2  ·  left visible: 1  ·  mosaicked: 1  ·  ignored 1 "
                         "one-frame false alarm(s)"),
              std::string::npos)
        << r.out;
    ASSERT_TRUE(fs::exists(page()));
    EXPECT_TRUE(leftovers(work_.path()).empty());
    const std::string html = read_text(page());
    EXPECT_NE(html.find("not for delivery"), std::string::npos);

    // Live tracks in track order, the false alarm last; the report's ids.
    const json report = qlcore::parse_json(read_text(dir() / "two_mosaic.json"));
    const auto cards = qltest::page_cards(html);
    ASSERT_EQ(cards.size(), 3u) << html.substr(0, 2000);
    ASSERT_EQ(report["tracks"].size(), 2u);
    EXPECT_LT(cards[0].id, cards[1].id);
    std::map<std::string, qltest::PageCard> by_kind;
    for (const auto& c : cards)
        by_kind[c.kind] = c;
    ASSERT_EQ(by_kind.count("kept") + by_kind.count("mosaicked"), 2u);
    EXPECT_EQ(cards[2].kind, "ignored_flash");
    for (const auto& t : report["tracks"])
        EXPECT_EQ(by_kind[t["keep"] == true ? "kept" : "mosaicked"].id, t["track"].get<int>());

    const std::string& kept = by_kind["kept"].html;
    EXPECT_NE(kept.find("kept visible as Barack"), std::string::npos) << kept;
    EXPECT_NE(kept.find("if this is not them, to hide it"), std::string::npos) << kept;
    EXPECT_TRUE(card_line(kept).contains("hide")) << kept;
    EXPECT_NE(kept.find("marker Red: Quillet: check visible face"), std::string::npos) << kept;
    EXPECT_NE(kept.find("frames 0–29 · 01:00:00:00–01:00:01:04"), std::string::npos) << kept;
    EXPECT_NE(cards[2].html.find("ignored as a one-frame false alarm"), std::string::npos);
    EXPECT_NE(cards[2].html.find("frames 10–14"), std::string::npos) << cards[2].html;
    EXPECT_NE(cards[2].html.find("best detector score 0.500"), std::string::npos);
    const json hide_line = card_line(cards[2].html);
    EXPECT_EQ(hide_line.dump(), R"({"hide":[{"frame":12,"box":[220.0,10.0,40.0,40.0]}]})")
        << cards[2].html;
    const json keep_line = card_line(by_kind["mosaicked"].html);
    ASSERT_TRUE(keep_line.contains("keep")) << by_kind["mosaicked"].html;

    // Two pictures a card, none taller than the limit.
    const auto images = qltest::page_images(html);
    ASSERT_EQ(images.size(), 6u);
    for (const auto& img : images) {
        ASSERT_FALSE(img.empty());
        EXPECT_LE(img.rows, 160);
    }

    // In a browser: every card in the DOM, and a picture that is not blank.
    auto dom = qltest::run_chromium(page(), work_.path(), {"--dump-dom"});
    if (!dom) GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it)";
    ASSERT_EQ(dom->status, 0) << dom->err;
    EXPECT_EQ(qltest::page_cards(dom->out).size(), 3u);
    auto shot = qltest::page_screenshot(page(), work_.path(), "1200,900");
    ASSERT_TRUE(shot);
    ASSERT_FALSE(shot->picture.empty()) << shot->run.err;
    EXPECT_GT(qltest::picture_spread(shot->picture), 30.0);

    // The lines copied into the overrides file do what the page says.
    write_text(dir() / "two_mosaic.overrides.json",
               json{{"keep", keep_line["keep"]}, {"hide", hide_line["hide"]}}.dump());
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto after = qltest::page_cards(read_text(page()));
    std::vector<std::string> kinds;
    for (const auto& c : after)
        kinds.push_back(c.kind);
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<std::string>{"hidden_by_you", "kept", "marked_by_you"}));
}

TEST_F(ReviewPageEndToEnd, AJobsResultsDoNotDependOnThePageAndNoPageHoldsUpAClip) {
    const fs::path job = make_job("codec=h264\nreview_page=no\n");
    auto r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(page()));
    const std::string without = read_text(job / "results.tsv");
    ASSERT_NE(without.find("CLIP\t"), std::string::npos) << without;

    // With the page: the same results; the report knows nothing of it.
    const std::string report = read_text(dir() / "two_mosaic.json");
    fs::remove(dir() / "two_mosaic.mov");
    fs::remove(job / "results.tsv");
    write_text(job / "options.txt", "codec=h264\n");
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::exists(page()));
    EXPECT_EQ(read_text(job / "results.tsv"), without);
    EXPECT_EQ(read_text(dir() / "two_mosaic.json"), report);

    // A finished clip whose page is gone is still finished.
    fs::remove(page());
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(page()));

    // Redone without the page: the earlier page, showing another video, goes.
    write_text(page(), "stale");
    write_text(dir() / "two_mosaic.overrides.json", "{\"hide\": [3]}");
    write_text(job / "options.txt", "codec=h264\nreview_page=no\n");
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("already done earlier"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(page()));

    // A page that cannot be written is said; the video and report stand.
    fs::create_directories(page() / "in the way");
    write_text(dir() / "two_mosaic.overrides.json", "{\"hide\": [4]}");
    write_text(job / "options.txt", "codec=h264\n");
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\n  \u26a0 no review page: "), std::string::npos) << r.out;
    EXPECT_EQ(qlcore::parse_json(read_text(dir() / "two_mosaic.json"))["overrides"].dump(),
              "{\"hide\":[4]}");
    EXPECT_TRUE(fs::exists(dir() / "two_mosaic.mov"));
    EXPECT_TRUE(leftovers(work_.path()).empty());
}

TEST_F(ReviewPageEndToEnd, TwoCardsTickedAndSavedHideAndKeepExactlyThoseFaces) {
    const fs::path job = make_job("codec=h264\nthreshold=0.9\n");
    auto r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    add_false_alarm();
    // A mark already in force (at a frame past the clip: it keeps nothing).
    const fs::path ov = dir() / "two_mosaic.overrides.json";
    write_text(ov, R"({"keep": [999]})");
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_NE(r.out.find("left visible: 1  ·  mosaicked: 1  ·  ignored 1"), std::string::npos)
        << r.out;

    // The editor ticks the mosaicked face and the false alarm, and saves.
    const auto cards = qltest::page_cards(read_text(page()));
    std::map<std::string, int> id_of;
    for (const auto& c : cards)
        id_of[c.kind] = c.id;
    ASSERT_EQ(id_of.count("mosaicked") + id_of.count("ignored_flash"), 2u);
    std::string html = read_text(page());
    const std::string clicks =
        "<script>for (const id of [" + std::to_string(id_of["mosaicked"]) + ", " +
        std::to_string(id_of["ignored_flash"]) +
        "]) document.querySelector('#track-' + id + ' input.choice').click();"
        "document.getElementById('save').click();</script>\n</body>";
    html.replace(html.rfind("</body>"), 7, clicks);
    const fs::path ticked = work_ / "ticked.html";
    write_text(ticked, html);
    auto dom = qltest::run_chromium(ticked, work_.path(), {"--dump-dom"});
    if (!dom) GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it)";
    ASSERT_EQ(dom->status, 0) << dom->err;
    const std::smatch link = [&] {
        std::smatch m;
        std::regex_search(dom->out, m,
                          std::regex("<a id=\"saved\" href=\"data:application/json;charset=utf-8,"
                                     "([^\"]*)\" download=\"([^\"]*)\""));
        return m;
    }();
    ASSERT_EQ(link.size(), 3u) << dom->out.substr(0, 3000);
    EXPECT_EQ(link[2].str(), "two_mosaic.overrides.json");
    std::string saved;
    const std::string encoded = link[1].str();
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            saved += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            saved += encoded[i];
        }
    }
    const json marks = qlcore::parse_json(saved);
    ASSERT_EQ(marks["keep"].size(), 2u) << saved;
    EXPECT_EQ(marks["keep"][0], 999) << "the marks in force are kept";
    ASSERT_EQ(marks["hide"].size(), 1u) << saved;

    // Put where the page says: exactly those two faces change.
    write_text(ov, saved);
    r = run({"process", "--job", job.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("left visible: 2  ·  mosaicked: 1\n"), std::string::npos) << r.out;
    std::map<int, std::string> after;
    for (const auto& c : qltest::page_cards(read_text(page())))
        after[c.id] = c.kind;
    EXPECT_EQ(after[id_of["mosaicked"]], "marked_by_you");
    EXPECT_EQ(after[id_of["ignored_flash"]], "hidden_by_you");
    EXPECT_EQ(after[id_of["kept"]], "kept");
    EXPECT_EQ(after.size(), 3u);
}
