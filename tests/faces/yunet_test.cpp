#include "faces/yunet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "support/test_install.h"
#include "support/test_support.h"

using qlcore::decode_yunet;
using qlcore::YuNetDetector;

namespace {

// Zeroed raw outputs for a padded input of w x h pixels.
struct RawOutputs {
    std::vector<cv::Mat> mats;
    RawOutputs(int w, int h) {
        const int widths[4] = {1, 1, 4, 10};
        for (int kind = 0; kind < 4; ++kind)
            for (int stride : {8, 16, 32})
                mats.push_back(cv::Mat::zeros((w / stride) * (h / stride), widths[kind], CV_32F));
    }
    // One candidate at stride index si (0: 8, 1: 16, 2: 32), cell (r, c).
    void set(int si, int cols, int r, int c, float cls, float obj, cv::Vec4f box, float kp = 0.f) {
        const int idx = r * cols + c;
        mats[si].at<float>(idx, 0) = cls;
        mats[si + 3].at<float>(idx, 0) = obj;
        for (int k = 0; k < 4; ++k)
            mats[si + 6].at<float>(idx, k) = box[k];
        for (int k = 0; k < 10; ++k)
            mats[si + 9].at<float>(idx, k) = kp;
    }
};

}  // namespace

TEST(YuNetDecode, DecodesBoxLandmarksAndScoreOfOneCell) {
    RawOutputs out(64, 64);
    const int si = 1, stride = 16, cols = 4, r = 1, c = 2;
    out.set(si, cols, r, c, 0.81f, 1.0f, {0.5f, 0.25f, std::log(2.f), std::log(3.f)});
    for (int k = 0; k < 10; ++k)
        out.mats[si + 9].at<float>(r * cols + c, k) = 0.1f * (k + 1);

    cv::Mat faces = decode_yunet(out.mats, {64, 64}, 0.5f, 0.3f, 10);
    ASSERT_EQ(faces.rows, 1);
    ASSERT_EQ(faces.cols, 15);
    ASSERT_EQ(faces.type(), CV_32F);
    const float* f = faces.ptr<float>(0);
    EXPECT_FLOAT_EQ(f[2], 32.f);
    EXPECT_FLOAT_EQ(f[3], 48.f);
    EXPECT_FLOAT_EQ(f[0], (c + 0.5f) * stride - 16.f);
    EXPECT_FLOAT_EQ(f[1], (r + 0.25f) * stride - 24.f);
    for (int n = 0; n < 5; ++n) {
        EXPECT_FLOAT_EQ(f[4 + 2 * n], (c + 0.1f * (2 * n + 1)) * stride) << n;
        EXPECT_FLOAT_EQ(f[5 + 2 * n], (r + 0.1f * (2 * n + 2)) * stride) << n;
    }
    EXPECT_FLOAT_EQ(f[14], 0.9f);
}

TEST(YuNetDecode, ClampsClassAndObjectnessBeforeTheThreshold) {
    RawOutputs out(32, 32);
    out.set(0, 4, 0, 0, 1.7f, 0.49f, {0, 0, 0, 0});  // sqrt(1 * 0.49)
    out.set(0, 4, 3, 3, -0.2f, 5.0f, {0, 0, 0, 0});  // clamped to 0
    out.set(2, 1, 0, 0, 0.2f, 0.2f, {0, 0, 2, 2});   // 0.2 < 0.5
    cv::Mat faces = decode_yunet(out.mats, {32, 32}, 0.5f, 0.3f, 10);
    ASSERT_EQ(faces.rows, 1);
    EXPECT_NEAR(faces.at<float>(0, 14), 0.7f, 1e-6);
    EXPECT_FLOAT_EQ(faces.at<float>(0, 0), -4.f);  // centre 0, width 8
}

TEST(YuNetDecode, SuppressesOverlapsAndOrdersByScoreWithTopK) {
    RawOutputs out(128, 128);
    // Scan order: weak far box first, then two overlapping boxes.
    out.set(0, 16, 1, 1, 0.36f, 1.f, {0, 0, std::log(2.f), std::log(2.f)});    // 0.6 at (12,12)
    out.set(0, 16, 10, 10, 0.64f, 1.f, {0, 0, std::log(4.f), std::log(4.f)});  // 0.8
    out.set(0, 16, 10, 11, 0.81f, 1.f, {0, 0, std::log(4.f), std::log(4.f)});  // 0.9
    cv::Mat faces = decode_yunet(out.mats, {128, 128}, 0.5f, 0.3f, 5000);
    ASSERT_EQ(faces.rows, 2);
    EXPECT_FLOAT_EQ(faces.at<float>(0, 14), 0.9f);
    EXPECT_FLOAT_EQ(faces.at<float>(0, 0), 11 * 8 - 16.f);
    EXPECT_FLOAT_EQ(faces.at<float>(1, 14), 0.6f);

    cv::Mat top = decode_yunet(out.mats, {128, 128}, 0.5f, 0.3f, 1);
    ASSERT_EQ(top.rows, 1);
    EXPECT_FLOAT_EQ(top.at<float>(0, 14), 0.9f);

    RawOutputs none(64, 32);
    cv::Mat empty = decode_yunet(none.mats, {64, 32}, 0.5f, 0.3f, 10);
    EXPECT_EQ(empty.rows, 0);
    EXPECT_EQ(empty.cols, 15);
}

TEST(YuNetDetector, FindsTheFaceOfTheReferencePhoto) {
    YuNetDetector det(qltest::test_detector_model().string(), "", {320, 320}, 0.42f, 0.3f, 5000);
    cv::Mat img = cv::imread(qltest::shared_photo("obama-720p.jpg").string());
    ASSERT_FALSE(img.empty());
    cv::Mat unused;
    EXPECT_THROW(det.detect(img, unused), cv::Exception) << "input size not set";

    det.set_input_size(img.size());
    EXPECT_EQ(det.padded_size(), cv::Size(1280, 736));
    cv::Mat faces;
    ASSERT_EQ(det.detect(img, faces), 1);
    ASSERT_EQ(faces.rows, 1);
    const float* f = faces.ptr<float>(0);
    EXPECT_NEAR(f[0], 586, 4);
    EXPECT_NEAR(f[1], 61, 4);
    EXPECT_NEAR(f[2], 157, 4);
    EXPECT_NEAR(f[3], 218, 4);
    EXPECT_NEAR(f[14], 0.949, 0.01);
    // Eyes inside the upper half of the box, right eye (column 4) left of the left eye.
    EXPECT_LT(f[4], f[6]);
    EXPECT_GT(f[5], f[1]);
    EXPECT_LT(f[5], f[1] + f[3] / 2);

    cv::Mat blank(img.size(), CV_8UC3, cv::Scalar(128, 128, 128));
    cv::Mat none;
    ASSERT_EQ(det.detect(blank, none), 1);
    EXPECT_EQ(none.rows, 0);
}

// The blob is written in place frame after frame: it must hold exactly what
// OpenCV's own padding and blobFromImage give, also after a larger picture
// left other values in the padding.
TEST(YuNetBlob, MatchesOpenCVsPaddedBlobWhenReused) {
    cv::Mat big(70, 90, CV_8UC3), small(50, 70, CV_8UC3);
    cv::randu(big, 1, 256);
    cv::randu(small, 1, 256);
    const cv::Size padded(96, 96);
    cv::Mat blob;
    qlcore::fill_blob(big, padded, blob);
    const uchar* kept = blob.data;
    qlcore::fill_blob(small, padded, blob);
    EXPECT_EQ(blob.data, kept) << "the same shape is not allocated again";

    cv::Mat bordered;
    cv::copyMakeBorder(small, bordered, 0, padded.height - small.rows, 0, padded.width - small.cols,
                       cv::BORDER_CONSTANT, cv::Scalar::all(0));
    const cv::Mat expected = cv::dnn::blobFromImage(bordered);
    ASSERT_EQ(blob.size, expected.size);
    ASSERT_EQ(blob.type(), expected.type());
    EXPECT_EQ(cv::norm(blob, expected, cv::NORM_INF), 0.0);
}

// Reusing the detector's buffers across pictures of different sizes finds
// the same faces as a fresh detector does.
TEST(YuNetDetector, KeptBuffersGiveTheFreshResultAfterAnotherSize) {
    cv::Mat img = cv::imread(qltest::shared_photo("obama-720p.jpg").string());
    ASSERT_FALSE(img.empty());
    cv::Mat other;
    cv::resize(img, other, {img.cols / 2 + 6, img.rows / 2 + 10});
    const auto fresh_faces = [](const cv::Mat& pic) {
        YuNetDetector d(qltest::test_detector_model().string(), "", pic.size(), 0.42f, 0.3f, 5000);
        cv::Mat faces;
        d.detect(pic, faces);
        return faces;
    };
    YuNetDetector det(qltest::test_detector_model().string(), "", img.size(), 0.42f, 0.3f, 5000);
    cv::Mat faces;
    for (const cv::Mat* pic : {&img, &other, &img, &other}) {
        det.set_input_size(pic->size());
        det.detect(*pic, faces);
        const cv::Mat expected = fresh_faces(*pic);
        ASSERT_EQ(faces.rows, expected.rows);
        ASSERT_GE(faces.rows, 1);
        EXPECT_EQ(cv::norm(faces, expected, cv::NORM_INF), 0.0);
    }
}
