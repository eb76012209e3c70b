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
        const int top = type == CV_16U ? 1024 : 256;
        y.create(h, w, type);
        u.create((h + 1) / 2, (w + 1) / 2, type);
        v.create((h + 1) / 2, (w + 1) / 2, type);
        for (cv::Mat* p : {&y, &u, &v})
            rng.fill(*p, cv::RNG::UNIFORM, 0, top);
    }
    Frame copy() const {
        Frame c = *this;
        c.y = y.clone();
        c.u = u.clone();
        c.v = v.clone();
        return c;
    }
    void hide(const BoxF& box, HideStyle s) { hide_yuv(y, u, v, box, w, h, s); }
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

// 16-bit values rising along rows and columns: every cell of a mosaic has
// its own mean.
cv::Mat ramp(int rows, int cols) {
    cv::Mat across(1, cols, CV_32F), down(rows, 1, CV_32F);
    for (int i = 0; i < cols; ++i)
        across.at<float>(0, i) = static_cast<float>(i);
    for (int i = 0; i < rows; ++i)
        down.at<float>(i, 0) = static_cast<float>(7 * i);
    cv::Mat out;
    cv::Mat(cv::repeat(across, rows, 1) + cv::repeat(down, 1, cols)).convertTo(out, CV_16U);
    return out;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

TEST(HideStyle, NamesReadBackAndOthersAreRefused) {
    for (const std::string& n : hide_style_names())
        EXPECT_EQ(hide_style_name(*parse_hide_style(n)), n);
    EXPECT_EQ(hide_style_names(), (std::vector<std::string>{"mosaic", "coarse", "blur", "solid"}));
    for (const char* bad : {"", "Mosaic", "blur ", "pixelate"})
        EXPECT_FALSE(parse_hide_style(bad)) << bad;
}

TEST(HideStyle, MosaicIsExactlyMosaicYuv) {
    for (int type : {CV_8U, CV_16U}) {
        const Frame f(641, 361, type);
        for (BoxF box : {BoxF{100, 80, 60, 80}, BoxF{600, 330, 70, 90}, BoxF{-20, -10, 50, 50}}) {
            Frame a = f.copy(), b = f.copy();
            a.hide(box, HideStyle::mosaic);
            mosaic_yuv(b.y, b.u, b.v, box, b.w, b.h);
            EXPECT_TRUE(same(a.y, b.y) && same(a.u, b.u) && same(a.v, b.v));
        }
    }
}

TEST(CoverRect, TakesInTheHeadWithinOneBoxHeight) {
    EXPECT_EQ(cover_rect({100, 200, 60, 80}, 1920, 1080), (MosaicRect{82, 148, 178, 300, 20}));
    // Inside the frame the box is covered, and the rectangle reaches no more
    // than one box height beyond it.
    for (float w : {30.f, 58.f, 120.f}) {
        const float h = 1.25f * w;
        const MosaicRect r = cover_rect({500, 400, w, h}, 1920, 1080);
        EXPECT_LE(r.x0, 500);
        EXPECT_LE(r.y0, 400 - 0.4 * h);  // the hair
        EXPECT_GE(r.x1, 500 + w);
        EXPECT_GE(r.y1, 400 + h);
        EXPECT_GE(r.y0, 400 - h);
        EXPECT_LE(r.y1, 400 + 2 * h);
        EXPECT_GE(r.x0, 500 - h);
        EXPECT_LE(r.x1, 500 + w + h);
    }
}

TEST(CoverRect, EvenAndInsideOddFrames) {
    for (float x : {-40.5f, 0.f, 3.3f, 1890.f})
        for (float y : {-21.f, 1.9f, 517.25f, 1050.f}) {
            const MosaicRect r = cover_rect({x, y, 57.3f, 71.9f}, 1921, 1081);
            for (int e : {r.x0, r.y0, r.x1, r.y1, r.block})
                EXPECT_EQ(e % 2, 0);
            EXPECT_GE(r.x0, 0);
            EXPECT_GE(r.y0, 0);
            EXPECT_LE(r.x1, 1920);
            EXPECT_LE(r.y1, 1080);
        }
}

TEST(CoverRect, CoarseBlocksAreFewAndNeverSmall) {
    // Three blocks across the face width, never under 6 px; a face cut
    // by the frame's side is judged by its height.
    const std::pair<BoxF, int> cases[] = {{{500, 500, 4, 4}, 6},    {{500, 500, 18, 18}, 6},
                                          {{500, 500, 24, 24}, 8},  {{500, 500, 30, 30}, 10},
                                          {{500, 500, 58, 70}, 20}, {{500, 500, 200, 200}, 68},
                                          {{0, 500, 20, 80}, 20}};
    for (auto [box, block] : cases)
        EXPECT_EQ(cover_rect(box, 1920, 1080).block, block) << box[2];
    const float nan = std::nanf("");
    EXPECT_EQ(cover_rect({500, 500, nan, nan}, 1920, 1080).block, 6);
}

TEST(HideYuv, CoarseCellsCoverTheRectangle) {
    // On ramps the runs of equal values along a line count the cells.
    Frame f(640, 360, CV_16U);
    f.y = ramp(f.h, f.w);
    f.u = ramp(f.h / 2, f.w / 2);
    const Frame before = f.copy();
    const BoxF box{200, 120, 58, 72};
    const MosaicRect r = cover_rect(box, f.w, f.h);
    f.hide(box, HideStyle::coarse);
    expect_only_inside(before, f, r);
    auto runs = [](const cv::Mat& line) {
        int n = 1;
        for (int i = 1; i < line.cols; ++i)
            n += line.at<uint16_t>(0, i) != line.at<uint16_t>(0, i - 1);
        return n;
    };
    const cv::Mat roi = f.y(luma(r));
    EXPECT_EQ(runs(roi.row(roi.rows / 2)), (roi.cols + r.block - 1) / r.block);
    EXPECT_EQ(runs(roi.col(roi.cols / 2).t()), (roi.rows + r.block - 1) / r.block);
    const cv::Mat croi = f.u(chroma(r));
    EXPECT_EQ(runs(croi.row(croi.rows / 2)), (croi.cols + r.block / 2 - 1) / (r.block / 2));
    EXPECT_GE(r.block * 4, 58);
}

TEST(HideYuv, SolidIsTheRegionsMeanOnEveryPlane) {
    for (int type : {CV_8U, CV_16U}) {
        Frame f(641, 361, type), before = f.copy();
        const BoxF box{300, 150, 60, 75};
        const MosaicRect r = cover_rect(box, f.w, f.h);
        f.hide(box, HideStyle::solid);
        expect_only_inside(before, f, r);
        const std::pair<cv::Mat*, const cv::Mat*> planes[] = {
            {&f.y, &before.y}, {&f.u, &before.u}, {&f.v, &before.v}};
        for (size_t i = 0; i < 3; ++i) {
            const cv::Rect rr = i ? chroma(r) : luma(r);
            double lo, hi;
            cv::minMaxLoc((*planes[i].first)(rr), &lo, &hi);
            EXPECT_EQ(lo, hi);
            EXPECT_NEAR(lo, cv::mean((*planes[i].second)(rr))[0], 0.5);
        }
    }
}

TEST(HideYuv, BlurSoftensTheRegionWithAFeatheredEdge) {
    for (int type : {CV_8U, CV_16U}) {
        Frame f(640, 360, type), before = f.copy();
        const BoxF box{300, 150, 58, 72};
        const MosaicRect r = cover_rect(box, f.w, f.h);
        f.hide(box, HideStyle::blur);
        expect_only_inside(before, f, r);
        cv::Scalar m0, s0, m1, s1;
        const cv::Rect inner(r.x0 + 8, r.y0 + 8, r.x1 - r.x0 - 16, r.y1 - r.y0 - 16);
        cv::meanStdDev(before.y(inner), m0, s0);
        cv::meanStdDev(f.y(inner), m1, s1);
        EXPECT_LT(s1[0], s0[0] / 10);
        EXPECT_NEAR(m1[0], m0[0], s0[0] / 10);
        // The outermost row stays closer to the original than the inside.
        auto moved = [&](int row) {
            return cv::norm(before.y.row(row).colRange(r.x0 + 8, r.x1 - 8),
                            f.y.row(row).colRange(r.x0 + 8, r.x1 - 8), cv::NORM_L1);
        };
        EXPECT_LT(moved(r.y0), 0.5 * moved(r.y0 + 8));
        EXPECT_GT(moved(r.y0), 0);
        cv::Scalar cm0, cs0, cm1, cs1;
        const cv::Rect ci(inner.x / 2, inner.y / 2, inner.width / 2, inner.height / 2);
        cv::meanStdDev(before.u(ci), cm0, cs0);
        cv::meanStdDev(f.u(ci), cm1, cs1);
        EXPECT_LT(cs1[0], cs0[0] / 5);
    }
}

TEST(HideYuv, BlurReachesTheFrameBorder) {
    // No feather on a side that lies on the frame's border: the face there
    // must be blurred to the last pixel.
    Frame f(641, 361, CV_8U), before = f.copy();
    const BoxF box{-10, 300, 58, 72};
    const MosaicRect r = cover_rect(box, f.w, f.h);
    ASSERT_EQ(r.x0, 0);
    ASSERT_EQ(r.y1, 360);
    f.hide(box, HideStyle::blur);
    const cv::Rect edge(0, r.y0 + 8, 1, r.y1 - r.y0 - 16);
    cv::Scalar m0, s0, m1, s1;
    cv::meanStdDev(before.y(edge), m0, s0);
    cv::meanStdDev(f.y(edge), m1, s1);
    EXPECT_LT(s1[0], s0[0] / 5);
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
                Frame f(641, 361, type), before = f.copy();
                f.hide(box, s);
                expect_only_inside(before, f, cover_rect(box, f.w, f.h));
            }
    // Wholly outside: nothing changes.
    for (HideStyle s : COVERING) {
        Frame f(641, 361, CV_8U), before = f.copy();
        f.hide({-500, -500, 40, 40}, s);
        f.hide({900, 100, 60, 60}, s);
        EXPECT_TRUE(same(before.y, f.y) && same(before.u, f.u) && same(before.v, f.v));
    }
}

TEST(HideYuv, ABoxWithoutNumbersIsStillHidden) {
    // As with the mosaic, the rectangle of a NaN box is the whole frame.
    const float nan = std::nanf("");
    for (HideStyle s : COVERING) {
        Frame f(640, 360, CV_8U), before = f.copy();
        f.hide({nan, nan, nan, nan}, s);
        cv::Scalar m0, s0, m1, s1;
        cv::meanStdDev(before.y(cv::Rect(0, 0, 640, 360)), m0, s0);
        cv::meanStdDev(f.y(cv::Rect(0, 0, 640, 360)), m1, s1);
        EXPECT_LT(s1[0], s0[0] / 4) << hide_style_name(s);
    }
}
