#include "media/jpeg.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;

// Enrolment photos and review-page thumbnails were made with cv::imencode;
// they must come out byte for byte the same.
TEST(Jpeg, BytesAsOpenCvWritesThem) {
    const cv::Mat photo = cv::imread(qltest::shared_photo("obama1.jpg").string());
    ASSERT_FALSE(photo.empty());
    cv::Mat grey;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    const cv::Mat pictures[] = {photo, photo(cv::Rect(10, 20, 97, 61)),
                                grey(cv::Rect(3, 5, 33, 17)),
                                cv::Mat(1, 1, CV_8UC3, cv::Scalar(10, 200, 30))};
    for (const cv::Mat& img : pictures)
        for (int quality : {0, 50, 85, 92, 100}) {
            std::vector<uchar> want;
            ASSERT_TRUE(cv::imencode(".jpg", img, want, {cv::IMWRITE_JPEG_QUALITY, quality}));
            EXPECT_EQ(encode_jpeg(img, quality), std::string(want.begin(), want.end()))
                << img.cols << "x" << img.rows << "x" << img.channels() << " at " << quality;
        }

    qltest::ScopedTempDir dir;
    ASSERT_TRUE(write_jpeg_file(dir / "crop.jpg", pictures[1], 92));
    std::vector<uchar> want;
    cv::imencode(".jpg", pictures[1], want, {cv::IMWRITE_JPEG_QUALITY, 92});
    EXPECT_EQ(read_file(dir / "crop.jpg"), std::string(want.begin(), want.end()));
}

TEST(Jpeg, WhatCannotBeEncodedOrWrittenGivesNothing) {
    EXPECT_EQ(encode_jpeg(cv::Mat(), 90), "");
    EXPECT_EQ(encode_jpeg(cv::Mat(4, 4, CV_16UC3, cv::Scalar::all(9)), 90), "");
    EXPECT_EQ(encode_jpeg(cv::Mat(4, 4, CV_8UC4, cv::Scalar::all(9)), 90), "");
    qltest::ScopedTempDir dir;
    const cv::Mat grey(8, 8, CV_8UC1, cv::Scalar(128));
    EXPECT_FALSE(write_jpeg_file(dir / "no" / "such" / "folder.jpg", grey, 90));
    EXPECT_FALSE(write_jpeg_file(dir / "empty.jpg", cv::Mat(), 90));
}
