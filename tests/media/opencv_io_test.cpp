#include "media/opencv_io.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "media/probe.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

TEST(OpenCvIo, PicturesReadAsOpenCvReadsThemDirectly) {
    ASSERT_TRUE(fs::exists(opencv_io_module_path())) << opencv_io_module_path();
    const fs::path photo = qltest::shared_photo("obama1.jpg");
    std::optional<cv::Mat> img = read_image_file(photo);
    ASSERT_TRUE(img.has_value());
    const cv::Mat direct = cv::imread(photo.string());
    ASSERT_EQ(img->size(), direct.size());
    ASSERT_EQ(img->type(), CV_8UC3);
    EXPECT_EQ(cv::norm(*img, direct, cv::NORM_INF), 0.0);
}

TEST(OpenCvIo, WhatCannotBeReadGivesNothing) {
    ScopedTempDir dir;
    write_file_atomic(dir / "broken.jpg", "not a picture");
    EXPECT_FALSE(read_image_file(dir / "broken.jpg").has_value());
    EXPECT_FALSE(read_image_file(dir / "missing.png").has_value());
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
