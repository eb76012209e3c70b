#include "clip/review_page.h"

#include <gtest/gtest.h>

#include <iostream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>

#include "clip/thumbnails.h"
#include "platform/files.h"
#include "platform/subprocess.h"
#include "support/review_pages.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

// A planar 4:2:0 frame made from a BGR picture (BT.601, limited range, as
// OpenCV converts), with views like the render's reader hands out.
struct Frame {
    cv::Mat buffer, y, u, v;
    int w = 0, h = 0;
};

Frame _frame_of(const cv::Mat& bgr) {
    Frame f;
    f.w = bgr.cols & ~1;
    f.h = bgr.rows & ~1;
    cv::cvtColor(bgr(cv::Rect(0, 0, f.w, f.h)), f.buffer, cv::COLOR_BGR2YUV_I420);
    f.buffer = f.buffer.reshape(1, 1);
    const int ysz = f.w * f.h, csz = ysz / 4;
    f.y = f.buffer.colRange(0, ysz).reshape(1, f.h);
    f.u = f.buffer.colRange(ysz, ysz + csz).reshape(1, f.h / 2);
    f.v = f.buffer.colRange(ysz + csz, ysz + 2 * csz).reshape(1, f.h / 2);
    return f;
}

cv::Mat _photo(const std::string& name) {
    cv::Mat m = cv::imread(qltest::shared_photo(name).string());
    EXPECT_FALSE(m.empty()) << name;
    return m;
}

// Source and output pictures of one face: the output is pixelated like the
// render does it.
void _pictures(const std::string& photo, const BoxF& box, bool hide, ReviewCard& card) {
    Frame f = _frame_of(_photo(photo));
    const YuvColors colors = yuv_colors(std::nullopt, std::nullopt, f.h);
    const MosaicRect r = mosaic_rect(box, f.w, f.h);
    card.source_jpeg = crop_jpeg(f.y, f.u, f.v, r, colors);
    if (hide) mosaic_yuv(f.y, f.u, f.v, box, f.w, f.h);
    card.output_jpeg = crop_jpeg(f.y, f.u, f.v, r, colors);
}

ReviewCard _card(int id, CardVerdict verdict, int64_t first, int64_t last) {
    ReviewCard c;
    c.id = id;
    c.verdict = verdict;
    c.first = first;
    c.last = last;
    c.first_tc = timecode_text("01:00:00:00", "25", first);
    c.last_tc = timecode_text("01:00:00:00", "25", last);
    c.picture_frame = (first + last) / 2;
    c.best_score = 0.91;
    c.override_mark =
        "{\"frame\": " + std::to_string(c.picture_frame) + ", \"box\": [1.5, 2.0, 30.0, 30.0]}";
    return c;
}

// Kept, ignored flash, mosaicked (flagged), marked by the user, ignored
// non-face, hidden by the user: in track order, with real face pictures.
std::vector<ReviewCard> _sample_cards() {
    const BoxF obama{590, 50, 160, 200}, left{218, 28, 162, 200}, right{767, 18, 155, 200};
    std::vector<ReviewCard> cards;
    ReviewCard kept = _card(1, CardVerdict::kept, 0, 240);
    kept.person = "Barack";
    kept.median = 0.512;
    _pictures("obama-720p.jpg", obama, false, kept);
    cards.push_back(kept);

    ReviewCard flash = _card(2, CardVerdict::ignored_flash, 57, 57);
    flash.best_score = 0.41;
    _pictures("two_people.jpg", BoxF{420, 40, 70, 70}, false, flash);
    cards.push_back(flash);

    ReviewCard mosaicked = _card(3, CardVerdict::mosaicked, 10, 300);
    mosaicked.median = 0.318;
    mosaicked.marker = CardMarker{"Yellow", "Quillet: possibly over-mosaicked"};
    _pictures("two_people.jpg", right, true, mosaicked);
    cards.push_back(mosaicked);

    ReviewCard marked = _card(4, CardVerdict::marked_by_you, 120, 200);
    _pictures("two_people.jpg", left, false, marked);
    cards.push_back(marked);

    ReviewCard look = _card(5, CardVerdict::ignored_nonface, 300, 302);
    look.best_score = 0.66;
    _pictures("obama-720p.jpg", BoxF{600, 560, 100, 90}, false, look);
    cards.push_back(look);

    ReviewCard hidden = _card(6, CardVerdict::hidden_by_you, 310, 330);
    _pictures("obama-720p.jpg", obama, true, hidden);
    cards.push_back(hidden);
    return cards;
}

ReviewHeader _header() {
    ReviewHeader h;
    h.source = "/media/card/A001.mov";
    h.output = "/media/card/Quillet/A001_mosaic.mov";
    h.date = "2026-12-09 00:40";
    h.kept_people = {"Barack"};
    h.mode = "default";
    h.style = "mosaic";
    h.kept = 2;
    h.mosaicked = 2;
    h.n_flash = 1;
    h.n_look = 1;
    return h;
}

// Track ids of the cards, in page order.
std::vector<int> _card_ids(const std::string& page) {
    std::vector<int> ids;
    static const std::regex card("<article class=\"card [a-z_]+\" id=\"track-([0-9]+)\"");
    for (std::sregex_iterator it(page.begin(), page.end(), card), end; it != end; ++it)
        ids.push_back(std::stoi((*it)[1].str()));
    return ids;
}

size_t _count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t i = s.find(what); i != std::string::npos; i = s.find(what, i + 1))
        ++n;
    return n;
}

}  // namespace

TEST(ReviewPage, CardsInTrackOrderIgnoredLastWithTheirOverridesLines) {
    const auto cards = _sample_cards();
    const std::string page = review_page_html(_header(), cards);
    EXPECT_EQ(_card_ids(page), (std::vector<int>{1, 3, 4, 6, 2, 5}));
    // Ignored and kept: hide; mosaicked: keep; marked and hidden: nothing to copy.
    const std::string box = ", \"box\": [1.5, 2.0, 30.0, 30.0]}]}";
    EXPECT_EQ(overrides_line(cards[0]), "{\"hide\": [{\"frame\": 120" + box);
    EXPECT_EQ(overrides_line(cards[1]), "{\"hide\": [{\"frame\": 57" + box);
    EXPECT_EQ(overrides_line(cards[2]), "{\"keep\": [{\"frame\": 155" + box);
    EXPECT_EQ(overrides_line(cards[4]), "{\"hide\": [{\"frame\": 301" + box);
    for (int i : {3, 5})
        EXPECT_EQ(overrides_line(cards[i]), "") << i;
    EXPECT_EQ(_count(page, "<code>"), 4u);
    EXPECT_NE(page.find("<code>{&quot;keep&quot;: [{&quot;frame&quot;: 155, &quot;box&quot;: "
                        "[1.5, 2.0, 30.0, 30.0]}]}</code>"),
              std::string::npos);
    EXPECT_NE(page.find("if this is not them, to hide it"), std::string::npos);
    EXPECT_NE(page.find("kept visible as Barack"), std::string::npos);
    EXPECT_NE(page.find("ignored as a one-frame false alarm"), std::string::npos);
    EXPECT_NE(page.find("ignored as a non-face"), std::string::npos);
    EXPECT_NE(page.find("01:00:00:10–01:00:12:00"), std::string::npos);
    EXPECT_NE(page.find("not for delivery"), std::string::npos);
    EXPECT_NE(page.find("Ignored (2)"), std::string::npos);
    // A mosaicked card without a mark to name has no line.
    ReviewCard c = cards[2];
    c.override_mark.clear();
    EXPECT_EQ(overrides_line(c), "");
    const std::string no_line = review_page_html(_header(), {c, cards[0]});
    EXPECT_EQ(_count(no_line, "<code>"), 1u) << "the kept card's";
    EXPECT_EQ(_count(no_line, "no line of its own picks it"), 1u);

    // Without ignored tracks the section goes, and no template text is left.
    const std::string live = review_page_html(_header(), {cards[0], cards[2]});
    EXPECT_EQ(_card_ids(live), (std::vector<int>{1, 3}));
    EXPECT_EQ(live.find("Ignored ("), std::string::npos);
    EXPECT_EQ(live.find("{{"), std::string::npos);
    EXPECT_EQ(live.find("<!--"), std::string::npos);
}

TEST(ReviewPage, AMosaicOnFailedChecksSaysWhyUntilTheUserKeepsIt) {
    ReviewCard c = _card(8, CardVerdict::mosaicked, 5, 65);
    c.marker = CardMarker{"Cyan", "Quillet: mosaicked, may not be a face"};
    c.failed_check = 0.0;
    const std::string why = "every re-check said it is no face (best re-check 0.000)";
    EXPECT_EQ(_count(review_page_html(_header(), {c}), why), 1u);
    c.verdict = CardVerdict::marked_by_you;
    c.marker.reset();
    EXPECT_EQ(_count(review_page_html(_header(), {c}), why), 0u);
}

TEST(ReviewPage, EscapesUserTextAndLoadsNothingFromOutside) {
    ReviewHeader h = _header();
    h.source = "/tmp/<b>&\"x\"/a'b.mov";
    h.output = "/tmp/<script>alert(1)</script>/A001_mosaic.mov";
    h.kept_people = {"<script>alert(\"x\")</script> & 'co'"};
    h.style = "{{live_cards}}";  // a placeholder in user text stays text
    ReviewCard c = _card(7, CardVerdict::kept, 0, 10);
    c.person = h.kept_people[0];
    c.marker = CardMarker{"Red\" onmouseover=\"x", "<img src=x onerror=alert(1)>"};
    h.in_force = R"({"keep":["</script><script>alert(1)</script>"]})";
    const std::string page = review_page_html(h, {c});
    // The page's own two (the marks in force and the save button's), no more.
    EXPECT_EQ(_count(page, "<script"), 2u);
    EXPECT_EQ(_count(page, "</script>"), 2u);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("onmouseover=\""), std::string::npos);
    EXPECT_EQ(page.find("<img src=x"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;co&#39;"),
              std::string::npos);
    EXPECT_NE(page.find("/tmp/&lt;b&gt;&amp;&quot;x&quot;/a&#39;b.mov"), std::string::npos);
    EXPECT_NE(page.find("<dd>{{live_cards}}</dd>"), std::string::npos);
    EXPECT_EQ(_card_ids(page), std::vector<int>{7});
    // Nothing to fetch: no web address, every picture and script inline.
    EXPECT_EQ(page.find("http://"), std::string::npos);
    EXPECT_EQ(page.find("https://"), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    EXPECT_EQ(_count(page, "src=\""), _count(page, "src=\"data:image/jpeg;base64,"));
}

TEST(ReviewPage, PicturesDecodeAndStayWithinTheHeight) {
    const auto cards = _sample_cards();
    const std::string page = review_page_html(_header(), cards);
    const auto images = qltest::page_images(page);
    ASSERT_EQ(images.size(), 2 * cards.size());
    for (const auto& img : images) {
        ASSERT_FALSE(img.empty());
        EXPECT_LE(img.rows, THUMB_MAX_HEIGHT);
        EXPECT_GT(img.cols, 0);
    }
    // A face bigger than the limit is shrunk to it, keeping its shape.
    const MosaicRect r = mosaic_rect(BoxF{590, 50, 160, 200}, 1280, 720);
    ASSERT_GT(r.y1 - r.y0, THUMB_MAX_HEIGHT);
    EXPECT_EQ(images[0].rows, THUMB_MAX_HEIGHT);
    EXPECT_NEAR(images[0].cols, double(r.x1 - r.x0) * THUMB_MAX_HEIGHT / (r.y1 - r.y0), 1.0);
}

TEST(ReviewPage, TwoHundredCardsStayUnderAFewMegabytes) {
    Frame f = _frame_of(_photo("obama-720p.jpg"));
    const YuvColors colors = yuv_colors(std::nullopt, std::nullopt, f.h);
    std::vector<ReviewCard> cards;
    for (int i = 0; i < 200; ++i) {
        ReviewCard c = _card(i, i % 3 ? CardVerdict::mosaicked : CardVerdict::kept, i, i + 50);
        // Faces a little bigger than the limit, at several places.
        const BoxF box{float(100 + 4 * i), float(20 + (i % 7) * 10), 170, 220};
        const MosaicRect r = mosaic_rect(box, f.w, f.h);
        c.source_jpeg = crop_jpeg(f.y, f.u, f.v, r, colors);
        c.output_jpeg = c.source_jpeg;
        cards.push_back(std::move(c));
    }
    const std::string page = review_page_html(_header(), cards);
    EXPECT_LT(page.size(), 5u * 1024 * 1024);
    std::cout << "200 cards: " << page.size() / 1024 << " KiB\n";
}

TEST(ReviewPage, WrittenBesideTheOutputAtomically) {
    ScopedTempDir dir;
    const auto out = dir / "A001_mosaic.mov";
    EXPECT_EQ(review_page_path(out), dir / "A001_mosaic.review.html");
    write_review_page(out, "old");
    write_review_page(out, "<!DOCTYPE html>");
    EXPECT_EQ(read_file(dir / "A001_mosaic.review.html"), "<!DOCTYPE html>");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_THROW(write_review_page(dir / "missing" / "A_mosaic.mov", "x"), std::runtime_error);
}

TEST(Timecode, CountsFromTheClipsStart) {
    EXPECT_EQ(timecode_text("01:00:00:00", "25/1", 30), "01:00:01:05");
    EXPECT_EQ(timecode_text("01:00:00:00", "25", 0), "01:00:00:00");
    EXPECT_EQ(timecode_text("23:59:59:24", "25", 1), "00:00:00:00");  // past midnight
    // 29.97 without drop frame counts 30 labels a second.
    EXPECT_EQ(timecode_text("00:00:59:29", "30000/1001", 1), "00:01:00:00");
    // Nothing to tell without a timecode or a rate, or with a broken one.
    EXPECT_EQ(timecode_text(std::nullopt, "25", 3), "");
    EXPECT_EQ(timecode_text("01:00:00:00", std::nullopt, 3), "");
    EXPECT_EQ(timecode_text("01:00:00:25", "25", 0), "");
    EXPECT_EQ(timecode_text("01:00:00:00:00", "25", 0), "");
    EXPECT_EQ(timecode_text("24:00:00:00", "25", 0), "");
}

TEST(Timecode, DropFrameSkipsTheSameLabelsAsTheEditor) {
    EXPECT_EQ(timecode_text("00:00:59;29", "30000/1001", 1), "00:01:00;02");
    EXPECT_EQ(timecode_text("00:09:59;29", "30000/1001", 1), "00:10:00;00");
    EXPECT_EQ(timecode_text("00:00:00;00", "30000/1001", 107892), "01:00:00;00");
    EXPECT_EQ(timecode_text("00:01:00;02", "30000/1001", 1798), "00:02:00;02");
    EXPECT_EQ(timecode_text("00:00:59;59", "60000/1001", 1), "00:01:00;04");
    // 25 fps has no drop-frame form.
    EXPECT_EQ(timecode_text("00:00:59;24", "25", 1), "00:01:00:00");
}

TEST(Thumbnails, ConvertOnlyTheCropWithItsColours) {
    // A red square on grey in a frame with odd sides, 8- and 16-bit.
    const int W = 641, H = 361;
    for (int depth : {CV_8U, CV_16U}) {
        const double s = depth == CV_16U ? 4.0 : 1.0;
        cv::Mat y(H, W, depth, cv::Scalar(126 * s)), u(181, 321, depth, cv::Scalar(128 * s)),
            v(181, 321, depth, cv::Scalar(128 * s));
        y(cv::Rect(500, 260, 141, 101)).setTo(81 * s);
        u(cv::Rect(250, 130, 71, 51)).setTo(90 * s);
        v(cv::Rect(250, 130, 71, 51)).setTo(240 * s);
        const YuvColors bt601 = yuv_colors("smpte170m", "tv", H);
        // Right at the bottom-right edge: the rectangle is cut by the frame.
        const MosaicRect r = mosaic_rect(BoxF{560, 290, 100, 100}, W, H);
        const std::string jpeg = crop_jpeg(y, u, v, r, bt601);
        cv::Mat img = cv::imdecode(std::vector<uchar>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
        ASSERT_FALSE(img.empty());
        EXPECT_EQ(img.rows, r.y1 - r.y0);  // small enough to keep its size
        EXPECT_EQ(img.cols, r.x1 - r.x0);
        const cv::Vec3b red = img.at<cv::Vec3b>(img.rows - 5, img.cols - 5);
        EXPECT_LT(red[0], 30) << depth;
        EXPECT_LT(red[1], 30) << depth;
        EXPECT_GT(red[2], 225) << depth;
    }
    // Nothing to picture: an empty rectangle.
    cv::Mat y(10, 10, CV_8U), u(5, 5, CV_8U), v(5, 5, CV_8U);
    EXPECT_EQ(crop_jpeg(y, u, v, MosaicRect{4, 4, 4, 8, 4}, YuvColors{}), "");
}

TEST(Thumbnails, ShotsComeInFrameOrderAndGoBackToTheirTracks) {
    Frame f = _frame_of(_photo("obama-720p.jpg"));
    const BoxF face{590, 50, 160, 200}, wall{100, 100, 50, 50};
    ThumbnailShots s = thumbnail_shots({{3, 9, face}, {5, 7, wall}, {4, 7, face}}, f.w, f.h,
                                       yuv_colors("bt709", std::nullopt, f.h));
    ASSERT_EQ(s.shots.requests.size(), 3u);
    EXPECT_EQ(s.tracks, (std::vector<int>{5, 4, 3}));
    EXPECT_EQ(s.shots.requests[0].frame, 7);
    EXPECT_EQ(s.shots.requests[2].frame, 9);
    EXPECT_EQ(s.shots.requests[1].rect, mosaic_rect(face, f.w, f.h));
    // As the render takes them: before the face is hidden, then after; the
    // request at frame 9 is never reached.
    s.shots.before.assign(3, "");
    s.shots.after.assign(3, "");
    for (size_t i : {0, 1})
        s.shots.before[i] = s.shots.take(f.y, f.u, f.v, s.shots.requests[i].rect);
    mosaic_yuv(f.y, f.u, f.v, face, f.w, f.h);
    for (size_t i : {0, 1})
        s.shots.after[i] = s.shots.take(f.y, f.u, f.v, s.shots.requests[i].rect);

    const Thumbnails t = s.pictures();
    ASSERT_EQ(t.source.size(), 2u);
    ASSERT_EQ(t.output.size(), 2u);
    EXPECT_EQ(t.source.count(3), 0u);
    EXPECT_EQ(t.source.at(5), t.output.at(5));  // not hidden
    auto decode = [](const std::string& b) {
        return cv::imdecode(std::vector<uchar>(b.begin(), b.end()), cv::IMREAD_GRAYSCALE);
    };
    cv::Mat before = decode(t.source.at(4)), after = decode(t.output.at(4));
    ASSERT_EQ(before.size(), after.size());
    // Pixelation removes the detail: far less edge energy afterwards.
    cv::Mat eb, ea;
    cv::Laplacian(before, eb, CV_32F);
    cv::Laplacian(after, ea, CV_32F);
    EXPECT_LT(cv::norm(ea), 0.6 * cv::norm(eb));
}

TEST(Thumbnails, PictureTheBestScoringDetectionWithItsPathBox) {
    Track t(9);
    t.add(3, Box{10, 10, 40, 40}, 0.7);
    t.add(4, Box{12, 10, 40, 40}, 0.95);
    t.add(5, Box{14, 10, 40, 40}, 0.95);  // a tie: the earlier frame wins
    t.add(6, Box{16, 10, 40, 40}, 0.8);
    BoxPath path;
    path.entries = {{3, BoxF{1, 1, 50, 50}}, {4, BoxF{2, 2, 52, 52}}, {5, BoxF{3, 3, 54, 54}}};
    path.start = 3;
    path.end = 5;
    auto r = track_thumbnail(t, path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->track, 9);
    EXPECT_EQ(r->frame, 4);
    EXPECT_EQ(r->box, (BoxF{2, 2, 52, 52}));
    // Without a path there, the detection box frames it.
    EXPECT_EQ(track_thumbnail(t, BoxPath{})->box, (BoxF{12, 10, 40, 40}));
    EXPECT_EQ(track_thumbnail(Track(3), path), std::nullopt);
}

// The page in a real browser: every card is in the DOM and the picture is
// not blank. QLCORE_REVIEW_SCREENSHOT names a file to keep the screenshot in.
TEST(ReviewPage, RendersInHeadlessChromium) {
    ScopedTempDir dir;
    const auto cards = _sample_cards();
    const auto out = dir / "A001_mosaic.mov";
    write_review_page(out, review_page_html(_header(), cards));
    auto dom = qltest::run_chromium(review_page_path(out), dir.path(), {"--dump-dom"});
    ASSERT_TRUE(dom) << "chromium is not installed: run scripts/bootstrap (Debian package "
                        "'chromium') to check the review page in a browser";
    ASSERT_EQ(dom->status, 0) << dom->err;
    EXPECT_EQ(qltest::page_cards(dom->out).size(), cards.size());

    auto shot = qltest::page_screenshot(review_page_path(out), dir.path(), "1200,1340");
    ASSERT_TRUE(shot);
    const cv::Mat& img = shot->picture;
    ASSERT_FALSE(img.empty()) << shot->run.err;
    EXPECT_GT(qltest::picture_spread(img), 30.0);
    if (auto keep = get_env("QLCORE_REVIEW_SCREENSHOT")) {
        // For the README: two thirds of the size, 192 colours.
        cv::Mat small;
        cv::resize(img, small, cv::Size(img.cols * 2 / 3, img.rows * 2 / 3), 0, 0, cv::INTER_AREA);
        const fs::path full = dir / "small.png";
        cv::imwrite(full.string(), small);
        auto ffmpeg = find_on_path("ffmpeg");
        ASSERT_TRUE(ffmpeg);
        RunResult pal =
            run_capture({ffmpeg->string(), "-loglevel", "error", "-y", "-i", full.string(), "-vf",
                         "split[a][b];[a]palettegen=max_colors=192:stats_mode=full[p];[b][p]"
                         "paletteuse=dither=none",
                         *keep});
        EXPECT_EQ(pal.status, 0) << pal.err;
    }
}
