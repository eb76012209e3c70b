#include "faces/people.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "faces/models.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/json_text.h"
#include "support/test_install.h"
#include "support/test_support.h"

using qlcore::FatalStop;
using qlcore::json;
using qlcore::Models;
namespace fs = std::filesystem;

namespace {

void write_text(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

class PeopleTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        models_ = new Models(qltest::test_detector_model(), qltest::stand_in_recognizer());
    }
    static void TearDownTestSuite() {
        delete models_;
        models_ = nullptr;
    }

    fs::path person(const std::string& name, const std::vector<std::string>& photos = {}) {
        fs::path dir = people_.path() / name;
        fs::create_directories(dir);
        for (const auto& p : photos)
            fs::copy_file(qltest::shared_photo(p), dir / p);
        return dir;
    }
    // Loads the person and returns what it printed.
    std::string load(const std::string& name, cv::Mat* out = nullptr) {
        testing::internal::CaptureStdout();
        cv::Mat e;
        try {
            e = qlcore::load_person(*models_, people_.path(), name, true);
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(e.cols, 128);
        EXPECT_EQ(e.type(), CV_32F);
        if (out) *out = e;
        return printed;
    }
    std::string cache_text(const std::string& name) {
        return qlcore::read_file(people_.path() / name / ".embeddings.json");
    }
    json cache(const std::string& name) { return json::parse(cache_text(name)); }

    static Models* models_;
    qltest::ScopedTempDir people_;
};

Models* PeopleTest::models_ = nullptr;

std::string stop_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const FatalStop& stop) {
        return stop.message;
    }
    return "(no stop)";
}

}  // namespace

TEST(ListPeople, ListsVisibleFoldersInCodePointOrder) {
    qltest::ScopedTempDir dir;
    for (auto n : {"bob", "Ann", ".trash", "Zoe"})
        fs::create_directories(dir / n);
    write_text(dir / "x.jpg", "not a person");
    EXPECT_EQ(qlcore::list_people(dir.path()), (std::vector<std::string>{"Ann", "Zoe", "bob"}));
    EXPECT_TRUE(qlcore::list_people(dir / "missing").empty());
}

TEST(ReadImage, DecodesPhotosAndRefusesHeicAndGarbage) {
    qltest::ScopedTempDir dir;
    auto img = qlcore::read_image(qltest::shared_photo("obama1.jpg"));
    ASSERT_TRUE(img.has_value());
    EXPECT_EQ(img->type(), CV_8UC3);
    // A real JPEG under a HEIC name is still never decoded.
    fs::copy_file(qltest::shared_photo("obama1.jpg"), dir / "face.HEIC");
    EXPECT_FALSE(qlcore::read_image(dir / "face.HEIC").has_value());
    fs::copy_file(qltest::shared_photo("obama1.jpg"), dir / "face.heif");
    EXPECT_FALSE(qlcore::read_image(dir / "face.heif").has_value());
    write_text(dir / "broken.jpg", "not a picture");
    EXPECT_FALSE(qlcore::read_image(dir / "broken.jpg").has_value());
    EXPECT_FALSE(qlcore::read_image(dir / "missing.png").has_value());
}

TEST(UsableFace, NeedsBothSidesOfTheLargestFaceAtFortyPixels) {
    auto rows = [](std::vector<std::pair<float, float>> sizes) {
        cv::Mat m = cv::Mat::zeros(static_cast<int>(sizes.size()), 15, CV_32F);
        for (int i = 0; i < m.rows; ++i) {
            m.at<float>(i, 2) = sizes[i].first;
            m.at<float>(i, 3) = sizes[i].second;
        }
        return m;
    };
    EXPECT_EQ(qlcore::usable_face(rows({{45, 38}})), -1);
    EXPECT_EQ(qlcore::usable_face(rows({{40, 40}})), 0);
    EXPECT_EQ(qlcore::usable_face(rows({{39.9f, 100}})), -1);
    // Only the largest face counts, even when a smaller one would do.
    EXPECT_EQ(qlcore::usable_face(rows({{40, 40}, {45, 38}})), -1);
    EXPECT_EQ(qlcore::usable_face(rows({{10, 10}, {50, 60}})), 1);
    EXPECT_EQ(qlcore::usable_face(cv::Mat(0, 15, CV_32F)), -1);
}

TEST(PersonName, RefusesNamesThatLeaveThePeopleFolder) {
    for (auto bad : {"", ".", "..", "../x", "a/b", "/etc", ".hidden"})
        EXPECT_TRUE(qlcore::person_name_error(bad).has_value()) << bad;
    for (auto good : {"Ann", "Ann Lee", "a..b", "Zoë"})
        EXPECT_FALSE(qlcore::person_name_error(good).has_value()) << good;
}

TEST_F(PeopleTest, EmptyFolderGivesNothingAndAnEmptyCache) {
    person("ann");
    cv::Mat e;
    EXPECT_EQ(load("ann", &e), "  ann: 0 usable photo(s)\n");
    EXPECT_EQ(e.rows, 0);
    EXPECT_EQ(cache_text("ann"), "{}");
}

TEST_F(PeopleTest, OnlyPhotosAreExaminedAndTheCacheHasTheExactLayout) {
    fs::path dir = person("ann", {"obama-720p.jpg"});
    write_text(dir / "notes.txt", "hello");
    fs::copy_file(qltest::shared_photo("obama1.jpg"), dir / ".hidden.jpg");
    cv::Mat e;
    EXPECT_EQ(load("ann", &e), "  ann: 1 usable photo(s)\n");
    ASSERT_EQ(e.rows, 1);
    EXPECT_NEAR(e.dot(e), 1.0, 1e-5);

    const auto st = qlcore::file_status(dir / "obama-720p.jpg");
    const std::string key =
        "obama-720p.jpg:" + std::to_string(st.mtime) + ":" + std::to_string(st.size);
    const std::string text = cache_text("ann");
    EXPECT_EQ(text.rfind("{\"" + key + "\": [", 0), 0u) << text.substr(0, 80);
    EXPECT_EQ(text.back(), '}');
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.find(", "), std::string::npos);
    for (unsigned char c : text)
        EXPECT_LT(c, 128);

    json j = json::parse(text);
    ASSERT_EQ(j.size(), 1u);
    ASSERT_EQ(j[key].size(), 128u);
    // Every value reads back to exactly the single-precision embedding.
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(static_cast<float>(j[key][static_cast<size_t>(i)].get<double>()),
                  e.at<float>(0, i));
}

TEST_F(PeopleTest, UnchangedPhotosComeFromTheCacheAndChangedOnesAreExaminedAgain) {
    fs::path dir = person("ann", {"obama-720p.jpg", "obama1.jpg"});
    cv::Mat first;
    load("ann", &first);
    ASSERT_EQ(first.rows, 2);
    const std::string text = cache_text("ann");

    // Same name, size and time but no picture inside: only the cache can give
    // its embedding back.
    const fs::path p = dir / "obama1.jpg";
    const auto when = fs::last_write_time(p);
    const auto size = fs::file_size(p);
    write_text(p, std::string(size, 'x'));
    fs::last_write_time(p, when);
    cv::Mat second;
    EXPECT_EQ(load("ann", &second), "  ann: 2 usable photo(s)\n");
    EXPECT_EQ(cv::norm(first, second, cv::NORM_INF), 0.0);
    EXPECT_EQ(cache_text("ann"), text);

    // Touched: examined again, now undecodable.
    fs::last_write_time(p, when + std::chrono::seconds(10));
    cv::Mat third;
    EXPECT_EQ(load("ann", &third),
              "  ann: 1 usable photo(s)  (no clear face found in: obama1.jpg)\n");
    ASSERT_EQ(third.rows, 1);
    EXPECT_EQ(cv::norm(first.row(0), third.row(0), cv::NORM_INF), 0.0);
    json j = cache("ann");
    ASSERT_EQ(j.size(), 2u);
    const auto st = qlcore::file_status(p);
    const std::string key =
        "obama1.jpg:" + std::to_string(st.mtime) + ":" + std::to_string(st.size);
    ASSERT_TRUE(j.contains(key));
    EXPECT_TRUE(j[key].is_null());

    // Deleted: its member goes.
    fs::remove(p);
    load("ann");
    j = cache("ann");
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j.begin().key().rfind("obama-720p.jpg:", 0), 0u);
}

TEST_F(PeopleTest, BrokenOrMalformedCacheIsIgnored) {
    fs::path dir = person("ann", {"obama-720p.jpg"});
    write_text(dir / ".embeddings.json", "{\"broken");
    cv::Mat e;
    EXPECT_EQ(load("ann", &e), "  ann: 1 usable photo(s)\n");
    const std::string good = cache_text("ann");

    // A member of the right key but the wrong length is not trusted.
    json j = json::parse(good);
    const std::string key = j.begin().key();
    j[key] = json::array({1.0, 2.0});
    write_text(dir / ".embeddings.json", j.dump());
    cv::Mat again;
    load("ann", &again);
    ASSERT_EQ(again.rows, 1);
    EXPECT_EQ(cv::norm(e, again, cv::NORM_INF), 0.0);
    EXPECT_EQ(cache_text("ann"), good);

    write_text(dir / ".embeddings.json", "[1, 2]");
    load("ann");
    EXPECT_EQ(cache_text("ann"), good);
}

TEST_F(PeopleTest, HeicAndFacelessPhotosAreBadAndListedInPhotoOrder) {
    fs::path dir = person("ann");
    fs::copy_file(qltest::shared_photo("obama-720p.jpg"), dir / "face.heic");
    cv::imwrite((dir / "B.png").string(), cv::Mat(200, 200, CV_8UC3, cv::Scalar(40, 90, 200)));
    write_text(dir / "a.jpg", "garbage");
    EXPECT_EQ(load("ann"),
              "  ann: 0 usable photo(s)  (no clear face found in: B.png, a.jpg, face.heic)\n");
    json j = cache("ann");
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) {
        keys.push_back(it.key().substr(0, it.key().find(':')));
        EXPECT_TRUE(it.value().is_null());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"B.png", "a.jpg", "face.heic"}));
}

TEST_F(PeopleTest, SummaryListsAtMostFiveBadPhotos) {
    fs::path seven = person("seven");
    for (char c = 'a'; c <= 'g'; ++c)
        write_text(seven / (std::string(1, c) + ".jpg"), "bad");
    EXPECT_EQ(load("seven"),
              "  seven: 0 usable photo(s)  (no clear face found in: a.jpg, b.jpg, c.jpg, d.jpg, "
              "e.jpg…)\n");
    fs::path five = person("five");
    for (char c = 'a'; c <= 'e'; ++c)
        write_text(five / (std::string(1, c) + ".jpg"), "bad");
    EXPECT_EQ(load("five"),
              "  five: 0 usable photo(s)  (no clear face found in: a.jpg, b.jpg, c.jpg, d.jpg, "
              "e.jpg)\n");
}

TEST_F(PeopleTest, LargePhotoIsShrunkByTruncationBeforeDetection) {
    fs::path dir = person("ann");
    cv::Mat src = cv::imread(qltest::shared_photo("obama-720p.jpg").string());
    cv::Mat big;
    // 1999 x 0.5 = 999.5: truncation gives 999 rows, rounding would give 1000.
    cv::resize(src, big, {3200, 1999}, 0, 0, cv::INTER_LINEAR);
    cv::imwrite((dir / "big.png").string(), big);
    cv::Mat e;
    load("ann", &e);
    ASSERT_EQ(e.rows, 1);

    cv::Mat decoded = cv::imread((dir / "big.png").string());
    cv::Mat shrunk;
    cv::resize(decoded, shrunk, {1600, 999}, 0, 0, cv::INTER_AREA);
    cv::Mat faces = models_->detect(shrunk, 1600);
    ASSERT_EQ(faces.rows, 1);
    cv::Mat expected = models_->embed(shrunk, faces.row(0));
    EXPECT_EQ(cv::norm(e, expected, cv::NORM_INF), 0.0);
}

TEST_F(PeopleTest, MissingFolderAndUnsafeNamesStop) {
    EXPECT_EQ(stop_of([&] { load("zed"); }), "No folder for 'zed' in " + people_.path().string());
    // A folder that does exist outside the people folder is still refused.
    fs::create_directories(people_.path().parent_path() / "outside-people");
    fs::path people = people_.path() / "people";
    fs::create_directories(people);
    for (auto bad : {"../outside-people", "", "..", ".", "a/b"}) {
        std::string msg = stop_of([&] { qlcore::load_person(*models_, people, bad, false); });
        EXPECT_EQ(msg.rfind("Not a usable person name: '" + std::string(bad) + "'", 0), 0u) << msg;
        msg = stop_of([&] { qlcore::build_gallery(*models_, people, {bad}); });
        EXPECT_EQ(msg.rfind("Not a usable person name", 0), 0u) << msg;
    }
    EXPECT_FALSE(fs::exists(people_.path() / ".embeddings.json"));
    EXPECT_FALSE(fs::exists(people_.path().parent_path() / "outside-people" / ".embeddings.json"));
    fs::remove_all(people_.path().parent_path() / "outside-people");
}

TEST_F(PeopleTest, GalleryJoinsKeptPeopleWithUsablePhotos) {
    person("Ann", {"obama-720p.jpg", "obama1.jpg", "obama2.jpg"});
    fs::path bob = person("Bob");
    write_text(bob / "x.jpg", "bad");

    testing::internal::CaptureStdout();
    qlcore::Gallery g = qlcore::build_gallery(*models_, people_.path(), {"Ann", "Bob", "Ann"});
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "People kept visible:\n"
              "  Ann: 3 usable photo(s)\n"
              "  Bob: 0 usable photo(s)  (no clear face found in: x.jpg)\n"
              "  ⚠ Bob has no usable photos — they will be mosaicked too.\n"
              "  Ann: 3 usable photo(s)\n");
    EXPECT_EQ(g.names, (std::vector<std::string>{"Ann", "Ann"}));
    EXPECT_EQ(g.owners, (std::vector<int32_t>{0, 0, 0, 1, 1, 1}));
    ASSERT_EQ(g.gallery.rows, 6);
    ASSERT_EQ(g.gallery.cols, 128);
    EXPECT_EQ(cv::norm(g.gallery.rowRange(0, 3), g.gallery.rowRange(3, 6), cv::NORM_INF), 0.0);

    testing::internal::CaptureStdout();
    qlcore::Gallery none = qlcore::build_gallery(*models_, people_.path(), {});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No one selected to keep — every face will be mosaicked.\n");
    EXPECT_TRUE(none.names.empty());
    EXPECT_TRUE(none.owners.empty());
    EXPECT_EQ(none.gallery.rows, 0);
    EXPECT_EQ(none.gallery.cols, 128);
    EXPECT_EQ(none.gallery.type(), CV_32F);
}

TEST(PhotoOrder, CaseFoldedOnWindowsOnly) {
    using qlcore::photo_before;
    using qlcore::Platform;
    const Platform windows{false, true, ""}, linux{};
    EXPECT_TRUE(photo_before("a.jpg", "B.jpg", windows));
    EXPECT_FALSE(photo_before("a.jpg", "B.jpg", linux));
    EXPECT_TRUE(photo_before("B.jpg", "a.jpg", linux));
    EXPECT_FALSE(photo_before("A.jpg", "a.jpg", windows));  // the same name there
    EXPECT_FALSE(photo_before("a.jpg", "A.jpg", windows));
}
