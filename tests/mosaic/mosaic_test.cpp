#include "mosaic/mosaic.h"

#include <gtest/gtest.h>

using namespace qlcore;

namespace {

// A plane whose every column has its own value, so each mosaic cell's mean
// differs from its neighbours' and cells can be counted.
cv::Mat ramp(int rows, int cols, int type, int scale = 1) {
    cv::Mat m(rows, cols, type);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            int v = (c + 3 * r) * scale % (type == CV_16U ? 1024 : 256);
            if (type == CV_16U)
                m.at<uint16_t>(r, c) = static_cast<uint16_t>(v);
            else
                m.at<uchar>(r, c) = static_cast<uchar>(v);
        }
    return m;
}

// Number of runs of equal values along one row or column of a region.
int runs(const cv::Mat& region, bool across) {
    cv::Mat line = across ? region.row(region.rows / 2) : region.col(region.cols / 2).t();
    cv::Mat wide;
    line.convertTo(wide, CV_32S);
    int n = 1;
    for (int i = 1; i < wide.cols; ++i)
        n += wide.at<int>(0, i) != wide.at<int>(0, i - 1);
    return n;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a, b, cv::NORM_INF) == 0;
}

// Pixels outside the rectangle are untouched.
void expect_only_inside(const cv::Mat& before, const cv::Mat& after, cv::Rect r) {
    cv::Mat mask = cv::Mat::ones(before.size(), CV_8U);
    mask(r & cv::Rect(0, 0, before.cols, before.rows)).setTo(0);
    EXPECT_EQ(cv::norm(before, after, cv::NORM_INF, mask), 0);
}

struct Yuv {
    cv::Mat y, u, v;
    Yuv(int w, int h, int type)
        : y(ramp(h, w, type)),
          u(ramp((h + 1) / 2, (w + 1) / 2, type, 3)),
          v(ramp((h + 1) / 2, (w + 1) / 2, type, 5)) {}
    Yuv clone() const {
        Yuv c = *this;
        c.y = y.clone();
        c.u = u.clone();
        c.v = v.clone();
        return c;
    }
};

}  // namespace

TEST(MosaicRect, WorkedExample) {
    EXPECT_EQ(mosaic_rect({100, 200, 60, 80}, 1920, 1080), (MosaicRect{86, 166, 172, 298, 10}));
    // Clamped at the right and bottom edges.
    EXPECT_EQ(mosaic_rect({1900, 1000, 60, 80}, 1920, 1080),
              (MosaicRect{1886, 966, 1920, 1080, 10}));
    EXPECT_EQ(mosaic_rect({10, 10, 15, 15}, 1920, 1080), (MosaicRect{6, 2, 28, 28, 4}));
}

TEST(MosaicRect, BlockFollowsTheDetectedWidth) {
    const std::pair<float, int> cases[] = {{15, 4}, {24, 4}, {27, 4},  {30, 4},  {33, 6},
                                           {39, 6}, {45, 8}, {60, 10}, {66, 10}, {200, 32}};
    for (auto [w, block] : cases)
        EXPECT_EQ(mosaic_rect({500, 500, w, w}, 1920, 1080).block, block) << "w " << w;
}

// A face cut by the frame's side comes as a narrow, tall box: three quarters
// of its height stand in for the width it would have.
TEST(MosaicRect, BlockOfANarrowTallBoxFollowsItsHeight) {
    EXPECT_EQ(mosaic_rect({0, 500, 20, 160}, 1920, 1080).block, 20);    // 120 / 6, not 4
    EXPECT_EQ(mosaic_rect({1900, 500, 24, 80}, 1920, 1080).block, 10);  // 60 / 6
    EXPECT_EQ(mosaic_rect({500, 500, 80, 40}, 1920, 1080).block, 12);   // wide: 80 / 6
    EXPECT_EQ(mosaic_rect({500, 500, 45, 60}, 1920, 1080).block, 8);    // a tie: 45 / 6
}

TEST(MosaicRect, EdgesAreEvenAndInsideTheFrame) {
    for (float x : {-30.5f, 0.f, 3.3f, 1001.7f, 1890.f})
        for (float y : {-11.f, 1.9f, 517.25f, 1050.f}) {
            MosaicRect r = mosaic_rect({x, y, 57.3f, 71.9f}, 1921, 1081);
            for (int e : {r.x0, r.y0, r.x1, r.y1, r.block})
                EXPECT_EQ(e % 2, 0);
            EXPECT_GE(r.x0, 0);
            EXPECT_GE(r.y0, 0);
            EXPECT_LE(r.x1, 1920);  // never the odd last column
            EXPECT_LE(r.y1, 1080);
        }
}

TEST(MosaicRect, BoxesOutsideThePictureGiveEmptyRectangles) {
    EXPECT_EQ(mosaic_rect({-50, -50, 40, 40}, 1920, 1080), (MosaicRect{0, 0, -2, -2, 6}));
    MosaicRect right = mosaic_rect({2100, 500, 60, 60}, 1920, 1080);
    EXPECT_GE(right.x0, right.x1);
}

TEST(Pixelate, WorkedExampleCellCounts) {
    cv::Mat y = ramp(1080, 1920, CV_8U);
    cv::Mat before = y.clone();
    pixelate(y, 86, 166, 172, 298, 10);
    EXPECT_EQ(runs(y(cv::Rect(86, 166, 86, 132)), true), 9);
    EXPECT_EQ(runs(y(cv::Rect(86, 166, 86, 132)), false), 14);
    expect_only_inside(before, y, cv::Rect(86, 166, 86, 132));

    cv::Mat u = ramp(540, 960, CV_8U, 3);
    pixelate(u, 43, 83, 86, 149, 5);
    EXPECT_EQ(runs(u(cv::Rect(43, 83, 43, 66)), true), 9);
    EXPECT_EQ(runs(u(cv::Rect(43, 83, 43, 66)), false), 14);
}

TEST(Pixelate, SmallBoxCells) {
    // (6, 2)-(28, 28) with block 4: 22 x 26 pixels, 6 x 7 cells.
    cv::Mat y = ramp(100, 100, CV_8U);
    pixelate(y, 6, 2, 28, 28, 4);
    EXPECT_EQ(runs(y(cv::Rect(6, 2, 22, 26)), true), 6);
    EXPECT_EQ(runs(y(cv::Rect(6, 2, 22, 26)), false), 7);
}

TEST(Pixelate, ARegionWithinOneBlockBecomesItsMeanColour) {
    cv::Mat plane(40, 40, CV_8UC3);
    cv::randu(plane, 0, 256);
    cv::Rect r(20, 20, 20, 20);
    cv::Scalar mean = cv::mean(plane(r));
    pixelate(plane, 20, 20, 40, 40, 32);
    cv::Mat roi = plane(r);
    double lo = 0, hi = 0;
    for (int ch = 0; ch < 3; ++ch) {
        cv::Mat one;
        cv::extractChannel(roi, one, ch);
        cv::minMaxLoc(one, &lo, &hi);
        EXPECT_EQ(lo, hi) << "channel " << ch;
        EXPECT_NEAR(lo, mean[ch], 0.5 + 1e-9);
    }
}

TEST(Pixelate, SixteenBitSamplesKeepTheirFormat) {
    cv::Mat plane(64, 64, CV_16U, cv::Scalar(0));
    plane(cv::Rect(0, 0, 64, 32)).setTo(1000);  // top half bright, beyond 8 bits
    pixelate(plane, 0, 0, 64, 64, 64);
    EXPECT_EQ(plane.type(), CV_16U);
    EXPECT_EQ(plane.at<uint16_t>(0, 0), 500);
    EXPECT_EQ(plane.at<uint16_t>(63, 63), 500);
}

TEST(Pixelate, ThinOrOutsideRectanglesAreLeftAlone) {
    cv::Mat plane = ramp(50, 50, CV_8U);
    cv::Mat before = plane.clone();
    pixelate(plane, 10, 10, 11, 40, 4);  // one column wide
    pixelate(plane, 10, 10, 40, 11, 4);  // one row high
    pixelate(plane, 0, 0, -2, -2, 6);
    pixelate(plane, 60, 10, 50, 20, 4);  // inverted
    EXPECT_TRUE(same(plane, before));
    // A rectangle reaching beyond the plane is cut to it, never written past.
    pixelate(plane, 40, 40, 80, 80, 4);
    expect_only_inside(before, plane, cv::Rect(40, 40, 10, 10));
}

TEST(MosaicYuv, PixelatesAllThreePlanesOverTheSameArea) {
    for (int type : {CV_8U, CV_16U}) {
        Yuv f(1920, 1080, type);
        Yuv before = f.clone();
        mosaic_yuv(f.y, f.u, f.v, {100, 200, 60, 80}, 1920, 1080);
        EXPECT_EQ(f.y.type(), type);
        expect_only_inside(before.y, f.y, cv::Rect(86, 166, 86, 132));
        expect_only_inside(before.u, f.u, cv::Rect(43, 83, 43, 66));
        expect_only_inside(before.v, f.v, cv::Rect(43, 83, 43, 66));
        EXPECT_FALSE(same(before.y, f.y));
        EXPECT_FALSE(same(before.u, f.u));
        EXPECT_FALSE(same(before.v, f.v));
        EXPECT_EQ(runs(f.y(cv::Rect(86, 166, 86, 132)), true), 9);
        EXPECT_EQ(runs(f.u(cv::Rect(43, 83, 43, 66)), true), 9);
        EXPECT_EQ(runs(f.v(cv::Rect(43, 83, 43, 66)), false), 14);
    }
}

TEST(MosaicYuv, BoxesOutsideThePictureChangeNothing) {
    Yuv f(320, 240, CV_8U);
    Yuv before = f.clone();
    for (BoxF box : {BoxF{-50, -50, 40, 40}, BoxF{400, 100, 50, 50}, BoxF{100, 300, 50, 50}})
        mosaic_yuv(f.y, f.u, f.v, box, 320, 240);
    EXPECT_TRUE(same(before.y, f.y));
    EXPECT_TRUE(same(before.u, f.u));
    EXPECT_TRUE(same(before.v, f.v));
}

TEST(MosaicYuv, BoxesPartlyOutsideAreClampedToTheFrame) {
    // Odd frame sizes: chroma planes 161 x 121, the last luma column untouched.
    Yuv f(321, 241, CV_16U);
    Yuv before = f.clone();
    mosaic_yuv(f.y, f.u, f.v, {290, 210, 60, 60}, 321, 241);
    MosaicRect r = mosaic_rect({290, 210, 60, 60}, 321, 241);
    EXPECT_EQ(r.x1, 320);
    EXPECT_EQ(r.y1, 240);
    expect_only_inside(before.y, f.y, cv::Rect(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0));
    EXPECT_TRUE(same(before.y.col(320), f.y.col(320)));
    EXPECT_TRUE(same(before.u.col(160), f.u.col(160)));
    EXPECT_FALSE(same(before.u, f.u));

    Yuv g(320, 240, CV_8U);
    Yuv g_before = g.clone();
    mosaic_yuv(g.y, g.u, g.v, {-20, -30, 60, 80}, 320, 240);
    MosaicRect q = mosaic_rect({-20, -30, 60, 80}, 320, 240);
    EXPECT_EQ(q.x0, 0);
    EXPECT_EQ(q.y0, 0);
    expect_only_inside(g_before.y, g.y, cv::Rect(0, 0, q.x1, q.y1));
    EXPECT_FALSE(same(g_before.y, g.y));
}
