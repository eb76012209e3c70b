#include "media/opencv_io.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "media/probe.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

// The module must give the bytes OpenCV gives when linked directly, as
// enrolment photos and review-page thumbnails were made that way.
TEST(OpenCvIo, PicturesReadAndWrittenAsOpenCvDoesDirectly) {
    ASSERT_TRUE(fs::exists(opencv_io_module_path())) << opencv_io_module_path();
    const fs::path photo = qltest::shared_photo("obama1.jpg");
    std::optional<cv::Mat> img = read_image_file(photo);
    ASSERT_TRUE(img.has_value());
    const cv::Mat direct = cv::imread(photo.string());
    ASSERT_EQ(img->size(), direct.size());
    ASSERT_EQ(img->type(), CV_8UC3);
    EXPECT_EQ(cv::norm(*img, direct, cv::NORM_INF), 0.0);

    const cv::Mat crop = direct(cv::Rect(10, 20, 97, 61));
    for (int quality : {85, 92}) {
        std::vector<uchar> want;
        ASSERT_TRUE(cv::imencode(".jpg", crop, want, {cv::IMWRITE_JPEG_QUALITY, quality}));
        EXPECT_EQ(encode_jpeg(crop, quality), std::string(want.begin(), want.end())) << quality;

        ScopedTempDir dir;
        ASSERT_TRUE(write_jpeg_file(dir / "crop.jpg", crop, quality));
        EXPECT_EQ(read_file(dir / "crop.jpg"), std::string(want.begin(), want.end()));
    }
}

TEST(OpenCvIo, WhatCannotBeReadOrWrittenGivesNothing) {
    ScopedTempDir dir;
    write_file_atomic(dir / "broken.jpg", "not a picture");
    EXPECT_FALSE(read_image_file(dir / "broken.jpg").has_value());
    EXPECT_FALSE(read_image_file(dir / "missing.png").has_value());
    const cv::Mat grey(8, 8, CV_8UC1, cv::Scalar(128));
    EXPECT_FALSE(write_jpeg_file(dir / "no" / "such" / "folder.jpg", grey, 90));
    EXPECT_EQ(encode_jpeg(cv::Mat(), 90), "");
}

TEST(PngPictureSize, ReadsTheHeaderOfAWholeFileOnly) {
    for (const auto& [w, h, type] : {std::tuple{161, 121, CV_8UC1}, std::tuple{3840, 2160, CV_8UC1},
                                     std::tuple{7, 3, CV_16UC3}}) {
        std::vector<uchar> buf;
        ASSERT_TRUE(cv::imencode(".png", cv::Mat(h, w, type, cv::Scalar::all(9)), buf));
        const std::string png(buf.begin(), buf.end());
        EXPECT_EQ(png_picture_size(png), (FrameSize{w, h}));
        for (const std::string& bad :
             {png.substr(0, png.size() - 1), png.substr(0, 40), std::string(), "GIF89a" + png,
              std::string(png).replace(12, 4, "IDAT")}) {
            try {
                png_picture_size(bad);
                ADD_FAILURE() << "no error for " << bad.size() << " bytes";
            } catch (const MediaError& e) {
                EXPECT_STREQ(e.what(), "could not decode the first frame");
            }
        }
    }
}
