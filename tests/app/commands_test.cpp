// `qlcore people` and `qlcore enroll` run end to end in a test installation.
#include <gtest/gtest.h>

#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "support/test_install.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class FaceCommands : public ::testing::Test {
  protected:
    qlcore::RunResult run(const std::vector<std::string>& args) {
        return qltest::run_qlcore(args, {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                                  qltest::test_install_program());
    }
    fs::path people() const { return home_.path() / "people"; }
    fs::path still_clip(const std::string& name, int frames, const std::string& rate = "25",
                        const std::string& photo = "obama-720p.jpg") {
        return qltest::make_still_clip(work_ / name, qltest::shared_photo(photo), frames, rate);
    }
    std::vector<std::string> files_in(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    qltest::ScopedTempDir home_, work_;
};

void write_text(const fs::path& p, const std::string& text) {
    std::ofstream(p) << text;
}

}  // namespace

TEST_F(FaceCommands, PeopleWithoutPeopleSaysHowToStart) {
    auto r = run({"people"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "No people yet. Make a folder per person in " + people().string() +
                         " and drop in a few clear photos.\n");
}

TEST_F(FaceCommands, PeopleListsEveryoneAndRefreshesTheirCaches) {
    fs::create_directories(people() / "Ann");
    fs::create_directories(people() / "Bob");
    fs::create_directories(people() / ".trash");
    fs::copy_file(qltest::shared_photo("obama-720p.jpg"), people() / "Ann" / "one.jpg");
    fs::copy_file(qltest::shared_photo("obama1.jpg"), people() / "Ann" / "two.jpg");
    write_text(people() / "Bob" / "x.jpg", "not a photo");
    auto r = run({"people"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "  Ann: 2 usable photo(s)\n"
              "  Bob: 0 usable photo(s)  (no clear face found in: x.jpg)\n");
    EXPECT_TRUE(fs::exists(people() / "Ann" / ".embeddings.json"));
    EXPECT_TRUE(fs::exists(people() / "Bob" / ".embeddings.json"));
    EXPECT_FALSE(fs::exists(people() / ".trash" / ".embeddings.json"));
}

TEST_F(FaceCommands, MissingModelsStopWithTheInstallerMessage) {
    // A copy of the program with no models beside it.
    qltest::ScopedTempDir bare;
    fs::copy_file(qltest::qlcore_program(), bare / "qlcore");
    fs::create_directories(people() / "Ann");
    auto r = qltest::run_qlcore({"people"}, {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                                bare / "qlcore");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model files missing in " + (fs::canonical(bare.path()) / "models").string() +
                         ". Re-run the installer.\nInstall them with: qlcore-fetch-models "
                         "(in a source checkout: scripts/fetch-models)\n");

    fs::path clip = still_clip("clip.mp4", 5);
    r = qltest::run_qlcore({"enroll", "Cy", "--from-video", clip.string()},
                           {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                           bare / "qlcore");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Model files missing in "), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_directory(people() / "Cy")) << "the folder is made before the models load";
}

TEST_F(FaceCommands, WithoutItsImageModuleThePhotosStopTheRunNamingTheFile) {
    // The test installation without the module: photos must not pass for
    // faceless ones, or a person to keep would silently be mosaicked.
    qltest::ScopedTempDir bare;
    const fs::path installed = qltest::test_install_program().parent_path();
    fs::copy_file(installed / "qlcore", bare / "qlcore");
    fs::copy(installed / "models", bare / "models");
    fs::create_directories(people() / "Ann");
    fs::copy_file(qltest::shared_photo("obama1.jpg"), people() / "Ann" / "one.jpg");
    auto r = qltest::run_qlcore({"people"}, {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                                bare / "qlcore");
    EXPECT_EQ(r.status, 1);
    const fs::path module = fs::canonical(bare.path()) / "libqlcore_opencv_io.so";
    EXPECT_NE(r.err.find("cannot load " + module.string() + ": "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(people() / "Ann" / ".embeddings.json"));

    fs::copy_file(installed / "libqlcore_opencv_io.so", module);
    r = qltest::run_qlcore({"people"}, {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                           bare / "qlcore");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "  Ann: 1 usable photo(s)\n");
}

TEST_F(FaceCommands, EnrollSavesFaceCropsAtTheSampleStep) {
    fs::path clip = still_clip("clip.mp4", 100);  // 25 fps, every 1.5 s: step 38
    auto r = run({"enroll", "  Ann ", "--from-video", clip.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    const fs::path ann = people() / "Ann";
    EXPECT_NE(
        r.out.find("Pulling the largest face every 1.5s from clip.mp4 into " + ann.string() + "\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nSaved 3 face photo(s) for Ann.\nOpen the folder and delete any photo "
                         "that is NOT them — that matters more than having many.\n"),
              std::string::npos)
        << r.out;
    ASSERT_EQ(files_in(ann),
              (std::vector<std::string>{"clip_000000.jpg", "clip_000038.jpg", "clip_000076.jpg"}));
    // The face (about 157 x 218 at 586, 61) with a margin of 0.6 x 218 on each
    // side, cut by the top edge.
    cv::Mat photo = cv::imread((ann / "clip_000038.jpg").string());
    ASSERT_FALSE(photo.empty());
    EXPECT_NEAR(photo.cols, 157 + 2 * 130, 12);
    EXPECT_NEAR(photo.rows, 61 + 218 + 130, 12);

    // The photos it saved are usable ones.
    r = run({"people"});
    EXPECT_EQ(r.out, "  Ann: 3 usable photo(s)\n");
}

TEST_F(FaceCommands, EnrollStopsAtMaxAndRoundsTheStep) {
    fs::path clip24 = still_clip("c24.mp4", 120, "24");
    auto r = run({"enroll", "Ann", "--from-video", clip24.string(), "--every", "2", "--max", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("every 2.0s from c24.mp4"), std::string::npos) << r.out;
    EXPECT_EQ(files_in(people() / "Ann"),
              (std::vector<std::string>{"c24_000000.jpg", "c24_000048.jpg"}));

    fs::path clip = still_clip("tiny.mp4", 10);
    r = run({"enroll", "Bob", "--from-video", clip.string(), "--every", "0.01", "--max", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files_in(people() / "Bob"),
              (std::vector<std::string>{"tiny_000000.jpg", "tiny_000001.jpg", "tiny_000002.jpg"}));
}

TEST_F(FaceCommands, EnrollCountsOnlyPhotosThatWereWritten) {
    fs::path clip = still_clip("clip.mp4", 100);
    // A folder in the way of the first photo makes its write fail.
    fs::create_directories(people() / "Ann" / "clip_000000.jpg");
    auto r = run({"enroll", "Ann", "--from-video", clip.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Saved 2 face photo(s) for Ann."), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(people() / "Ann" / "clip_000038.jpg"));
    EXPECT_TRUE(fs::exists(people() / "Ann" / "clip_000076.jpg"));

    fs::create_directories(people() / "Bob" / "clip_000000.jpg");
    r = run({"enroll", "Bob", "--from-video", clip.string(), "--every", "10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Saved 0 face photo(s) for Bob."), std::string::npos) << r.out;
}

TEST_F(FaceCommands, EnrollWithoutFacesOrClipFails) {
    qltest::ClipSpec spec;
    spec.frames = 40;
    fs::path clip = qltest::make_clip(work_ / "pattern.mp4", spec);
    auto r = run({"enroll", "Ann", "--from-video", clip.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Saved 0 face photo(s) for Ann."), std::string::npos) << r.out;
    EXPECT_TRUE(files_in(people() / "Ann").empty());

    r = run({"enroll", "Ann", "--from-video", (work_ / "missing.mp4").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
}

TEST_F(FaceCommands, EnrollRefusesNamesOutsideThePeopleFolder) {
    fs::path clip = still_clip("clip.mp4", 5);
    for (std::string bad : {"../evil", "a/b", "", "   ", "..", "/tmp/evil"}) {
        auto r = run({"enroll", bad, "--from-video", clip.string()});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("Not a usable person name"), std::string::npos) << bad << r.err;
    }
    EXPECT_FALSE(fs::exists(home_.path() / "evil"));
    EXPECT_FALSE(fs::exists(people() / "a"));
    EXPECT_TRUE(files_in(people()).empty());
    EXPECT_FALSE(fs::exists("/tmp/evil/clip_000000.jpg"));
}
