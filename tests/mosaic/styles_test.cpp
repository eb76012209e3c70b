#include "mosaic/styles.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qlcore;

namespace {

const HideStyle COVERING[] = {HideStyle::coarse, HideStyle::blur, HideStyle::solid};

// Planes of fixed noise, chroma at half size rounded up.
struct Frame {
    int w, h;
    cv::Mat y, u, v;
    Frame(int w_, int h_, int type) : w(w_), h(h_) {
        cv::RNG rng(17);
        y.create(h, w, type);
        u.create((h + 1) / 2, (w + 1) / 2, type);
        v.create((h + 1) / 2, (w + 1) / 2, type);
        for (cv::Mat* p : {&y, &u, &v})
            rng.fill(*p, cv::RNG::UNIFORM, 0, type == CV_16U ? 1024 : 256);
    }
    Frame copy() const { return {*this, 0}; }
    void hide(const BoxF& box, HideStyle s) { hide_yuv(y, u, v, box, w, h, s); }

  private:
    Frame(const Frame& o, int) : w(o.w), h(o.h), y(o.y.clone()), u(o.u.clone()), v(o.v.clone()) {}
};

cv::Rect luma(const MosaicRect& r) {
    return {r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0};
}

cv::Rect chroma(const MosaicRect& r) {
    return {r.x0 / 2, r.y0 / 2, (r.x1 - r.x0) / 2, (r.y1 - r.y0) / 2};
}

double changed_outside(const cv::Mat& before, const cv::Mat& after, cv::Rect r) {
    cv::Mat mask = cv::Mat::ones(before.size(), CV_8U);
    mask(r & cv::Rect(0, 0, before.cols, before.rows)).setTo(0);
    return cv::norm(before, after, cv::NORM_INF, mask);
}

void expect_only_inside(const Frame& a, const Frame& b, const MosaicRect& r) {
    EXPECT_EQ(changed_outside(a.y, b.y, luma(r)), 0);
    EXPECT_EQ(changed_outside(a.u, b.u, chroma(r)), 0);
    EXPECT_EQ(changed_outside(a.v, b.v, chroma(r)), 0);
}

double spread(const cv::Mat& m) {
    cv::Scalar mean, dev;
    cv::meanStdDev(m, mean, dev);
    return dev[0];
}

// 16-bit values rising along rows and columns: every mosaic cell has its own
// mean, so runs of equal values along a line count the cells.
cv::Mat ramp(int rows, int cols) {
    cv::Mat across(1, cols, CV_32F), down(rows, 1, CV_32F), out;
    for (int i = 0; i < cols; ++i)
        across.at<float>(0, i) = static_cast<float>(i);
    for (int i = 0; i < rows; ++i)
        down.at<float>(i, 0) = static_cast<float>(7 * i);
    cv::Mat(cv::repeat(across, rows, 1) + cv::repeat(down, 1, cols)).convertTo(out, CV_16U);
    return out;
}

int runs(const cv::Mat& line) {
    int n = 1;
    for (int i = 1; i < line.cols; ++i)
        n += line.at<uint16_t>(0, i) != line.at<uint16_t>(0, i - 1);
    return n;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

TEST(HideStyle, NamesReadBackAndOthersAreRefused) {
    EXPECT_EQ(hide_style_names(), (std::vector<std::string>{"mosaic", "coarse", "blur", "solid"}));
    for (const std::string& n : hide_style_names())
        EXPECT_EQ(hide_style_name(*parse_hide_style(n)), n);
    for (const char* bad : {"", "Mosaic", "blur ", "pixelate"})
        EXPECT_FALSE(parse_hide_style(bad)) << bad;
}

TEST(HideStyle, MosaicIsExactlyMosaicYuv) {
    for (int type : {CV_8U, CV_16U})
        for (BoxF box : {BoxF{100, 80, 60, 80}, BoxF{600, 330, 70, 90}, BoxF{-20, -10, 50, 50}}) {
            const Frame f(641, 361, type);
            Frame a = f.copy(), b = f.copy();
            a.hide(box, HideStyle::mosaic);
            mosaic_yuv(b.y, b.u, b.v, box, b.w, b.h);
            EXPECT_TRUE(same(a.y, b.y) && same(a.u, b.u) && same(a.v, b.v));
        }
}

TEST(CoverRect, TakesInTheHeadWithinOneBoxHeight) {
    EXPECT_EQ(cover_rect({100, 200, 60, 80}, 1920, 1080), (MosaicRect{82, 148, 178, 300, 20}));
    for (float w : {30.f, 58.f, 120.f}) {
        const float h = 1.25f * w;
        const MosaicRect r = cover_rect({500, 400, w, h}, 1920, 1080);
        EXPECT_TRUE(r.x0 <= 500 && r.x1 >= 500 + w && r.y1 >= 400 + h);
        EXPECT_LE(r.y0, 400 - 0.4 * h);  // the hair
        EXPECT_TRUE(r.x0 >= 500 - h && r.x1 <= 500 + w + h && r.y0 >= 400 - h &&
                    r.y1 <= 400 + 2 * h);
    }
    // Even and inside an odd-sized frame wherever the box is.
    for (float x : {-40.5f, 3.3f, 1890.f})
        for (float y : {-21.f, 517.25f, 1050.f}) {
            const MosaicRect r = cover_rect({x, y, 57.3f, 71.9f}, 1921, 1081);
            for (int e : {r.x0, r.y0, r.x1, r.y1, r.block})
                EXPECT_EQ(e % 2, 0);
            EXPECT_TRUE(r.x0 >= 0 && r.y0 >= 0 && r.x1 <= 1920 && r.y1 <= 1080);
        }
}

TEST(CoverRect, CoarseBlocksAreFewAndNeverSmall) {
    // Three blocks across the face width, never under 6 px; a face cut by the
    // frame's side is judged by its height.
    const std::pair<BoxF, int> cases[] = {{{500, 500, 4, 4}, 6},    {{500, 500, 18, 18}, 6},
                                          {{500, 500, 24, 24}, 8},  {{500, 500, 30, 30}, 10},
                                          {{500, 500, 58, 70}, 20}, {{500, 500, 200, 200}, 68},
                                          {{0, 500, 20, 80}, 20},   {{500, 500, NAN, NAN}, 6}};
    for (auto [box, block] : cases)
        EXPECT_EQ(cover_rect(box, 1920, 1080).block, block) << box.w;
}

TEST(HideYuv, CoarseCellsCoverTheRectangle) {
    Frame f(640, 360, CV_16U);
    f.y = ramp(f.h, f.w);
    f.u = ramp(f.h / 2, f.w / 2);
    const Frame before = f.copy();
    const BoxF box{200, 120, 58, 72};
    const MosaicRect r = cover_rect(box, f.w, f.h);
    f.hide(box, HideStyle::coarse);
    expect_only_inside(before, f, r);
    const cv::Mat y = f.y(luma(r)), u = f.u(chroma(r));
    EXPECT_EQ(runs(y.row(y.rows / 2)), (y.cols + r.block - 1) / r.block);
    EXPECT_EQ(runs(y.col(y.cols / 2).t()), (y.rows + r.block - 1) / r.block);
    EXPECT_EQ(runs(u.row(u.rows / 2)), (u.cols + r.block / 2 - 1) / (r.block / 2));
    EXPECT_GE(r.block * 4, 58);
}

TEST(HideYuv, SolidIsTheRegionsMeanOnEveryPlane) {
    for (int type : {CV_8U, CV_16U}) {
        Frame f(641, 361, type);
        const Frame before = f.copy();
        const MosaicRect r = cover_rect({300, 150, 60, 75}, f.w, f.h);
        f.hide({300, 150, 60, 75}, HideStyle::solid);
        expect_only_inside(before, f, r);
        const std::tuple<cv::Mat, cv::Mat, cv::Rect> planes[] = {
            {f.y, before.y, luma(r)}, {f.u, before.u, chroma(r)}, {f.v, before.v, chroma(r)}};
        for (const auto& [after, orig, rr] : planes) {
            EXPECT_EQ(spread(after(rr)), 0);
            EXPECT_NEAR(cv::mean(after(rr))[0], cv::mean(orig(rr))[0], 0.5);
        }
    }
}

TEST(HideYuv, BlurSoftensTheRegionWithAFeatheredEdge) {
    for (int type : {CV_8U, CV_16U}) {
        Frame f(640, 360, type);
        const Frame before = f.copy();
        const MosaicRect r = cover_rect({300, 150, 58, 72}, f.w, f.h);
        f.hide({300, 150, 58, 72}, HideStyle::blur);
        expect_only_inside(before, f, r);
        const cv::Rect in(r.x0 + 8, r.y0 + 8, r.x1 - r.x0 - 16, r.y1 - r.y0 - 16);
        const cv::Rect cin(in.x / 2, in.y / 2, in.width / 2, in.height / 2);
        EXPECT_LT(spread(f.y(in)), spread(before.y(in)) / 10);
        EXPECT_NEAR(cv::mean(f.y(in))[0], cv::mean(before.y(in))[0], spread(before.y(in)) / 10);
        EXPECT_LT(spread(f.u(cin)), spread(before.u(cin)) / 5);
        // The outermost row stays closer to the original than the inside.
        auto moved = [&](int row) {
            const cv::Range cols(in.x, in.x + in.width);
            return cv::norm(before.y.row(row).colRange(cols), f.y.row(row).colRange(cols),
                            cv::NORM_L1);
        };
        EXPECT_LT(moved(r.y0), 0.5 * moved(r.y0 + 8));
        EXPECT_GT(moved(r.y0), 0);
    }
}

TEST(HideYuv, BlurReachesTheFrameBorder) {
    // No feather on a side on the frame's border: the face there must be
    // blurred to the last pixel.
    Frame f(641, 361, CV_8U);
    const Frame before = f.copy();
    const MosaicRect r = cover_rect({-10, 300, 58, 72}, f.w, f.h);
    ASSERT_TRUE(r.x0 == 0 && r.y1 == 360);
    f.hide({-10, 300, 58, 72}, HideStyle::blur);
    const cv::Rect edge(0, r.y0 + 8, 1, r.y1 - r.y0 - 16);
    EXPECT_LT(spread(f.y(edge)), spread(before.y(edge)) / 5);
    // The odd last row is outside the even rectangle, as with the mosaic.
    EXPECT_TRUE(same(before.y.row(360), f.y.row(360)));
}

TEST(HideYuv, BoxesAtOrBeyondTheEdgesStayInsideThePlanes) {
    const BoxF boxes[] = {{-500, -500, 40, 40},     {700, 100, 60, 60},  {-30, -40, 60, 80},
                          {600, 330, 90, 90},       {320, 180, 0.5f, 1}, {320, 180, 3, 2},
                          {-900, -900, 3000, 3000}, {320, 100, 2, 240}};
    for (int type : {CV_8U, CV_16U})
        for (HideStyle s : COVERING)
            for (BoxF box : boxes) {
                Frame f(641, 361, type);
                const Frame before = f.copy();
                f.hide(box, s);
                expect_only_inside(before, f, cover_rect(box, f.w, f.h));
            }
    for (HideStyle s : COVERING) {
        // Wholly outside: nothing changes.
        Frame f(641, 361, CV_8U);
        const Frame before = f.copy();
        f.hide({-500, -500, 40, 40}, s);
        f.hide({900, 100, 60, 60}, s);
        EXPECT_TRUE(same(before.y, f.y) && same(before.u, f.u) && same(before.v, f.v));
        // A NaN box, as with the mosaic, hides the whole frame.
        f.hide({NAN, NAN, NAN, NAN}, s);
        EXPECT_LT(spread(f.y(cv::Rect(0, 0, 640, 360))), spread(before.y) / 4)
            << hide_style_name(s);
    }
}
