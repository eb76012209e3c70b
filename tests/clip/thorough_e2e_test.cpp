// `qlcore process --thorough` on a face too dark for the default search.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/json_text.h"
#include "support/face_clips.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using qlcore::json;

namespace {

// Below the program's own detector setting (0.42): a dim face scores less.
constexpr float SEEN_SCORE = 0.25f;

qlcore::RunResult run(const fs::path& home, const std::vector<std::string>& args) {
    return qltest::run_qlcore(args, {"QUILLET_HOME=" + home.string()}, std::nullopt,
                              qltest::test_install_program());
}

}  // namespace

TEST(ThoroughEndToEnd, ADarkFaceTheDefaultSearchLeavesVisibleIsMosaicked) {
    qltest::ScopedTempDir home, work;
    qltest::FaceClipSpec spec;
    spec.width = 640;
    spec.height = 360;
    spec.frames = 25;
    // A face of about 55 px at a sixth of its brightness and a third of its
    // contrast: the detector scores it about 0.2 to 0.45.
    spec.look = "scale=iw/2:ih/2,eq=contrast=0.3,lutrgb=r=val*0.15:g=val*0.15:b=val*0.15";
    const fs::path src = qltest::make_moving_face_clip(work / "A001.mov", spec);
    const fs::path dir = work / "Quillet";
    const fs::path out = dir / "A001_mosaic.mov";
    const size_t seen = qltest::frames_with_faces(qltest::faces_per_frame(src, SEEN_SCORE)).size();
    ASSERT_GE(seen, 20u) << "the clip should show the face";

    auto r = run(home.path(), {"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Thorough mode"), std::string::npos) << r.out;
    EXPECT_GE(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)).size(), seen - 2)
        << "the default search was expected to leave this face visible";
    const std::string default_cache = qlcore::read_file(dir / "A001_mosaic.analysis.json");

    // Thorough: searched again (the default search is not reused), hidden.
    r = run(home.path(), {"process", "--thorough", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Thorough mode: slower, but finds more small, dim and turned faces.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("finding faces"), std::string::npos) << r.out;
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
              std::vector<int>{});
    const json report = qlcore::parse_json(qlcore::read_file(dir / "A001_mosaic.json"));
    EXPECT_EQ(report.value("mode", ""), "thorough");
    EXPECT_NE(qlcore::read_file(dir / "A001_mosaic.review.html").find("thorough"),
              std::string::npos);
    ASSERT_GE(report["tracks"].size(), 1u) << report.dump();
    const json cache = qlcore::parse_json(qlcore::read_file(dir / "A001_mosaic.analysis.json"));
    EXPECT_EQ(cache["key"].value("mode", ""), "thorough");
    EXPECT_TRUE(cache.contains("candidates"));
    EXPECT_NE(qlcore::read_file(dir / "A001_mosaic.analysis.json"), default_cache);

    // A default run leaves the thorough result alone; a thorough redo reuses
    // the thorough search and gives the same report.
    r = run(home.path(), {"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << r.out;
    fs::remove(out);
    r = run(home.path(), {"process", "--thorough", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos) << r.out;
    EXPECT_EQ(qlcore::parse_json(qlcore::read_file(dir / "A001_mosaic.json")), report);
}
