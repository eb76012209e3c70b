// `process` on job folders full of bad input, run in the test installation:
// every bad clip fails alone with one readable line, the batch goes on, and
// nothing half-made is left, least of all under a final name.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "app/run_checks.h"
#include "platform/files.h"
#include "platform/json_text.h"

namespace fs = std::filesystem;
using namespace qlchecks;
using qlcore::json;

namespace {

class BadInput : public ::testing::Test {
  protected:
    // A small faceless clip: only the way through the program matters here.
    fs::path clip(const fs::path& p, int frames = 10) {
        fs::create_directories(p.parent_path());
        qltest::ClipSpec spec;
        spec.width = 160;
        spec.height = 120;
        spec.frames = frames;
        return qltest::make_clip(p, spec);
    }

    fs::path job(const std::vector<std::string>& clips, const std::string& options = "") {
        const fs::path dir = work_ / "job";
        fs::create_directories(dir);
        std::string text;
        for (const auto& c : clips)
            text += c + "\n";
        write_text(dir / "clips.txt", text);
        if (!options.empty()) write_text(dir / "options.txt", options);
        return dir;
    }

    qlcore::RunResult run(const std::vector<std::string>& args,
                          const std::optional<fs::path>& cwd = std::nullopt) {
        auto r = run_in(home_.path(), args, cwd);
        EXPECT_TRUE(leftovers(work_.path()).empty()) << leftovers(work_.path())[0];
        EXPECT_TRUE(leftovers(home_.path()).empty()) << leftovers(home_.path())[0];
        return r;
    }

    qltest::ScopedTempDir home_, work_;
};

}  // namespace

TEST_F(BadInput, UnusableSourcesFailAloneWithOneLine) {
    const fs::path c = work_ / "cards";
    fs::create_directories(c);
    write_text(c / "text.mov", "not a video at all\n");
    write_text(c / "empty.mov", "");
    fs::create_directories(c / "folder.mov");
    qltest::run_program({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=1", "-c:a",
                         "pcm_s16le", (c / "audio.mov").string()});
    // Cut in half: without the index at the end nothing can be read; with it
    // at the front the picture breaks off half-way.
    for (const auto& [name, flags] :
         {std::pair<std::string, std::string>{"truncated", ""}, {"broken", "+faststart"}}) {
        qltest::ClipSpec spec;
        spec.frames = 100;
        if (!flags.empty()) spec.extra = {"-movflags", flags};
        qltest::make_clip(work_ / (name + "-whole.mov"), spec);
        std::string whole = read_text(work_ / (name + "-whole.mov"));
        write_text(c / (name + ".mov"), whole.substr(0, whole.size() / 2));
    }
    clip(c / "locked.mov");
    fs::permissions(c / "locked.mov", fs::perms::none);
    clip(c / "good.mov");

    const std::vector<std::string> names{"text.mov",      "empty.mov",  "folder.mov", "audio.mov",
                                         "truncated.mov", "broken.mov", "locked.mov", "good.mov"};
    std::vector<std::string> entries;
    for (const auto& n : names)
        entries.push_back((c / n).string());
    const fs::path dir = job(entries);
    auto r = run({"process", "--job", dir.string()});
    EXPECT_EQ(r.status, 2) << r.out << r.err;

    const std::pair<std::string, std::string> expected[] = {
        {"text.mov", "could not decode the first frame"},
        {"empty.mov", "cannot read " + (c / "empty.mov").string() + ": the file is empty"},
        {"folder.mov", "cannot read " + (c / "folder.mov").string() + ": it is a folder"},
        {"audio.mov", "could not decode the first frame"},
        {"truncated.mov", "could not decode the first frame"},
        {"broken.mov", "the video breaks off after frame "},
        {"locked.mov", "cannot read " + (c / "locked.mov").string() + ": Permission denied"},
    };
    for (const auto& [name, why] : expected) {
        EXPECT_NE(failure_of(r.out, name).find(why), std::string::npos)
            << name << ": " << failure_of(r.out, name) << "\n"
            << r.out;
        const std::string stem = fs::path(name).stem().string();
        EXPECT_TRUE(find_named(work_.path(), stem + "_mosaic.mov").empty()) << name;
        EXPECT_TRUE(find_named(home_.path(), stem + "_mosaic.mov").empty()) << name;
        EXPECT_TRUE(find_named(work_.path(), stem + "_mosaic.json").empty()) << name;
    }
    EXPECT_NE(failure_of(r.out, "broken.mov").find("partial file"), std::string::npos);
    EXPECT_EQ(failure_of(r.out, "good.mov"), "");
    EXPECT_TRUE(fs::exists(c / "Quillet" / "good_mosaic.mov"));
    EXPECT_NE(r.out.find("Finished 1/8 clip(s)"), std::string::npos);
    EXPECT_NE(r.out.find("Failed: text.mov, empty.mov, folder.mov, audio.mov, truncated.mov, "
                         "broken.mov, locked.mov\n"),
              std::string::npos);
    EXPECT_EQ(read_text(dir / "results.tsv"), "CLIP\t" + (c / "good.mov").string() + "\t" +
                                                  (c / "Quillet" / "good_mosaic.mov").string() +
                                                  "\n");
    EXPECT_TRUE(fs::exists(dir / "done.flag"));
}

// A camera file whose container counts a frame its decoder drops (with a
// complaint) is healthy: the render is judged by the frames the search read,
// on a fresh search and on the cached one alike.
TEST_F(BadInput, AContainerThatOverstatesItsCountIsNoBreakOff) {
    const fs::path src = clip(work_ / "cam" / "over.mov", 20);
    qltest::spoil_last_frame(src);
    const fs::path out = work_ / "cam" / "Quillet" / "over_mosaic.mov";
    for (int pass = 0; pass < 2; ++pass) {
        auto r = run({"process", src.string()});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(failure_of(r.out, "over.mov"), "") << r.out;
        EXPECT_EQ(qltest::count_frames(out), 19);
        if (pass == 1) {
            EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos);
        }
        fs::remove(out);  // the second pass reuses the search
    }
    EXPECT_NE(read_text(work_ / "cam" / "Quillet" / "over_mosaic.analysis.json")
                  .find(R"("frames":20,"read":19,)"),
              std::string::npos);
}

TEST_F(BadInput, AwkwardNamesAndLongPathsWork) {
    // Deep enough that the whole path is far beyond what old APIs allow.
    fs::path deep = work_.path();
    for (int i = 0; i < 12; ++i)
        deep /= std::string(100, static_cast<char>('a' + i));
    const std::vector<fs::path> clips{
        work_ / "my clips" / "A 001.mov",
        work_ / "Été" / "Ünïcødé 東京.mov",
        work_ / "-dash folder" / "-x.mov",
        work_ / "quotes" / "it's \"the\" one.mov",
        deep / "deep.mov",
    };
    std::vector<std::string> entries;
    for (const auto& p : clips)
        entries.push_back(clip(p).string());
    ASSERT_GT(clips.back().string().size(), 1200u);
    // A relative path that starts with "-" must still be read as a file.
    clip(work_ / "-rel.mov");
    entries.push_back("-rel.mov");
    // Its output's name is past the file system's limit on one name.
    const fs::path too_long = clip(work_ / (std::string(245, 'L') + ".mov"));
    entries.push_back(too_long.string());
    clip(work_ / "after.mov");
    entries.push_back((work_ / "after.mov").string());

    const fs::path dir = job(entries);
    auto r = run({"process", "--job", dir.string()}, work_.path());
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    for (const auto& p : clips)
        EXPECT_TRUE(fs::exists(p.parent_path() / "Quillet" / (p.stem().string() + "_mosaic.mov")))
            << p;
    EXPECT_TRUE(fs::exists(work_ / "Quillet" / "-rel_mosaic.mov"));
    EXPECT_TRUE(fs::exists(work_ / "Quillet" / "after_mosaic.mov"));
    EXPECT_NE(failure_of(r.out, too_long.filename().string()).find("File name too long"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Finished 7/8 clip(s)"), std::string::npos) << r.out;
    // Every path reaches the results file exactly as it was given.
    const std::string results = read_text(dir / "results.tsv");
    for (const auto& p : clips)
        EXPECT_NE(results.find("CLIP\t" + p.string() + "\t"), std::string::npos) << p;
    EXPECT_NE(results.find("CLIP\t-rel.mov\tQuillet/-rel_mosaic.mov\n"), std::string::npos)
        << results;
}

TEST_F(BadInput, JobFilesFromAWindowsScript) {
    const fs::path person = home_ / "people" / "ann";
    fs::create_directories(person);
    fs::copy_file(qltest::shared_photo("obama-720p.jpg"), person / "ann.jpg");
    const fs::path a = clip(work_ / "A.mov"), b = clip(work_ / "B.mov");
    const fs::path out = work_ / "out dir";
    const fs::path dir = work_ / "job";
    fs::create_directories(dir);
    const std::string bom = "\xEF\xBB\xBF";
    write_text(dir / "clips.txt",
               bom + a.string() + "  \r\n\r\n \t\r\n" + b.string() + "\t" + out.string() + " \r\n");
    write_text(dir / "keep.txt", bom + "ann \r\n\r\n");
    write_text(dir / "options.txt", bom +
                                        "mystery=1\r\ncodec=prores\r\nthreshold=\r\n"
                                        "threshold=0.9 \r\nthreshold=high\r\ncodec=h264 \r\n");
    auto r = run({"process", "--job", dir.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("ann: 1 usable photo(s)"), std::string::npos) << r.out;
    const fs::path a_out = work_ / "Quillet" / "A_mosaic.mov", b_out = out / "B_mosaic.mov";
    ASSERT_TRUE(fs::exists(a_out));
    ASSERT_TRUE(fs::exists(b_out));
    // The last codec line counts, trimmed.
    json probe = json::parse(qltest::probe_json(b_out));
    EXPECT_EQ(probe["streams"][0]["codec_name"], "h264");
    EXPECT_EQ(json::parse(read_text(work_ / "Quillet" / "A_mosaic.json"))["keep"],
              json::array({"ann"}));
    EXPECT_EQ(read_text(dir / "results.tsv"), "CLIP\t" + a.string() + "\t" + a_out.string() +
                                                  "\nCLIP\t" + b.string() + "\t" + b_out.string() +
                                                  "\n");
}

TEST_F(BadInput, HostileCachesOverridesAndReportsCountAsAbsent) {
    const fs::path src = clip(work_ / "A.mov", 20);
    const fs::path out = work_ / "Quillet" / "A_mosaic.mov";
    const fs::path cache = work_ / "Quillet" / "A_mosaic.analysis.json";
    const fs::path overrides = work_ / "Quillet" / "A_mosaic.overrides.json";
    const fs::path report = work_ / "Quillet" / "A_mosaic.json";
    auto first = run({"process", src.string()});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    const json good = json::parse(read_text(cache));
    ASSERT_EQ(good["frames"], 20);

    // The key still matches, so only the content decides.
    auto with_track = [&](const json& track, const json& frames = 20) {
        json j = good;
        j["frames"] = frames;
        j["tracks"] = json::array({track});
        return j.dump();
    };
    const json track = json::parse(R"({"id":0,"f":[3,4],"b":[[10,10,30,30],[11,10,30,30]],
                                       "s":[0.9,0.9],"r":[],"c":[]})");
    json negative = track, huge = track, typed = track;
    negative["f"] = json::array({-2, 4});
    huge["b"][0][2] = 1e308;
    huge["id"] = 1e300;
    typed["s"] = "0.9";
    const std::string nested = std::string(100000, '[') + std::string(100000, ']');
    struct Case {
        std::string cache, overrides;
        json marks;  // the overrides the report records
    };
    const Case cases[] = {
        {"{\"key\": ", "[1, 2", json::object()},  // broken JSON
        // Marks before the clip's start are whole numbers; they mark nothing.
        {with_track(negative), R"({"keep": [-5, -1, -5]})", json::parse(R"({"keep":[-5,-1]})")},
        {with_track(huge, 1e300), R"({"keep": [1e300, 99999999999999999999999]})", json::object()},
        {with_track(typed), R"({"keep": "12"})", json::object()},
        {"{\"key\":" + nested + "}", R"({"keep": )" + nested + "}", json::object()},
    };
    for (const auto& [cache_text, overrides_text, marks] : cases) {
        SCOPED_TRACE(cache_text.substr(0, 120));
        fs::remove(out);
        write_text(cache, cache_text);
        write_text(overrides, overrides_text);
        auto r = run({"process", src.string()});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.find("reusing earlier face search"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("✓ saved"), std::string::npos);
        // Searched again and saved afresh; no marks taken from the junk.
        EXPECT_EQ(json::parse(read_text(cache))["frames"], 20);
        EXPECT_EQ(json::parse(read_text(report))["overrides"], marks);
    }

    // A report whose "keep" is not all text never counts as done.
    fs::remove(overrides);
    for (const char* keep : {"[1, null]", "[[\"ann\"]]", "{\"ann\": 1}", "\"ann\""}) {
        json rep = json::parse(read_text(report));
        rep["keep"] = json::parse(keep);
        write_text(report, rep.dump());
        auto r = run({"process", src.string()});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.find("already done earlier"), std::string::npos) << keep;
        EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos) << keep;
        EXPECT_EQ(json::parse(read_text(report))["keep"], json::array());
    }
    auto again = run({"process", src.string()});
    EXPECT_NE(again.out.find("already done earlier"), std::string::npos) << again.out;
}

TEST_F(BadInput, HostileEmbeddingCacheIsNotTrusted) {
    const fs::path person = home_ / "people" / "ann";
    fs::create_directories(person);
    fs::copy_file(qltest::shared_photo("obama-720p.jpg"), person / "a.jpg");
    const qlcore::FileStatus st = qlcore::file_status(person / "a.jpg");
    const std::string key = "a.jpg:" + std::to_string(st.mtime) + ":" + std::to_string(st.size);
    const fs::path src = clip(work_ / "A.mov");
    // Entries filed under the photo's own key: a vector far longer than an
    // embedding (it would pass anyone as ann), wrong types, a huge number,
    // deep nesting, and text that is not JSON at all.
    const std::string nested = std::string(5000, '[') + std::string(5000, ']');
    std::vector<double> huge(128, 0.0);
    huge[0] = 1e300;
    for (const std::string& value : {json(std::vector<double>(128, 1.0)).dump(),
                                     std::string("\"x\""), json(huge).dump(), nested}) {
        SCOPED_TRACE(value.substr(0, 40));
        write_text(person / ".embeddings.json", "{\"" + key + "\": " + value + "}");
        fs::remove_all(work_ / "Quillet");
        auto r = run({"process", "--keep", "ann", src.string()});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("ann: 1 usable photo(s)"), std::string::npos) << r.out;
        // The photo was examined again and its real embedding cached.
        json cache = json::parse(read_text(person / ".embeddings.json"));
        ASSERT_EQ(cache.size(), 1u);
        double norm2 = 0;
        for (double v : cache[key].get<std::vector<double>>())
            norm2 += v * v;
        EXPECT_NEAR(norm2, 1.0, 1e-4);
    }
    write_text(person / ".embeddings.json", "{\"broken");
    auto r = run({"process", "--keep", "ann", src.string()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(json::parse(read_text(person / ".embeddings.json")).contains(key));
}

TEST_F(BadInput, PersonNamesNeverLeadOutsideThePeopleFolder) {
    const fs::path src = clip(work_ / "A.mov");
    fs::create_directories(home_ / "people" / "ann");
    fs::create_directories(home_ / "elsewhere");
    const fs::path dir = job({src.string()});
    for (const std::string name : {"../elsewhere", "..", "ann/../../elsewhere", ".", "a/b"}) {
        SCOPED_TRACE(name);
        auto by_option = run({"process", "--keep", name, src.string()});
        write_text(dir / "keep.txt", "ann\r\n" + name + "\r\n");
        auto by_job = run({"process", "--job", dir.string()});
        auto by_enroll = run({"enroll", name, "--from-video", src.string()});
        for (const auto* r : {&by_option, &by_job, &by_enroll}) {
            EXPECT_EQ(r->status, 1) << r->out << r->err;
            EXPECT_NE(r->err.find("Not a usable person name: '" + name + "'"), std::string::npos)
                << r->err;
        }
        EXPECT_FALSE(fs::exists(dir / "done.flag"));
        EXPECT_FALSE(fs::exists(work_ / "Quillet" / "A_mosaic.mov"));
        // Nothing read or written beside the people folder or above it.
        EXPECT_FALSE(fs::exists(home_ / "elsewhere" / ".embeddings.json"));
        EXPECT_FALSE(fs::exists(home_ / ".embeddings.json"));
        EXPECT_FALSE(fs::exists(home_ / "people" / ".embeddings.json"));
        EXPECT_FALSE(fs::exists(home_ / "people" / "a"));
        EXPECT_TRUE(fs::is_empty(home_ / "elsewhere"));
    }
}

TEST_F(BadInput, OutputFoldersThatCannotBeWritten) {
    // A read-only card: the output moves to the home folder.
    const fs::path card = work_ / "card";
    const fs::path a = clip(card / "A.mov");
    fs::permissions(card, fs::perms::owner_read | fs::perms::owner_exec);
    // A chosen folder that cannot be written: that clip fails, the next runs.
    const fs::path locked = work_ / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path b = clip(work_ / "B.mov"), c = clip(work_ / "C.mov");
    // A report that cannot be saved fails its clip; the finished video
    // stays, and with nothing left at the report's name the next run redoes it.
    const fs::path d = clip(work_ / "D.mov");
    fs::create_directories(work_ / "Quillet" / "D_mosaic.json");
    const fs::path dir =
        job({a.string(), b.string() + "\t" + locked.string(), c.string(), d.string()});
    auto r = run({"process", "--job", dir.string()});
    fs::permissions(card, fs::perms::owner_all);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_TRUE(fs::exists(home_ / "output" / "A_mosaic.mov"));
    EXPECT_TRUE(fs::exists(home_ / "output" / "A_mosaic.json"));
    EXPECT_FALSE(fs::exists(card / "Quillet"));
    EXPECT_NE(failure_of(r.out, "B.mov").find("Permission denied"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(locked));
    EXPECT_TRUE(fs::exists(work_ / "Quillet" / "C_mosaic.mov"));
    EXPECT_NE(failure_of(r.out, "D.mov").find("D_mosaic.json"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(work_ / "Quillet" / "D_mosaic.mov"));
    EXPECT_FALSE(fs::exists(work_ / "Quillet" / "D_mosaic.json"));
    EXPECT_NE(r.out.find("Finished 2/4 clip(s)"), std::string::npos);
}

TEST_F(BadInput, DiskFullDuringTheRender) {
    // The file size limit stands in for a full disk: the encoder is stopped
    // part-way through the big clip; the small one still fits.
    qltest::ClipSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.frames = 40;
    const fs::path big = qltest::make_clip(work_ / "big.mov", spec);
    const fs::path small = clip(work_ / "small.mov", 5);
    const fs::path dir = job({big.string(), small.string()}, "codec=h264\n");
    std::vector<std::string> argv{"/bin/sh", "-c", "ulimit -f 64 && exec \"$@\"", "sh"};
    if (::geteuid() == 0)
        argv.insert(argv.end(), {"setpriv", "--bounding-set", "-dac_override,-dac_read_search"});
    argv.push_back(qltest::test_install_program().string());
    argv.insert(argv.end(), {"process", "--job", dir.string()});
    auto r = qltest::run_program(argv, {"QUILLET_HOME=" + home_.path().string()});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(failure_of(r.out, "big.mov").find("could not encode video: "), std::string::npos)
        << r.out;
    EXPECT_NE(failure_of(r.out, "big.mov").find("File size limit exceeded"), std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(work_ / "Quillet" / "big_mosaic.mov"));
    EXPECT_FALSE(fs::exists(work_ / "Quillet" / "big_mosaic.json"));
    EXPECT_TRUE(fs::exists(work_ / "Quillet" / "small_mosaic.mov"));
    EXPECT_TRUE(leftovers(work_.path()).empty());
    EXPECT_TRUE(fs::exists(dir / "done.flag"));
}
