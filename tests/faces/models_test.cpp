#include "faces/models.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect/face.hpp>

#include "faces/yunet.h"
#include "geometry/tuning.h"
#include "platform/failure.h"
#include "support/test_install.h"
#include "support/test_support.h"
#include "tracking/verdicts.h"

using qlcore::FatalStop;
using qlcore::Models;
namespace fs = std::filesystem;

namespace {

class ModelsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        models_ = new Models(qltest::test_detector_model(), qltest::stand_in_recognizer());
    }
    static void TearDownTestSuite() {
        delete models_;
        models_ = nullptr;
    }
    static cv::Mat photo(const std::string& name) {
        cv::Mat img = cv::imread(qltest::shared_photo(name).string());
        EXPECT_FALSE(img.empty()) << name;
        return img;
    }
    static Models* models_;
};

Models* ModelsTest::models_ = nullptr;

std::string stop_message(const fs::path& det, const fs::path& rec) {
    try {
        Models m(det, rec);
    } catch (const FatalStop& stop) {
        return stop.message;
    }
    return "(no stop)";
}

}  // namespace

TEST(ModelsFiles, MissingModelStopsNamingTheFolderDetectorFirst) {
    qltest::ScopedTempDir a, b;
    const fs::path det = qltest::test_detector_model();
    const std::string hint =
        "\nInstall them with: qlcore-fetch-models (in a source checkout: scripts/fetch-models)";
    EXPECT_EQ(stop_message(a / "det.onnx", b / "rec.onnx"),
              "Model files missing in " + a.path().string() + ". Re-run the installer." + hint);
    EXPECT_EQ(stop_message(det, b / "rec.onnx"),
              "Model files missing in " + b.path().string() + ". Re-run the installer." + hint);
}

TEST(ModelsFiles, TheWindowsHintNamesTheSetupAndTheScriptBesideTheProgram) {
    const fs::path dir = fs::path("C:") / "Programs" / "qlcore" / "models";
    const std::string hint = qlcore::models_install_hint(dir, {false, true, ""});
    EXPECT_NE(hint.find("setup"), std::string::npos) << hint;
    EXPECT_NE(hint.find("-File \"" + (dir.parent_path() / "fetch-models.ps1").string() + "\""),
              std::string::npos)
        << hint;
    EXPECT_EQ(hint.find("qlcore-fetch-models"), std::string::npos) << hint;
}

TEST_F(ModelsTest, SmallFrameIsSearchedUnchanged) {
    cv::Mat img = photo("obama-720p.jpg");
    qlcore::YuNetDetector det(qltest::test_detector_model().string(), "", img.size(), 0.42f, 0.3f,
                              5000);
    cv::Mat direct;
    det.detect(img, direct);
    cv::Mat rows = models_->detect(img, 1280);
    ASSERT_EQ(rows.rows, 1);
    EXPECT_EQ(cv::norm(rows, direct, cv::NORM_INF), 0.0);
}

TEST_F(ModelsTest, DetectingDownToAScoreKeepsEveryUsualRowWhateverSizeCameBefore) {
    const cv::Mat img = photo("obama-720p.jpg");
    cv::Mat dark, twice;
    img.convertTo(dark, -1, 0.3, 0);
    cv::resize(dark, twice, {}, 2.0, 2.0);
    const cv::Mat usual = models_->detect(dark, 4000);
    ASSERT_GE(usual.rows, 1);
    for (int round = 0; round < 2; ++round) {
        // Another size in between: the picture of each size has its own network.
        const cv::Mat other = models_->detect(twice, 4000, 0.2);
        const cv::Mat down = models_->detect(dark, 4000, 0.2);
        EXPECT_GE(other.rows, 1);
        ASSERT_GE(down.rows, usual.rows);
        // Score order: the usual rows come first, unchanged.
        EXPECT_EQ(cv::norm(down.rowRange(0, usual.rows), usual, cv::NORM_INF), 0.0);
        for (int i = usual.rows; i < down.rows; ++i)
            EXPECT_LT(down.at<float>(i, 14), static_cast<float>(qlcore::DET_SCORE));
    }
}

TEST_F(ModelsTest, LargeFrameIsShrunkAndCoordinatesScaledBack) {
    cv::Mat small = photo("obama-720p.jpg");
    cv::Mat big;
    cv::resize(small, big, {3840, 2160}, 0, 0, cv::INTER_LINEAR);
    cv::Mat searched;
    cv::resize(big, searched, {1920, 1080}, 0, 0, cv::INTER_AREA);

    cv::Mat rows = models_->detect(big);
    cv::Mat at_search = models_->detect(searched, 1000000);
    ASSERT_EQ(rows.rows, 1);
    ASSERT_EQ(at_search.rows, 1);
    for (int c = 0; c < 14; ++c)
        EXPECT_EQ(rows.at<float>(0, c), 2 * at_search.at<float>(0, c)) << c;
    EXPECT_EQ(rows.at<float>(0, 14), at_search.at<float>(0, 14));
    EXPECT_NEAR(rows.at<float>(0, 0), 586 * 3, 15);
}

TEST_F(ModelsTest, OddSizedFrameIsSearchedAtTheNearestWholeSize) {
    cv::Mat small = photo("obama-720p.jpg");
    cv::Mat frame;
    cv::resize(small, frame, {1921, 1081}, 0, 0, cv::INTER_LINEAR);
    cv::Mat searched;
    cv::resize(frame, searched, {1920, 1080}, 0, 0, cv::INTER_AREA);
    const float s = static_cast<float>(1920.0 / 1921.0);

    cv::Mat rows = models_->detect(frame, 1920);
    cv::Mat at_search = models_->detect(searched, 1000000);
    ASSERT_EQ(rows.rows, 1);
    ASSERT_EQ(at_search.rows, 1);
    for (int c = 0; c < 14; ++c)
        EXPECT_EQ(rows.at<float>(0, c), at_search.at<float>(0, c) / s);
    EXPECT_EQ(rows.at<float>(0, 14), at_search.at<float>(0, 14));
}

TEST_F(ModelsTest, NoFaceGivesAnEmptyFifteenColumnMatrix) {
    cv::Mat blank(480, 640, CV_8UC3, cv::Scalar(90, 120, 150));
    cv::Mat rows = models_->detect(blank);
    EXPECT_EQ(rows.rows, 0);
    EXPECT_EQ(rows.cols, 15);
    EXPECT_EQ(rows.type(), CV_32F);
}

TEST_F(ModelsTest, VerifyConfirmsARealFaceAndRejectsTheRest) {
    cv::Mat img = photo("obama-720p.jpg");
    cv::Mat rows = models_->detect(img);
    ASSERT_EQ(rows.rows, 1);
    const double real = models_->verify(img, rows.row(0));
    EXPECT_GT(real, qlcore::VERIFY_PASS);
    EXPECT_LE(real, 1.0);

    // The same box moved onto the background on the far left.
    cv::Mat elsewhere = rows.row(0).clone();
    elsewhere.at<float>(0, 0) = 10;
    elsewhere.at<float>(0, 1) = 400;
    EXPECT_LT(models_->verify(img, elsewhere), 0.2);

    cv::Mat thin = rows.row(0).clone();
    thin.at<float>(0, 2) = 3;
    EXPECT_EQ(models_->verify(img, thin), 0.0);

    cv::Mat outside = rows.row(0).clone();
    outside.at<float>(0, 0) = 5000;
    EXPECT_EQ(models_->verify(img, outside), 0.0);
}

TEST_F(ModelsTest, VerifyFindsAFaceCutByTheLeftEdge) {
    cv::Mat img = photo("obama-720p.jpg");
    // Cut the picture so the face starts near column 0.
    cv::Mat cut = img(cv::Rect(570, 0, img.cols - 570, img.rows)).clone();
    cv::Mat rows = models_->detect(cut);
    ASSERT_GE(rows.rows, 1);
    EXPECT_LT(rows.at<float>(0, 0), 40);
    const double v = models_->verify(cut, rows.row(0));
    EXPECT_GT(v, 0.3);
    EXPECT_LE(v, 1.0);
}

namespace {

// `img` turned by `degrees` about (cx, cy), and `row` with it: its box keeps
// its size about the turned centre, its landmarks turn.
void turn(cv::Mat& img, cv::Mat& row, double degrees) {
    const float* q = row.ptr<float>(0);
    const cv::Point2f centre(q[0] + q[2] / 2, q[1] + q[3] / 2);
    const cv::Mat m = cv::getRotationMatrix2D(centre, degrees, 1.0);
    cv::warpAffine(img, img, m, img.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    float* r = row.ptr<float>(0);
    for (int n = 0; n < 5; ++n) {
        const double x = r[4 + 2 * n], y = r[5 + 2 * n];
        r[4 + 2 * n] = static_cast<float>(m.at<double>(0, 0) * x + m.at<double>(0, 1) * y +
                                          m.at<double>(0, 2));
        r[5 + 2 * n] = static_cast<float>(m.at<double>(1, 0) * x + m.at<double>(1, 1) * y +
                                          m.at<double>(1, 2));
    }
}

double eye_slope_degrees(const cv::Mat& row) {
    const float* r = row.ptr<float>(0);
    return std::atan2(r[7] - r[5], r[6] - r[4]) * 180.0 / CV_PI;
}

}  // namespace

TEST_F(ModelsTest, ALiftedRecheckFindsADimTiltedFaceTheUsualOneMissesAndNotTheBackground) {
    cv::Mat img = photo("obama-720p.jpg");
    cv::Mat rows = models_->detect(img);
    ASSERT_EQ(rows.rows, 1);
    cv::Mat row = rows.row(0).clone();
    // Turned 75 degrees, at a tenth of its contrast in the dark.
    turn(img, row, 75.0);
    img.convertTo(img, -1, 0.1, 12);
    EXPECT_LT(models_->verify(img, row), qlcore::RECHECK_EVIDENCE);
    const qlcore::LiftedCheck lifted = models_->verify_lifted(img, row);
    EXPECT_GE(lifted.centred, 3 * qlcore::LIFTED_EVIDENCE);
    EXPECT_LE(lifted.centred, 1.0);
    EXPECT_EQ(lifted.inside, qlcore::NOT_LOOKED) << "found at the centre, not looked inside";

    // What the re-check sees: the face level again, its contrast stretched.
    const double side = 2.2 * std::max(row.at<float>(0, 2), row.at<float>(0, 3));
    const cv::Mat seen = qlcore::lifted_face(img, row, side);
    EXPECT_EQ(seen.cols, static_cast<int>(std::lround(side)));
    EXPECT_EQ(seen.rows, seen.cols);
    const cv::Mat found = models_->detect(seen, 1920, 0.3);
    ASSERT_GE(found.rows, 1);
    EXPECT_LT(std::abs(eye_slope_degrees(found.row(0))), 12.0);
    cv::Scalar mean, before, after;
    cv::Mat grey;
    cv::cvtColor(img(cv::Rect(row.at<float>(0, 0), row.at<float>(0, 1), row.at<float>(0, 2),
                              row.at<float>(0, 3)) &
                     cv::Rect(0, 0, img.cols, img.rows)),
                 grey, cv::COLOR_BGR2GRAY);
    cv::meanStdDev(grey, mean, before);
    cv::cvtColor(seen, grey, cv::COLOR_BGR2GRAY);
    const int inner = static_cast<int>(0.6 * row.at<float>(0, 2));
    cv::meanStdDev(grey(cv::Rect((seen.cols - inner) / 2, (seen.rows - inner) / 2, inner, inner)),
                   mean, after);
    EXPECT_GT(after[0], 2.5 * before[0]);

    // The same box on the plain background stays unconfirmed, lifted or not.
    cv::Mat elsewhere = row.clone();
    for (int c : {0, 4, 6, 8, 10, 12})
        elsewhere.at<float>(0, c) -= row.at<float>(0, 0) - 10;
    const qlcore::LiftedCheck nothing = models_->verify_lifted(img, elsewhere);
    EXPECT_LT(nothing.centred, qlcore::LIFTED_EVIDENCE);
    EXPECT_LT(nothing.inside, qlcore::INSIDE_EVIDENCE);
    EXPECT_NE(nothing.inside, qlcore::NOT_LOOKED);
}

TEST_F(ModelsTest, ALiftedRecheckFindsADimFaceInsideABoxFarLargerThanIt) {
    cv::Mat img = photo("obama-720p.jpg");
    cv::resize(img, img, cv::Size(), 1.0 / 3, 1.0 / 3, cv::INTER_AREA);
    cv::Mat rows = models_->detect(img);
    ASSERT_EQ(rows.rows, 1);
    img.convertTo(img, -1, 0.3, 20);
    // A weak box six times the face's width, the face near its left edge:
    // 0.45 of the box's width from its centre, too far for a re-check of
    // the box's own face, inside the box all the same.
    cv::Mat wide = rows.row(0).clone();
    float* q = wide.ptr<float>(0);
    const float cx = q[0] + q[2] / 2, cy = q[1] + q[3] / 2, fw = q[2], fh = q[3];
    q[2] = 6 * fw;
    q[3] = 6 * fh;
    q[0] = cx + 0.45f * q[2] - q[2] / 2;
    q[1] = cy - q[3] / 2;
    EXPECT_LT(models_->verify(img, wide), qlcore::RECHECK_EVIDENCE);
    const qlcore::LiftedCheck found = models_->verify_lifted(img, wide);
    EXPECT_LT(found.centred, qlcore::LIFTED_EVIDENCE);
    EXPECT_GE(found.inside, qlcore::INSIDE_EVIDENCE);
    EXPECT_LE(found.inside, 1.0);

    // At the centre of a box twice its size the face is not the box's own.
    cv::Mat twice = rows.row(0).clone();
    float* t = twice.ptr<float>(0);
    t[0] -= fw / 2;
    t[1] -= fh / 2;
    t[2] = 2 * fw;
    t[3] = 2 * fh;
    EXPECT_GE(models_->verify(img, twice), qlcore::RECHECK_EVIDENCE) << "the usual re-check";
    EXPECT_LT(models_->verify_lifted(img, twice).centred, qlcore::LIFTED_EVIDENCE);
}

TEST_F(ModelsTest, EmbeddingIsUnitLengthRepeatableAndTellsPhotosApart) {
    cv::Mat img = photo("obama-720p.jpg");
    cv::Mat rows = models_->detect(img);
    ASSERT_EQ(rows.rows, 1);
    cv::Mat e1 = models_->embed(img, rows.row(0));
    ASSERT_EQ(e1.rows, 1);
    ASSERT_EQ(e1.cols, 128);
    ASSERT_EQ(e1.type(), CV_32F);
    EXPECT_NEAR(e1.dot(e1), 1.0, 1e-5);
    cv::Mat e2 = models_->embed(img, rows.row(0));
    EXPECT_EQ(cv::norm(e1, e2, cv::NORM_INF), 0.0);

    // The same photo at another scale stays close; another person's photo does not.
    cv::Mat scaled;
    cv::resize(img, scaled, {}, 0.7, 0.7, cv::INTER_AREA);
    cv::Mat srows = models_->detect(scaled);
    ASSERT_EQ(srows.rows, 1);
    const double same = e1.dot(models_->embed(scaled, srows.row(0)));

    cv::Mat other = photo("biden.jpg");
    cv::Mat orows = models_->detect(other);
    ASSERT_GE(orows.rows, 1);
    const double different = e1.dot(models_->embed(other, orows.row(qlcore::largest_face(orows))));
    EXPECT_GT(same, 0.9);
    EXPECT_LT(different, same - 0.2);
}

TEST_F(ModelsTest, EmbeddingDividesEachValueByTheLengthInDouble) {
    cv::Mat img = photo("obama-720p.jpg");
    cv::Mat rows = models_->detect(img);
    ASSERT_EQ(rows.rows, 1);
    auto rec = cv::FaceRecognizerSF::create(qltest::stand_in_recognizer().string(), "");
    cv::Mat aligned, feature;
    rec->alignCrop(img, rows.row(0), aligned);
    rec->feature(aligned, feature);
    feature = feature.reshape(1, 1);
    const double length = cv::norm(feature, cv::NORM_L2);
    cv::Mat e = models_->embed(img, rows.row(0));
    ASSERT_EQ(e.cols, feature.cols);
    for (int i = 0; i < e.cols; ++i)
        ASSERT_EQ(e.at<float>(i), static_cast<float>(feature.at<float>(i) / (length + 1e-9))) << i;
}

TEST(LargestFace, TakesTheLargestAreaAndTheFirstOnATie) {
    cv::Mat rows = cv::Mat::zeros(4, 15, CV_32F);
    const float sizes[4][2] = {{10, 10}, {20, 30}, {30, 20}, {5, 100}};
    for (int i = 0; i < 4; ++i) {
        rows.at<float>(i, 2) = sizes[i][0];
        rows.at<float>(i, 3) = sizes[i][1];
    }
    EXPECT_EQ(qlcore::largest_face(rows), 1);
    EXPECT_EQ(qlcore::largest_face(cv::Mat(0, 15, CV_32F)), -1);
}
