// `qlcore process --job` end to end in the test installation: a job folder
// with one clip of two people and one missing clip, keeping one person.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/json_text.h"
#include "support/face_clips.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using qlcore::json;

namespace {

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

}  // namespace

TEST(JobEndToEnd, KeepsTheEnrolledFaceAndReportsTheMissingClip) {
    qltest::ScopedTempDir home, work;
    // The stand-in recogniser matches the very photo the clip was made from;
    // the raised threshold leaves nobody else a chance.
    fs::create_directories(home / "people" / "Barack");
    fs::copy_file(qltest::shared_photo(qltest::OBAMA_PHOTO),
                  home / "people" / "Barack" / "portrait.jpg");
    const fs::path src = qltest::make_two_people_clip(work / "two.mov");
    const fs::path missing = work / "gone.mov";
    const fs::path job = work / "job", out_dir = work / "for clip";
    fs::create_directories(job);
    write_text(job / "clips.txt",
               src.string() + "\t" + out_dir.string() + "\n\n" + missing.string() + "\n");
    write_text(job / "keep.txt", "Barack\n");
    write_text(job / "options.txt", "codec=h264\n  speed=fast \nthreshold=0.9\n");

    const std::vector<std::string> env{"QUILLET_HOME=" + home.path().string()};
    auto r = qltest::run_qlcore({"process", "--job", job.string()}, env, std::nullopt,
                                qltest::test_install_program());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    const std::string& said = r.out;
    EXPECT_NE(said.find("Fast mode: quicker, but small faces in the background are more likely "
                        "to be missed.\n"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("\n[1/2]\n"), std::string::npos) << said;
    EXPECT_NE(said.find("\n  faces tracked: 2  ·  left visible: 1  ·  mosaicked: 1\n"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("\n[2/2]\n  ⚠ missing file: " + missing.string() + "\n"), std::string::npos)
        << said;
    EXPECT_TRUE(std::regex_search(
        said,
        std::regex("\nFinished 1/2 clip\\(s\\) in [0-9]+\\.[0-9] min\\.\nFailed: gone\\.mov\n$")))
        << said;

    // The clip's files went to the folder its line names; h264 as asked.
    const fs::path out = out_dir / "two_mosaic.mov";
    const json report = qlcore::parse_json(read_text(out_dir / "two_mosaic.json"));
    EXPECT_EQ(report["keep"], json::array({"Barack"}));
    const json probe = qlcore::parse_json(qltest::probe_json(out));
    EXPECT_EQ(probe["streams"][0].value("codec_name", ""), "h264");
    EXPECT_EQ(qltest::count_frames(out), 30);
    // Fast mode is part of the search's key.
    const json cache = qlcore::parse_json(read_text(out_dir / "two_mosaic.analysis.json"));
    EXPECT_EQ(cache["key"]["det"].dump(), "[0.42,1600,2]");
    EXPECT_EQ(cache["key"]["names"], json::array({"Barack"}));

    // At the default threshold Barack's match would be clear; at 0.9 it is
    // borderline, and the other face is mosaicked.
    ASSERT_EQ(report["tracks"].size(), 2u);
    json kept, hidden;
    for (const auto& t : report["tracks"])
        (t["keep"] == true ? kept : hidden) = t;
    ASSERT_FALSE(kept.is_null());
    ASSERT_FALSE(hidden.is_null());
    EXPECT_EQ(kept["person"], "Barack");
    EXPECT_EQ(kept["review"], "kept-borderline");
    EXPECT_GE(kept["median"].get<double>(), 0.9);
    EXPECT_LT(hidden["median"].get<double>(), 0.9);
    ASSERT_EQ(report["markers"].size(), 1u);
    const json& m = report["markers"][0];
    EXPECT_EQ(m["color"], "Red");

    // His face stays visible in every frame; the other never shows.
    const auto faces = qltest::faces_per_frame(out, 0.3f);
    ASSERT_EQ(faces.size(), 30u);
    size_t left_seen = 0;
    for (size_t i = 0; i < faces.size(); ++i) {
        bool left = false;
        for (const auto& f : faces[i]) {
            EXPECT_LT(f.x + f.w / 2, 240) << "a face on the right in frame " << i;
            left = left || f.x + f.w / 2 < 240;
        }
        left_seen += left;
    }
    EXPECT_EQ(left_seen, 30u);

    // results.tsv: the clip line and its marker; done.flag: the local time.
    std::ostringstream expected;
    expected << "CLIP\t" << src.string() << "\t" << out.string() << "\n"
             << "MARK\t" << out.string() << "\t" << m["frame"].get<int>() << "\t"
             << m["duration"].get<int>() << "\tRed\tQuillet: check visible face\t"
             << m["note"].get<std::string>() << "\n";
    EXPECT_EQ(read_text(job / "results.tsv"), expected.str());
    const std::string note = m["note"];
    EXPECT_EQ(
        note.rfind("Left visible as Barack (similarity " + qlcore::dump_compact(kept["median"]) +
                       "). Make sure this is really them. If it is not them, hide it: "
                       "write {\"hide\": [{\"frame\": ",
                   0),
        0u)
        << note;
    EXPECT_TRUE(
        std::regex_match(read_text(job / "done.flag"),
                         std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << read_text(job / "done.flag");

    // Codec and fast mode do not redo a finished clip; its lines come from
    // the stored report.
    write_text(job / "options.txt", "codec=hevc\nthreshold=0.9\n");
    fs::remove(job / "results.tsv");
    fs::remove(job / "done.flag");
    r = qltest::run_qlcore({"process", "--job", job.string()}, env, std::nullopt,
                           qltest::test_install_program());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("already done earlier"), std::string::npos) << r.out;
    EXPECT_EQ(read_text(job / "results.tsv"), expected.str());
    EXPECT_TRUE(fs::exists(job / "done.flag"));

    // Another threshold does (a word leaves the default), on the cached search.
    write_text(job / "options.txt", "speed=fast\nthreshold=plenty\n");
    r = qltest::run_qlcore({"process", "--job", job.string()}, env, std::nullopt,
                           qltest::test_install_program());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(r.out.find("already done earlier"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos) << r.out;
    EXPECT_FALSE(qlcore::parse_json(read_text(out_dir / "two_mosaic.json")).contains("threshold"));
}
