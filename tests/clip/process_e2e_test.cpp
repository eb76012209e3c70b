// `qlcore process` on clips of real faces, run in the test installation: the
// real detector finds the faces, the output is checked with ffprobe and with
// the detector again.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "clip/overrides.h"
#include "platform/files.h"
#include "platform/json_text.h"
#include "support/face_clips.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using qlcore::json;
using qltest::names_in;

namespace {

// Stricter than the program's own detector setting (0.42): a face that the
// mosaic leaves half-recognisable still counts as seen.
constexpr float SEEN_SCORE = 0.3f;

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

json stream_of(const json& probe, const std::string& type) {
    for (const auto& s : probe.at("streams"))
        if (s.value("codec_type", "") == type) return s;
    return json();
}

// ffmpeg and ffprobe stand-ins that note each start in a log, then run the
// real tool.
fs::path logging_tools(const fs::path& dir, const fs::path& log) {
    fs::create_directories(dir);
    for (const std::string tool : {"ffmpeg", "ffprobe"}) {
        const auto real = qlcore::find_on_path(tool);
        EXPECT_TRUE(real) << tool;
        const fs::path script = dir / tool;
        std::ofstream(script) << "#!/bin/sh\necho \"" << tool << " $*\" >> '" << log.string()
                              << "'\nexec '" << real->string() << "' \"$@\"\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    return dir;
}

// The cached track of the face further left at its first detection.
json& left_track(json& cache) {
    json* left = nullptr;
    for (auto& t : cache["tracks"])
        if (!left || t["b"][0][0].get<double>() < (*left)["b"][0][0].get<double>()) left = &t;
    return *left;
}

// Makes a cached track look like a non-face the verdicts ignore: never sure,
// failing its re-check (its boxes are wide enough to count as big).
void as_non_face(json& t) {
    for (auto& s : t["s"])
        s = 0.5;
    t["c"] = json::array({0.1});
}

class ProcessEndToEnd : public ::testing::Test {
  protected:
    qlcore::RunResult run(const std::vector<std::string>& args) {
        return qltest::run_qlcore(args, {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                                  qltest::test_install_program());
    }
    qltest::ScopedTempDir home_, work_;
};

}  // namespace

TEST_F(ProcessEndToEnd, MovingFaceIsMosaickedThenSkippedThenKeptByAMark) {
    const fs::path src = qltest::make_moving_face_clip(work_ / "A001.mov");
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const fs::path dir = work_ / "Quillet";
    const fs::path out = dir / "A001_mosaic.mov";
    EXPECT_NE(r.out.find("\n▶ A001.mov\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  faces tracked: 1  ·  left visible: 0  ·  mosaicked: 1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n  ✓ saved " + out.string() + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(names_in(dir),
              (std::vector<std::string>{"A001_mosaic.analysis.json", "A001_mosaic.json",
                                        "A001_mosaic.mov", "A001_mosaic.review.html"}));

    // Every face the detector saw in the source is gone from the output.
    const auto source_faces = qltest::faces_per_frame(src, SEEN_SCORE);
    ASSERT_EQ(source_faces.size(), 30u);
    EXPECT_EQ(qltest::frames_with_faces(source_faces).size(), 30u);
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
              std::vector<int>{});

    // Same length, the source's audio and timecode, ProRes by default.
    const json probe = qlcore::parse_json(qltest::probe_json(out));
    EXPECT_EQ(qltest::count_frames(out), 30);
    EXPECT_EQ(stream_of(probe, "video").value("codec_name", ""), "prores");
    const json audio = stream_of(probe, "audio");
    EXPECT_EQ(audio.value("codec_name", ""), "pcm_s16le");
    EXPECT_EQ(audio.value("duration", ""), "1.200000");
    EXPECT_EQ(stream_of(probe, "data")["tags"].value("timecode", ""), "01:00:00:00");

    // The report: one-space indentation, ASCII, no final line break.
    const std::string report_text = read_text(dir / "A001_mosaic.json");
    EXPECT_EQ(report_text.rfind("{\n \"source\": ", 0), 0u) << report_text;
    EXPECT_NE(report_text.back(), '\n');
    const json report = qlcore::parse_json(report_text);
    EXPECT_EQ(report["source"], src.string());
    EXPECT_EQ(report["output"], out.string());
    EXPECT_EQ(report["frames"], 30);
    EXPECT_EQ(report["keep"], json::array());
    EXPECT_EQ(report["engine"], 6);
    EXPECT_EQ(report["overrides"], json::object());
    ASSERT_EQ(report["tracks"].size(), 1u);
    EXPECT_EQ(report["tracks"][0]["start"], 0);
    EXPECT_EQ(report["tracks"][0]["end"], 29);
    EXPECT_EQ(report["tracks"][0]["keep"], false);
    EXPECT_EQ(report["markers"], json::array());

    // The cache: compact, under the key of this clip and the default settings.
    const std::string cache_text = read_text(dir / "A001_mosaic.analysis.json");
    EXPECT_EQ(cache_text.find_first_of(" \n"), std::string::npos);
    const json cache = qlcore::parse_json(cache_text);
    EXPECT_EQ(cache["key"]["v"], 5);
    EXPECT_EQ(cache["key"]["size"], fs::file_size(src));
    EXPECT_EQ(cache["key"]["names"], json::array());
    EXPECT_EQ(cache["key"]["gallery"].dump(), "[0,0.0]");
    EXPECT_EQ(cache["key"]["det"].dump(), "[0.42,1920,1]");
    EXPECT_EQ(cache["frames"], 30);
    ASSERT_EQ(cache["tracks"].size(), 1u);
    EXPECT_EQ(cache["tracks"][0]["f"].size(), 30u);

    // Nothing changed: skipped, and the video is left alone.
    const auto written = fs::last_write_time(out);
    r = run({"process", src.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(
        r.out.find("\n  already done earlier — skipping (delete its _mosaic file to redo it)\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("finding faces"), std::string::npos) << r.out;
    EXPECT_EQ(fs::last_write_time(out), written);

    // A mark at frame 15 keeps the face: judged again from the cached search.
    std::ofstream(dir / "A001_mosaic.overrides.json") << R"({"keep": [15]})";
    r = run({"process", src.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\n  reusing earlier face search (1 tracks)\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("finding faces"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  faces tracked: 1  ·  left visible: 1  ·  mosaicked: 0\n"),
              std::string::npos)
        << r.out;
    const json marked = qlcore::parse_json(read_text(dir / "A001_mosaic.json"));
    EXPECT_EQ(marked["overrides"].dump(), R"({"keep":[15]})");
    EXPECT_EQ(marked["tracks"][0]["keep"], true);
    EXPECT_EQ(marked["tracks"][0]["person"], "(marked by you)");
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)).size(), 30u);
}

TEST_F(ProcessEndToEnd, FaceWalkingInAndOutIsCoveredUpToTheFrameEdges) {
    qltest::FaceClipSpec spec;
    spec.frames = 40;
    spec.audio = false;
    spec.timecode = "";
    const fs::path src = qltest::make_passing_face_clip(work_ / "walk.mov", spec);
    const fs::path out_dir = work_ / "out";
    auto r = run({"process", "--codec", "h264", "--out-dir", out_dir.string(), src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const fs::path out = out_dir / "walk_mosaic.mov";

    const auto source_faces = qltest::faces_per_frame(src, SEEN_SCORE);
    const auto seen = qltest::frames_with_faces(source_faces);
    ASSERT_GE(seen.size(), 25u);
    EXPECT_EQ(source_faces.front().size() + source_faces.back().size(), 0u)
        << "nobody in the first and last frames";
    // Faces cut by the frame's side included.
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
              std::vector<int>{});
    EXPECT_EQ(qltest::count_frames(out), 40);
    const json probe = qlcore::parse_json(qltest::probe_json(out));
    EXPECT_EQ(stream_of(probe, "video").value("codec_name", ""), "h264");
    EXPECT_TRUE(stream_of(probe, "audio").is_null());
}

TEST_F(ProcessEndToEnd, EveryStyleHidesTheFaceAndAStyleChangeRedoesFromTheCachedSearch) {
    const fs::path src = qltest::make_moving_face_clip(work_ / "A001.mov");
    const fs::path dir = work_ / "Quillet";
    const fs::path out = dir / "A001_mosaic.mov";
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string mosaic_report = read_text(dir / "A001_mosaic.json");
    EXPECT_EQ(mosaic_report.find("\"style\""), std::string::npos) << "the default is left unsaid";

    for (const std::string style : {"coarse", "blur", "solid"}) {
        r = run({"process", "--style", style, src.string()});
        ASSERT_EQ(r.status, 0) << style << r.out << r.err;
        EXPECT_NE(r.out.find("\n  reusing earlier face search (1 tracks)\n"), std::string::npos)
            << style << r.out;
        EXPECT_EQ(r.out.find("finding faces"), std::string::npos) << style << r.out;
        const json report = qlcore::parse_json(read_text(dir / "A001_mosaic.json"));
        EXPECT_EQ(report.value("style", ""), style);
        EXPECT_EQ(qltest::count_frames(out), 30) << style;
        EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
                  std::vector<int>{})
            << style;
        // The same style again: nothing to do.
        r = run({"process", "--style", style, src.string()});
        EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << style << r.out;
    }

    // Back to the mosaic: the first run's report, byte for byte.
    const std::string styled_video = read_text(out);
    r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos) << r.out;
    EXPECT_EQ(read_text(dir / "A001_mosaic.json"), mosaic_report);
    EXPECT_NE(read_text(out), styled_video);
}

TEST_F(ProcessEndToEnd, AnotherThresholdRedoesAFinishedClipFromTheCachedSearch) {
    const fs::path src = qltest::make_moving_face_clip(work_ / "A001.mov");
    const fs::path report = work_ / "Quillet" / "A001_mosaic.json";
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string first = read_text(report);
    EXPECT_EQ(first.find("\"threshold\""), std::string::npos) << "the default is left unsaid";

    r = run({"process", "--threshold", "0.9", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\n  reusing earlier face search (1 tracks)\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(qlcore::parse_json(read_text(report)).value("threshold", 0.0), 0.9);
    r = run({"process", "--threshold", "0.9", src.string()});
    EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << r.out;

    r = run({"process", src.string()});
    EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos) << r.out;
    EXPECT_EQ(read_text(report), first);
}

TEST_F(ProcessEndToEnd, ANonFaceLeftVisibleIsFlaggedAndHiddenByTheFrameItsMarkerNames) {
    const fs::path src = qltest::make_moving_face_clip(work_ / "A001.mov");
    const fs::path dir = work_ / "Quillet";
    const fs::path out = dir / "A001_mosaic.mov";
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // The same search, as if the face had been dim: wide, never sure, and
    // failing its re-checks, so the verdicts take it for a non-face.
    const fs::path cache_path = dir / "A001_mosaic.analysis.json";
    json cache = qlcore::parse_json(read_text(cache_path));
    ASSERT_EQ(cache["tracks"].size(), 1u);
    json& t = cache["tracks"][0];
    for (auto& b : t["b"])
        b[2] = std::max(b[2].get<double>(), 200.0);
    for (auto& s : t["s"])
        s = 0.5;
    t["c"] = json::array({0.1});
    std::ofstream(cache_path, std::ios::binary | std::ios::trunc) << cache.dump();
    fs::remove(out);

    r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("reusing earlier face search (1 tracks)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ignored 1 non-face(s)"), std::string::npos) << r.out;
    json report = qlcore::parse_json(read_text(dir / "A001_mosaic.json"));
    EXPECT_EQ(report["tracks"], json::array());
    ASSERT_EQ(report["markers"].size(), 1u) << report.dump();
    const json m = report["markers"][0];
    EXPECT_EQ(m["color"], "Purple");
    EXPECT_EQ(m["name"], "Quillet: check face left visible");
    const std::string note = m["note"];
    EXPECT_NE(note.find("best detector score 0.5"), std::string::npos) << note;
    const size_t at = note.find("write {\"hide\": [{\"frame\": "), end = note.find(" into ");
    ASSERT_NE(at, std::string::npos) << note;
    const std::string line = note.substr(at + 6, end - at - 6);
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)).size(), 30u)
        << "left visible";

    // Hidden by that line: mosaicked for its whole path, without a new search.
    std::ofstream(dir / "A001_mosaic.overrides.json") << line;
    r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("finding faces"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("faces tracked: 1  ·  left visible: 0  ·  mosaicked: 1\n"),
              std::string::npos)
        << r.out;
    report = qlcore::parse_json(read_text(dir / "A001_mosaic.json"));
    EXPECT_EQ(report["overrides"], qlcore::parse_overrides(line));
    ASSERT_EQ(report["tracks"].size(), 1u);
    EXPECT_EQ(report["tracks"][0]["person"], "(hidden by you)");
    EXPECT_EQ(report["tracks"][0]["keep"], false);
    EXPECT_EQ(report["markers"], json::array());
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
              std::vector<int>{});
}

TEST_F(ProcessEndToEnd, ARerunFromTheCacheNeitherProbesNorDecodesAFirstFrame) {
    const fs::path src = qltest::make_moving_face_clip(work_ / "A001.mov");
    const fs::path dir = work_ / "Quillet";
    const fs::path out = dir / "A001_mosaic.mov";
    const fs::path log = work_ / "tools.log";
    const fs::path bin = logging_tools(work_ / "bin", log);
    const std::string path = "PATH=" + bin.string() + ":" + std::getenv("PATH");
    auto run_logged = [&] {
        fs::remove(log);
        auto r = qltest::run_qlcore({"process", src.string()},
                                    {"QUILLET_HOME=" + home_.path().string(), path}, std::nullopt,
                                    qltest::test_install_program());
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return std::make_pair(r.out, read_text(log));
    };
    const auto probes = [](const std::string& tools) {
        return tools.find("ffprobe -v error -print_format json") != std::string::npos;
    };
    const auto first_frames = [](const std::string& tools) {
        return tools.find("-f image2pipe") != std::string::npos;
    };

    const auto [first_out, first_tools] = run_logged();
    ASSERT_TRUE(probes(first_tools)) << first_tools;
    ASSERT_TRUE(first_frames(first_tools)) << first_tools;
    const fs::path cache_path = dir / "A001_mosaic.analysis.json";
    const std::string cache_text = read_text(cache_path);
    const json cache = qlcore::parse_json(cache_text);
    EXPECT_EQ(cache["clip"].value("rate", ""), "25/1");
    EXPECT_EQ(cache["clip"].value("timecode", ""), "01:00:00:00");
    EXPECT_EQ(cache["frame_size"].dump(), "[480,270]");

    // A cache written before the clip was kept in it: probed as before.
    json old = cache;
    old.erase("clip");
    old.erase("frame_size");
    std::ofstream(cache_path, std::ios::binary | std::ios::trunc) << qlcore::dump_compact(old);
    fs::remove(out);
    const auto [old_out, old_tools] = run_logged();
    EXPECT_NE(old_out.find("\n  reusing earlier face search (1 tracks)\n"), std::string::npos)
        << old_out;
    EXPECT_TRUE(probes(old_tools)) << old_tools;
    EXPECT_TRUE(first_frames(old_tools)) << old_tools;
    const std::string probed_video = read_text(out);

    // With the clip kept: straight to the render, and the same video.
    std::ofstream(cache_path, std::ios::binary | std::ios::trunc) << cache_text;
    fs::remove(out);
    const auto [again_out, again_tools] = run_logged();
    EXPECT_NE(again_out.find("\n  reusing earlier face search (1 tracks)\n"), std::string::npos)
        << again_out;
    EXPECT_EQ(again_tools.find("ffprobe"), std::string::npos) << again_tools;
    EXPECT_FALSE(first_frames(again_tools)) << again_tools;
    EXPECT_TRUE(read_text(out) == probed_video) << "byte for byte";
}

// A report that cannot be written fails the clip, but the finished video
// stays (the next run redoes the clip, as it has no report) unless something
// at the report's name could still vouch for it.
TEST_F(ProcessEndToEnd, AReportThatCannotBeWrittenKeepsTheVideoUnlessItWouldBeVouchedFor) {
    const fs::path src = qltest::make_moving_face_clip(work_ / "A001.mov");
    const fs::path dir = work_ / "Quillet", video = dir / "A001_mosaic.mov";
    const fs::path report = dir / "A001_mosaic.json";
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto frames = qltest::count_frames(video);

    fs::remove(report);
    fs::create_directory(report);  // in the report's way, but removable
    r = run({"process", src.string()});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("✗ failed: cannot write " + report.string()), std::string::npos) << r.out;
    EXPECT_EQ(qltest::count_frames(video), frames);
    EXPECT_FALSE(fs::exists(report));
    r = run({"process", src.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_regular_file(report));

    fs::remove(report);
    fs::create_directories(report / "kept");  // in the way and not removable
    r = run({"process", src.string()});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_FALSE(fs::exists(video));
}

TEST_F(ProcessEndToEnd, AMalformedOverridesFileIsSaidAndStillHidesButKeepsNothing) {
    const fs::path src = qltest::make_two_people_clip(work_ / "two.mov");
    const fs::path dir = work_ / "Quillet";
    const fs::path out = dir / "two_mosaic.mov";
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const fs::path cache_path = dir / "two_mosaic.analysis.json";
    json cache = qlcore::parse_json(read_text(cache_path));
    ASSERT_EQ(cache["tracks"].size(), 2u);
    as_non_face(left_track(cache));
    qlcore::write_file_atomic(cache_path, cache.dump());
    fs::remove(out);

    // One bad "keep" entry: the hide still hides the left face, the keep
    // does not lift the right one's mosaic.
    const fs::path ov = dir / "two_mosaic.overrides.json";
    std::ofstream(ov) << R"({"keep": [15, "fifteen"], "hide": [15]})";
    r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\n  ⚠ the overrides file " + ov.string() +
                         " is malformed (\"keep\" holds \"fifteen\", neither a frame number nor "
                         "{\"frame\": N, \"box\": [x, y, w, h]}): none of its \"keep\" marks "
                         "apply, its readable \"hide\" marks do\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("faces tracked: 2  ·  left visible: 0  ·  mosaicked: 2\n"),
              std::string::npos)
        << r.out;
    const json report = qlcore::parse_json(read_text(dir / "two_mosaic.json"));
    EXPECT_EQ(report["overrides"].dump(), R"({"hide":[15]})");
    EXPECT_EQ(qltest::frames_with_faces(qltest::faces_per_frame(out, SEEN_SCORE)),
              std::vector<int>{});

    // Said again when the clip is skipped.
    r = run({"process", src.string()});
    EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("is malformed"), std::string::npos) << r.out;
}

TEST_F(ProcessEndToEnd, AKeepMarkByBoxStaysWithItsFaceWhenThePeopleChange) {
    const fs::path src = qltest::make_two_people_clip(work_ / "two.mov");
    const fs::path dir = work_ / "Quillet";
    const fs::path out = dir / "two_mosaic.mov";
    auto r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_NE(r.out.find("left visible: 0  ·  mosaicked: 2"), std::string::npos) << r.out;

    // The left face (Barack) marked by its box at frame 15.
    json cache = qlcore::parse_json(read_text(dir / "two_mosaic.analysis.json"));
    const json& left = left_track(cache);
    json box;
    for (size_t i = 0; i < left["f"].size(); ++i)
        if (left["f"][i] == 15) box = left["b"][i];
    ASSERT_TRUE(box.is_array()) << left.dump();
    const json mark = {{"frame", 15}, {"box", box}};
    std::ofstream(dir / "two_mosaic.overrides.json") << json{{"keep", {mark}}}.dump();
    r = run({"process", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("left visible: 1  ·  mosaicked: 1"), std::string::npos) << r.out;
    json report = qlcore::parse_json(read_text(dir / "two_mosaic.json"));
    const int left_id = left["id"];
    for (const auto& t : report["tracks"])
        EXPECT_EQ(t["person"] == "(marked by you)", t["track"] == left_id) << report.dump();

    // Barack enrolled and kept: recognition keeps him, the mark finds no
    // mosaicked face and says so; the other face stays mosaicked.
    fs::create_directories(home_ / "people" / "Barack");
    fs::copy_file(qltest::shared_photo(qltest::OBAMA_PHOTO),
                  home_ / "people" / "Barack" / "portrait.jpg");
    // (At this threshold the stand-in recogniser keeps only Barack.)
    r = run({"process", "--keep", "Barack", "--threshold", "0.9", src.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("finding faces"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  \u26a0 the \"keep\" mark {\"frame\": 15, \"box\": ["),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("]} was not applied: no mosaicked face is there\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("left visible: 1  ·  mosaicked: 1"), std::string::npos) << r.out;
    report = qlcore::parse_json(read_text(dir / "two_mosaic.json"));
    ASSERT_EQ(report["tracks"].size(), 2u) << report.dump();
    for (const auto& t : report["tracks"])
        EXPECT_NE(t["person"], "(marked by you)") << report.dump();
    const json& m = report["markers"].back();
    EXPECT_EQ(m["name"], "Quillet: mark not applied");
    EXPECT_EQ(m["frame"], 15);
    // Only Barack is seen in the output, on the left.
    const auto seen = qltest::faces_per_frame(out, SEEN_SCORE);
    for (const auto& frame : seen)
        for (const auto& f : frame)
            EXPECT_LT(f.x, 240.0f);
    EXPECT_GE(qltest::frames_with_faces(seen).size(), 25u);
}

TEST_F(ProcessEndToEnd, AnFfmpegWithoutTheCodecsEncoderFailsEachClipBeforeItsSearch) {
    const fs::path a = qltest::make_moving_face_clip(work_ / "A001.mov");
    const fs::path b = work_ / "A002.mov";
    fs::copy_file(a, b);
    const fs::path log = work_ / "tools.log";
    const fs::path bin = work_ / "bin";
    fs::create_directories(bin);
    const auto real = qlcore::find_on_path("ffmpeg");
    ASSERT_TRUE(real);
    // An ffmpeg built without libx264: its listing leaves it out.
    std::ofstream(bin / "ffmpeg") << "#!/bin/sh\necho \"ffmpeg $*\" >> '" << log.string()
                                  << "'\nif [ \"$2\" = -encoders ]; then '" << real->string()
                                  << "' \"$@\" | grep -v libx264; exit 0; fi\nexec '"
                                  << real->string() << "' \"$@\"\n";
    fs::permissions(bin / "ffmpeg", fs::perms::owner_all);
    auto r = qltest::run_qlcore({"process", "--codec", "h264", a.string(), b.string()},
                                {"QUILLET_HOME=" + home_.path().string(),
                                 "PATH=" + bin.string() + ":" + std::getenv("PATH")},
                                std::nullopt, qltest::test_install_program());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    const std::string line =
        "  \u2717 failed: this ffmpeg cannot encode with libx264; put a full "
        "ffmpeg (one with libx264) on PATH\n";
    const std::string said = r.out + r.err;
    const size_t first = said.find(line);
    ASSERT_NE(first, std::string::npos) << said;
    EXPECT_NE(said.find(line, first + 1), std::string::npos) << "both clips: " << said;
    // Neither clip was searched; the listing was asked for once.
    EXPECT_FALSE(fs::exists(work_ / "Quillet" / "A001_mosaic.analysis.json"));
    EXPECT_FALSE(fs::exists(work_ / "Quillet" / "A002_mosaic.analysis.json"));
    const std::string tools = read_text(log);
    EXPECT_EQ(tools.find("-f rawvideo"), std::string::npos) << tools;
    const size_t listing = tools.find("-encoders");
    ASSERT_NE(listing, std::string::npos) << tools;
    EXPECT_EQ(tools.find("-encoders", listing + 1), std::string::npos) << tools;
}
