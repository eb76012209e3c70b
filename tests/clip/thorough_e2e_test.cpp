// `qlcore process --thorough` on a face too dark for the default search, and on
// clutter the search takes weakly for faces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/files.h"
#include "platform/json_text.h"
#include "support/face_clips.h"
#include "support/test_install.h"
#include "support/test_support.h"
#include "tracking/face_evidence.h"

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

namespace {

// Whether the box's centre lies in one of `faces` (grown by half a side).
bool on_a_face(const json& box, const std::vector<qltest::SeenFace>& faces) {
    const double cx = box[0].get<double>() + box[2].get<double>() / 2;
    const double cy = box[1].get<double>() + box[3].get<double>() / 2;
    for (const qltest::SeenFace& f : faces)
        if (std::abs(cx - (f.x + f.w / 2)) < f.w && std::abs(cy - (f.y + f.h / 2)) < f.h)
            return true;
    return false;
}

}  // namespace

namespace {

const fs::path OPENCV_DATA = "/usr/share/doc/opencv-doc/examples/data";

struct ClutterRun {
    int long_off_face = 0;   // candidates of 5 detections or more, mostly off the face
    int steady_checked = 0;  // of those, re-checked and moving as one
};

// A face moving over `backdrop` at `width` x `height`, through the thorough
// mode: no weak-evidence mosaic off the face, the face hidden.
ClutterRun expect_clutter_left_alone(const fs::path& backdrop, int width, int height) {
    qltest::ScopedTempDir home, work;
    qltest::FaceClipSpec spec;
    spec.width = width;
    spec.height = height;
    spec.frames = 25;
    spec.backdrop = backdrop;
    const fs::path src = qltest::make_moving_face_clip(work / "A002.mov", spec);
    const auto faces = qltest::faces_per_frame(src, 0.6f);
    EXPECT_EQ(qltest::frames_with_faces(faces).size(), 25u) << "the face should be plain to see";

    auto r = run(home.path(), {"process", "--thorough", src.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const fs::path dir = work / "Quillet";
    const json cache = qlcore::parse_json(qlcore::read_file(dir / "A002_mosaic.analysis.json"));
    const json report = qlcore::parse_json(qlcore::read_file(dir / "A002_mosaic.json"));

    ClutterRun seen;
    std::map<int, bool> off_face;  // candidate id -> mostly off the face
    for (size_t k = 0; k < cache["candidates"].size(); ++k) {
        const json& c = cache["candidates"][k];
        int off = 0;
        for (size_t i = 0; i < c["f"].size(); ++i)
            off += !on_a_face(c["b"][i], faces.at(c["f"][i].get<size_t>()));
        const bool away = 2 * off > static_cast<int>(c["f"].size());
        off_face[c["id"].get<int>()] = away;
        if (!away || c["f"].size() < 5) continue;
        ++seen.long_off_face;
        qlcore::FaceEvidence e;
        e.drift = cache["candidate_evidence"][k]["drift"].get<std::vector<double>>();
        seen.steady_checked += !c["c"].empty() && qlcore::moves_as_one(e);
    }
    for (const json& t : report["tracks"]) {
        if (t["review"] == "weak-evidence") {
            EXPECT_FALSE(off_face[t["track"].get<int>()]) << t.dump();
        }
    }
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(dir / "A002_mosaic.mov", 0.6f)),
              std::vector<int>{});
    return seen;
}

}  // namespace

TEST(ThoroughEndToEnd, ClutterTheDetectorTakesWeaklyForFacesIsNotMosaicked) {
    // Debian's opencv-doc photographs: a street of shops and houses.
    const fs::path backdrop = OPENCV_DATA / "leuvenA.jpg";
    if (!fs::exists(backdrop)) GTEST_SKIP() << "opencv-doc is not installed (scripts/bootstrap)";
    EXPECT_GE(expect_clutter_left_alone(backdrop, 640, 360).long_off_face, 1)
        << "the backdrop should hold face-like clutter";
}

TEST(ThoroughEndToEnd, SteadyClutterARecheckCannotConfirmIsNotMosaicked) {
    // Six photographs at about their own size, an orange among them: clutter
    // that stays put, so its landmarks are as steady as a face's.
    const std::vector<std::string> photos = {"leuvenA.jpg", "graf1.png",     "board.jpg",
                                             "orange.jpg",  "butterfly.jpg", "starry_night.jpg"};
    std::vector<std::string> cmd = {"ffmpeg", "-v", "error", "-y"};
    std::string graph;
    for (size_t i = 0; i < photos.size(); ++i) {
        if (!fs::exists(OPENCV_DATA / photos[i]))
            GTEST_SKIP() << "opencv-doc is not installed (scripts/bootstrap)";
        cmd.insert(cmd.end(), {"-i", (OPENCV_DATA / photos[i]).string()});
        const std::string n = std::to_string(i);
        graph.append("[").append(n).append("]scale=427:360,setsar=1[p").append(n).append("];");
    }
    qltest::ScopedTempDir scratch;
    const fs::path collage = scratch / "collage.png";
    graph += "[p0][p1][p2]hstack=3[top];[p3][p4][p5]hstack=3[bottom];[top][bottom]vstack";
    cmd.insert(cmd.end(), {"-filter_complex", graph, collage.string()});
    ASSERT_EQ(qltest::run_program(cmd).status, 0);

    EXPECT_GE(expect_clutter_left_alone(collage, 1280, 720).steady_checked, 1)
        << "the collage should hold clutter that steady landmarks and a re-check alone let "
           "through";
}

TEST(ThoroughEndToEnd, AFaceSeenWeaklyAfterItsTrackEndsStaysHiddenToTheLastFrame) {
    qltest::ScopedTempDir home, work;
    const fs::path src = qltest::make_moving_face_clip(work / "A001.mov");
    const fs::path dir = work / "Quillet";
    const fs::path out = dir / "A001_mosaic.mov";
    auto r = run(home.path(), {"process", "--thorough", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // The same search, as if the face were found surely only in frames 0..9
    // and weakly from frame 12 on: the weak part starts inside the sure
    // track's lead-out, so the two overlap there.
    const fs::path cache_path = dir / "A001_mosaic.analysis.json";
    json cache = qlcore::parse_json(qlcore::read_file(cache_path));
    ASSERT_EQ(cache["tracks"].size(), 1u) << cache.dump();
    json& t = cache["tracks"][0];
    ASSERT_EQ(t["f"].size(), 30u);
    int next_id = 0;
    for (const auto* list : {&cache["tracks"], &cache["candidates"]})
        for (const auto& c : *list)
            next_id = std::max(next_id, c["id"].get<int>() + 1);
    json weak = {{"id", next_id},      {"f", json::array()}, {"b", json::array()},
                 {"s", json::array()}, {"r", json::array()}, {"c", json::array()}};
    for (size_t i = 12; i < 30; ++i) {
        weak["f"].push_back(t["f"][i]);
        weak["b"].push_back(t["b"][i]);
        weak["s"].push_back(0.3);
    }
    for (const char* key : {"f", "b", "s"}) {
        json first = json::array();
        for (size_t i = 0; i < 10; ++i)
            first.push_back(t[key][i]);
        t[key] = first;
    }
    t["r"] = json::array();
    cache["candidates"].push_back(weak);
    // The weak part shows a face besides its score: its landmarks' drift as the
    // face's own, and a re-check that found it.
    json& drift = cache["evidence"][0]["drift"];
    json weak_drift = json::array({qlcore::NO_DRIFT});
    for (size_t i = 13; i < 30; ++i)
        weak_drift.push_back(drift[i]);
    drift.erase(drift.begin() + 10, drift.end());
    cache["candidate_evidence"].push_back(json::object(
        {{"drift", weak_drift}, {"lifted", json::array()}, {"inside", json::array()}}));
    cache["candidates"].back()["c"] = json::array({0.5});
    qlcore::write_file_atomic(cache_path, cache.dump());
    fs::remove(out);

    r = run(home.path(), {"process", "--thorough", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("faces tracked: 2  ·  left visible: 0  ·  mosaicked: 2"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
              std::vector<int>{});
    const json report = qlcore::parse_json(qlcore::read_file(dir / "A001_mosaic.json"));
    ASSERT_EQ(report["tracks"].size(), 2u) << report.dump();
    const json& w = report["tracks"][1];
    EXPECT_EQ(w["track"], next_id);
    EXPECT_EQ(w["review"], "weak-evidence");
    EXPECT_EQ(w["end"], 29);
    ASSERT_EQ(report["markers"].size(), 1u) << report.dump();
    EXPECT_EQ(report["markers"][0]["color"], "Purple");
}
