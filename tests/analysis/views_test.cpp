// Search views: which pictures a frame gives, how their detections come back
// to frame pixels, and the merge.
#include "analysis/views.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "faces/yunet.h"
#include "support/test_install.h"
#include "support/test_support.h"

using namespace qlcore;

namespace {

cv::Mat row(float x, float y, float w, float h, float score) {
    cv::Mat r = cv::Mat::zeros(1, 15, CV_32F);
    float* p = r.ptr<float>(0);
    p[0] = x, p[1] = y, p[2] = w, p[3] = h, p[14] = score;
    // Right eye, left eye, nose, right and left mouth corner, as YuNet
    // gives them (the subject's right is on the picture's left).
    const float lm[10] = {0.3f, 0.4f, 0.7f, 0.4f, 0.5f, 0.6f, 0.35f, 0.8f, 0.65f, 0.8f};
    for (int k = 0; k < 10; k += 2) {
        p[4 + k] = x + lm[k] * w;
        p[5 + k] = y + lm[k + 1] * h;
    }
    return r;
}

double iou(const float* a, const float* b) {
    const cv::Rect2d ra(a[0], a[1], a[2], a[3]), rb(b[0], b[1], b[2], b[3]);
    return (ra & rb).area() / (ra | rb).area();
}

}  // namespace

TEST(SearchViews, EachOptionOnlyWhereItAddsPixels) {
    ViewOptions o;
    o.zoom = 2.0;
    o.full = true;
    o.tile_side = 1280;
    o.mirror = true;

    // A small clip: usual, twice the size, mirrored. No full-resolution view.
    std::vector<View> v = search_views({640, 360}, 1920, o);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].size, cv::Size(640, 360));
    EXPECT_FALSE(v[0].mirror);
    EXPECT_EQ(v[1].size, cv::Size(1280, 720));
    EXPECT_DOUBLE_EQ(v[1].scale, 2.0);
    EXPECT_TRUE(v[2].mirror);
    EXPECT_EQ(v[2].size, v[0].size);

    // The zoom stops at zoom_side.
    o.zoom_side = 2880;
    v = search_views({1920, 1080}, 1920, o);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[1].size, cv::Size(2880, 1620));

    // A 4K clip: the usual view at 1920, then overlapping full-resolution
    // tiles that cover every pixel, then the mirror. No zoom.
    v = search_views({3840, 2160}, 1920, o);
    ASSERT_GT(v.size(), 3u);
    EXPECT_EQ(v.front().size, cv::Size(1920, 1080));
    EXPECT_TRUE(v.back().mirror);
    cv::Mat covered = cv::Mat::zeros(2160, 3840, CV_8U);
    for (size_t i = 1; i + 1 < v.size(); ++i) {
        EXPECT_TRUE(v[i].tiled);
        EXPECT_EQ(v[i].scale, 1.0);
        EXPECT_LE(std::max(v[i].tile.width, v[i].tile.height), 1280);
        covered(v[i].tile) += 1;
        if (i > 1 && v[i].tile.y == v[i - 1].tile.y) {
            // Neighbours in a row overlap by a quarter of the tile side.
            EXPECT_GE(v[i - 1].tile.br().x - v[i].tile.x, 320);
        }
    }
    EXPECT_EQ(cv::countNonZero(covered), 3840 * 2160);

    // Whole frame at full resolution when no tile side is given.
    o.tile_side = 0;
    v = search_views({3840, 2160}, 1920, o);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_FALSE(v[1].tiled);
    EXPECT_EQ(v[1].size, cv::Size(3840, 2160));

    // The thorough set: the 2x view up to 1920 (2880 at most), the whole
    // frame at full resolution above; each every n-th frame, so that on
    // average it adds at most twice the usual view's pixels.
    const auto enlarged = [](cv::Size frame) {
        const std::vector<View> v = search_views(frame, 1920, thorough_view_options());
        EXPECT_EQ(v.size(), 2u);
        EXPECT_EQ(v[0].every, 1);
        EXPECT_FALSE(v[1].tiled);
        return std::make_pair(v[1].size, v[1].every);
    };
    EXPECT_EQ(enlarged({640, 360}), std::make_pair(cv::Size(1280, 720), 2));
    EXPECT_EQ(enlarged({1280, 720}), std::make_pair(cv::Size(2560, 1440), 2));
    EXPECT_EQ(enlarged({1920, 1080}), std::make_pair(cv::Size(2880, 1620), 2));
    EXPECT_EQ(enlarged({3840, 2160}), std::make_pair(cv::Size(3840, 2160), 2));
    // A smaller budget: the next step.
    ViewOptions o2 = thorough_view_options();
    o2.zoom_budget = 1.9;
    EXPECT_EQ(search_views({1280, 720}, 1920, o2)[1].every, 3);

    // No options: the usual view alone.
    v = search_views({3840, 2160}, 1920, {});
    ASSERT_EQ(v.size(), 1u);
}

TEST(SearchViews, ThePixelCapScalesTheEnlargedViewDown) {
    ViewOptions o;
    o.zoom = 2.0;
    o.full = true;
    o.max_pixels = 2.0;
    // Twice the usual pixels: a scale of the square root of 2.
    std::vector<View> v = search_views({640, 360}, 1920, o);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].size, cv::Size(906, 510));
    // Above 1920 the full-resolution frame, scaled down to the same share.
    v = search_views({3840, 2160}, 1920, o);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].size, cv::Size(2716, 1528));
    EXPECT_FALSE(v[1].tiled);
    EXPECT_LT(v[1].scale, 1.0);
    // A cap at the usual pixels leaves no view to add.
    o.max_pixels = 1.0;
    EXPECT_EQ(search_views({3840, 2160}, 1920, o).size(), 1u);
    EXPECT_EQ(search_views({640, 360}, 1920, o).size(), 1u);
    // Budgets count every enlarged view: tiles share one frame step.
    o.max_pixels = 0.0;
    o.tile_side = 1280;
    o.zoom_budget = 2.0;
    v = search_views({3840, 2160}, 1920, o);
    ASSERT_GT(v.size(), 2u);
    for (size_t i = 1; i < v.size(); ++i)
        EXPECT_EQ(v[i].every, v[1].every);
    EXPECT_GE(v[1].every, 3);
}

TEST(SearchViews, DetectionsComeBackToFramePixels) {
    const cv::Mat truth = row(100, 50, 40, 48, 0.9f);
    const float* t = truth.ptr<float>(0);

    // Found in a mirrored picture at twice the size of a 640-wide frame.
    View v;
    v.tile = {0, 0, 640, 360};
    v.size = {1280, 720};
    v.scale = 2.0;
    v.mirror = true;
    const cv::Mat in_pic = row(1280 - 2 * 140, 100, 80, 96, 0.9f);
    // The picture's left eye is the subject's right eye mirrored.
    float* p = const_cast<float*>(in_pic.ptr<float>(0));
    for (int k = 4; k < 14; k += 2)
        p[k] = 1280 - 2 * t[k];
    std::swap(p[4], p[6]);
    std::swap(p[10], p[12]);
    for (int k = 5; k < 14; k += 2)
        p[k] = 2 * t[k];
    const cv::Mat back = rows_to_frame(in_pic, v);
    ASSERT_EQ(back.rows, 1);
    for (int k = 0; k < 15; ++k)
        EXPECT_NEAR(back.at<float>(0, k), t[k], 1e-3) << k;

    // Found in a tile at full resolution.
    View tile;
    tile.tile = {1000, 600, 1280, 1280};
    tile.tiled = true;
    tile.size = {1280, 1280};
    const cv::Mat moved = rows_to_frame(row(100, 50, 40, 48, 0.9f), tile);
    EXPECT_FLOAT_EQ(moved.at<float>(0, 0), 1100);
    EXPECT_FLOAT_EQ(moved.at<float>(0, 1), 650);
    EXPECT_FLOAT_EQ(moved.at<float>(0, 2), 40);
    EXPECT_FLOAT_EQ(moved.at<float>(0, 4), t[4] + 1000);

    EXPECT_EQ(rows_to_frame(cv::Mat(), v).rows, 0);
}

TEST(SearchViews, MergeKeepsTheBestOfOverlappingRowsInAFixedOrder) {
    cv::Mat a = row(100, 100, 50, 60, 0.8f);
    a.push_back(row(400, 100, 50, 60, 0.5f));
    const cv::Mat b = row(104, 102, 50, 60, 0.9f);  // the first face again, better scored
    cv::Mat c = row(400, 100, 50, 60, 0.5f);        // the second again, a tie
    c.ptr<float>(0)[4] = -1.0f;                     // told apart by a landmark
    c.push_back(row(700, 300, 30, 30, 0.45f));      // only in the last view

    const cv::Mat m = merge_rows({a, b, c}, VIEW_MERGE_IOU);
    ASSERT_EQ(m.rows, 3);
    EXPECT_FLOAT_EQ(m.at<float>(0, 14), 0.9f);
    EXPECT_FLOAT_EQ(m.at<float>(0, 0), 104);
    EXPECT_FLOAT_EQ(m.at<float>(1, 0), 400);
    EXPECT_NE(m.at<float>(1, 4), -1.0f);  // the tie went to the earlier view
    EXPECT_FLOAT_EQ(m.at<float>(2, 0), 700);

    // Boxes that touch without overlapping enough both stay.
    EXPECT_EQ(merge_rows({row(0, 0, 50, 50, 0.9f), row(30, 0, 50, 50, 0.8f)}, VIEW_MERGE_IOU).rows,
              2);
    EXPECT_EQ(merge_rows({}, VIEW_MERGE_IOU).rows, 0);
}

TEST(SearchViews, MirroredAndZoomedViewsFindTheSameFaceWithTheRealDetector) {
    cv::Mat photo = cv::imread(qltest::shared_photo("obama.jpg").string());
    ASSERT_FALSE(photo.empty());
    cv::resize(photo, photo, {640, static_cast<int>(640.0 * photo.rows / photo.cols) / 2 * 2});
    YuNetDetector det(qltest::test_detector_model().string(), "", {320, 320}, 0.42f, 0.3f, 5000);
    ViewOptions o;
    o.zoom = 2.0;
    o.mirror = true;
    const std::vector<View> views = search_views(photo.size(), 1920, o);
    ASSERT_EQ(views.size(), 3u);
    std::vector<cv::Mat> found;
    for (const View& v : views) {
        const cv::Mat pic = view_picture(photo, v);
        ASSERT_EQ(pic.size(), v.size);
        det.set_input_size(pic.size());
        cv::Mat rows;
        det.detect(pic, rows);
        ASSERT_GE(rows.rows, 1);
        found.push_back(rows_to_frame(rows.row(0), v));
    }
    for (size_t i = 1; i < found.size(); ++i) {
        EXPECT_GT(iou(found[0].ptr<float>(0), found[i].ptr<float>(0)), 0.8) << i;
        // The right eye stays on the picture's left in every view.
        EXPECT_LT(found[i].at<float>(0, 4), found[i].at<float>(0, 6)) << i;
    }
    EXPECT_EQ(merge_rows(found, VIEW_MERGE_IOU).rows, 1);
}

// One set of buffers serves a view frame after frame: each picture is that
// frame's, the memory is kept, and a view without resizing is the frame's own.
TEST(SearchViews, KeptBuffersGiveEachFramesPicture) {
    ViewOptions o;
    o.zoom = 2.0;
    o.mirror = true;
    const std::vector<View> views = search_views({64, 36}, 1920, o);
    ASSERT_EQ(views.size(), 3u);
    std::vector<ViewBuffers> buffers(views.size());
    std::vector<const uchar*> memory(views.size(), nullptr);
    for (int n = 0; n < 3; ++n) {
        cv::Mat frame(36, 64, CV_8UC3);
        cv::randu(frame, 0, 256);
        for (size_t i = 0; i < views.size(); ++i) {
            const cv::Mat kept = view_picture(frame, views[i], buffers[i]);
            const cv::Mat fresh = view_picture(frame, views[i]);
            ASSERT_EQ(kept.size(), fresh.size());
            EXPECT_EQ(cv::norm(kept, fresh, cv::NORM_INF), 0.0) << "frame " << n << " view " << i;
            if (i == 0) {
                EXPECT_EQ(kept.data, frame.data);
            } else {
                if (n == 0) memory[i] = kept.data;
                EXPECT_EQ(kept.data, memory[i]) << "view " << i << " allocated again";
            }
        }
    }
}
