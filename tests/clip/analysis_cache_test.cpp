#include "clip/analysis_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
using qltest::ScopedTempDir;

namespace {

Track _track(int id, std::vector<int64_t> frames) {
    Track t(id);
    for (size_t i = 0; i < frames.size(); ++i)
        t.add(frames[i], {10.0 + i, 20.0, 30.0, 40.0}, 0.9);
    return t;
}

// A real source file, so the key has a size and a time to read.
struct CacheFixture : ::testing::Test {
    ScopedTempDir dir;
    fs::path src = dir / "A001.mov";
    fs::path cache = dir / "A001_mosaic.analysis.json";
    std::vector<std::string> names{"Anna", "Ben"};
    cv::Mat gallery = cv::Mat(3, 128, CV_32F, cv::Scalar(0.05f));
    void SetUp() override { write_file_atomic(src, std::string(1000, 'v')); }
    json key(const Tuning& tuning = {}) { return analysis_key(src, names, gallery, tuning); }
};

}  // namespace

TEST(SameJson, StructuralEquality) {
    EXPECT_TRUE(same_json(json::parse("1920"), json::parse("1920.0")));
    EXPECT_TRUE(
        same_json(json::parse(R"({"a":1,"b":[2,3]})"), json::parse(R"({"b":[2,3],"a":1})")));
    EXPECT_TRUE(
        same_json(json::parse("18446744073709551615"), json::parse("18446744073709551615")));
    EXPECT_FALSE(same_json(json::parse("-1"), json::parse("18446744073709551615")));
    EXPECT_FALSE(same_json(json::parse("[1,2]"), json::parse("[2,1]")));
    EXPECT_FALSE(same_json(json::parse("[1,2]"), json::parse("[1,2,3]")));
    EXPECT_FALSE(same_json(json::parse(R"({"a":1})"), json::parse(R"({"a":1,"b":2})")));
    EXPECT_FALSE(same_json(json::parse(R"({"a":1})"), json::parse(R"({"b":1})")));
    EXPECT_FALSE(same_json(json::parse(R"("5")"), json::parse("5")));
    EXPECT_FALSE(same_json(json::parse("null"), json::parse("0")));
}

TEST_F(CacheFixture, KeyLayoutAndDetectorSettingsOfTheCall) {
    FileStatus st = file_status(src);
    std::string head = R"({"v":5,"size":1000,"mtime":)" + std::to_string(st.mtime);
    names.clear();
    gallery = cv::Mat();
    EXPECT_EQ(dump_compact(key()), head + R"(,"names":[],"gallery":[0,0.0],"det":[0.42,1920,1]})");
    Tuning fast;
    fast.det_max_side = 1600;
    fast.det_every = 2;
    EXPECT_EQ(dump_compact(key(fast)),
              head + R"(,"names":[],"gallery":[0,0.0],"det":[0.42,1600,2]})");
    EXPECT_THROW(analysis_key(dir / "gone.mov", names, gallery, {}), fs::filesystem_error);
}

TEST(GalleryDigest, FollowsTheEmbeddings) {
    cv::Mat g(2, 128, CV_32F, cv::Scalar(0.25f));
    EXPECT_DOUBLE_EQ(gallery_digest(g), 64.0);
    cv::Mat h = g.clone();
    h.at<float>(1, 5) += 0.001f;
    EXPECT_NE(gallery_digest(h), gallery_digest(g));
    EXPECT_EQ(gallery_digest(g), gallery_digest(g.clone()));
    EXPECT_EQ(gallery_digest(cv::Mat()), 0.0);
    EXPECT_EQ(gallery_digest(cv::Mat(0, 128, CV_32F)), 0.0);
}

TEST_F(CacheFixture, RoundTripKeepsFieldsWithStoredRounding) {
    Track a(7);
    a.add(3, {0.25, 1.35, 100.04, 99.96}, 0.8125);  // 0.25 ties to 0.2; 0.8125 to 0.812
    a.add(5, {2.0, 3.0, 4.0, 5.0}, 0.5);
    a.samples = {{3, 0.03125, 1}, {5, 0.123456, 0}};  // 0.03125 ties to 0.0312
    a.n_rec = 2;
    a.checks = {0.7, 0.25};
    a.best_checked = 0.8125;
    Track b = _track(8, {});
    save_analysis(cache, key(), {a, b}, 12, 11);

    std::string text = read_file(cache);
    EXPECT_EQ(text.find_first_of(" \n"), std::string::npos) << "compact layout";
    EXPECT_EQ(text.rfind(R"({"key":{"v":5,)", 0), 0u);
    EXPECT_NE(text.find(R"(},"frames":12,"read":11,"tracks":[)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("b":[[0.2,1.4,100.0,100.0],[2.0,3.0,4.0,5.0]])"), std::string::npos)
        << text;

    auto got = load_analysis(cache, key());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->search.n_frames, 12);
    EXPECT_EQ(got->search.n_read, 11);
    ASSERT_EQ(got->search.tracks.size(), 2u);
    const Track& r = got->search.tracks[0];
    EXPECT_EQ(r.id, 7);
    EXPECT_EQ(r.frames, (std::vector<int64_t>{3, 5}));
    EXPECT_EQ(r.boxes[0], (Box{0.2, 1.4, 100.0, 100.0}));
    EXPECT_EQ(r.scores, (std::vector<double>{0.812, 0.5}));
    ASSERT_EQ(r.samples.size(), 2u);
    EXPECT_EQ(r.samples[0].frame, 3);
    EXPECT_EQ(r.samples[0].sim, 0.0312);
    EXPECT_EQ(r.samples[0].person, 1);
    EXPECT_EQ(r.samples[1].sim, 0.1235);
    EXPECT_EQ(r.checks, (std::vector<double>{0.7, 0.25}));
    EXPECT_EQ(r.last, 5);
    EXPECT_EQ(r.n_rec, 0) << "not stored";
    EXPECT_EQ(r.best_checked, -1.0) << "not stored";
    EXPECT_TRUE(got->search.tracks[1].frames.empty());
    EXPECT_EQ(got->search.tracks[1].last, NEVER_SEEN);
}

TEST_F(CacheFixture, EmptySearchIsAResultAndChecksMayBeMissing) {
    save_analysis(cache, key(), {}, 0);
    auto none = load_analysis(cache, key());
    ASSERT_TRUE(none) << "a search that found nothing is still a search";
    EXPECT_EQ(none->search.n_frames, 0);
    EXPECT_TRUE(none->search.tracks.empty());

    json file = analysis_json(key(), {_track(0, {0, 1})}, 2);
    file["tracks"][0].erase("c");
    write_file_atomic(cache, dump_compact(file));
    auto got = load_analysis(cache, key());
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->search.tracks[0].checks.empty());
}

TEST_F(CacheFixture, AnyChangeOfWhatTheSearchDependedOnMissesTheCache) {
    json k = key();
    save_analysis(cache, k, {_track(0, {0})}, 5);
    ASSERT_TRUE(load_analysis(cache, key()));

    names = {"Ben", "Anna"};  // same people, other order
    EXPECT_FALSE(load_analysis(cache, key()));
    names = {"Anna", "Ben"};

    Tuning fast;
    fast.det_max_side = 1600;
    fast.det_every = 2;
    EXPECT_FALSE(load_analysis(cache, key(fast)));

    Tuning threshold;
    threshold.keep_threshold = 0.5;  // not part of the search
    EXPECT_TRUE(load_analysis(cache, key(threshold)));

    gallery.at<float>(0, 0) = 0.5f;
    EXPECT_FALSE(load_analysis(cache, key()));
    gallery = cv::Mat(2, 128, CV_32F, cv::Scalar(0.05f));
    EXPECT_FALSE(load_analysis(cache, key())) << "fewer photos";
    gallery = cv::Mat(3, 128, CV_32F, cv::Scalar(0.05f));

    write_file_atomic(src, std::string(1001, 'v'));
    EXPECT_FALSE(load_analysis(cache, key()));
}

TEST_F(CacheFixture, KeyNumbersMatchByValue) {
    json file = analysis_json(key(), {_track(0, {0})}, 5);
    file["key"]["det"][1] = 1920.0;
    file["key"]["size"] = 1000.0;
    write_file_atomic(cache, dump_compact(file));
    EXPECT_TRUE(load_analysis(cache, key()));
}

TEST_F(CacheFixture, BrokenOrMalformedFileCountsAsAbsent) {
    EXPECT_FALSE(load_analysis(cache, key())) << "missing";
    const json good = analysis_json(key(), {_track(0, {0, 1, 2})}, 3);
    write_file_atomic(cache, dump_compact(good));
    ASSERT_TRUE(load_analysis(cache, key()));

    auto with = [&](auto change) {
        json j = good;
        change(j);
        return dump_compact(j);
    };
    auto track = [](json& j) -> json& { return j["tracks"][0]; };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"broken JSON", R"({"key":)"},
        {"not an object", "[1,2,3]"},
        {"no tracks", with([](json& j) { j.erase("tracks"); })},
        {"no frames", with([](json& j) { j.erase("frames"); })},
        {"frames negative", with([](json& j) { j["frames"] = -1; })},
        {"frames text", with([](json& j) { j["frames"] = "3"; })},
        {"no read, as written before", with([](json& j) { j.erase("read"); })},
        {"read beyond frames", with([](json& j) { j["read"] = 4; })},
        {"read negative", with([](json& j) { j["read"] = -1; })},
        {"tracks not a list", with([](json& j) { j["tracks"] = json::object(); })},
        {"track not an object", with([](json& j) { j["tracks"][0] = 5; })},
        {"no id", with([&](json& j) { track(j).erase("id"); })},
        {"id fraction", with([&](json& j) { track(j)["id"] = 1.5; })},
        {"id beyond int", with([&](json& j) { track(j)["id"] = int64_t{1} << 40; })},
        {"no f", with([&](json& j) { track(j).erase("f"); })},
        {"no b", with([&](json& j) { track(j).erase("b"); })},
        {"no s", with([&](json& j) { track(j).erase("s"); })},
        {"no r", with([&](json& j) { track(j).erase("r"); })},
        {"f and b differ", with([&](json& j) { track(j)["b"].erase(0); })},
        {"s shorter", with([&](json& j) { track(j)["s"].erase(0); })},
        {"frames not increasing", with([&](json& j) {
             track(j)["f"] = {0, 2, 1};
         })},
        {"frame beyond the clip", with([&](json& j) {
             track(j)["f"] = {0, 1, 3};
         })},
        {"negative frame", with([&](json& j) {
             track(j)["f"] = {-2, 0, 1};
         })},
        {"box of three", with([&](json& j) {
             track(j)["b"][0] = {1, 2, 3};
         })},
        {"box text", with([&](json& j) { track(j)["b"][0][2] = "wide"; })},
        {"score null", with([&](json& j) { track(j)["s"][1] = nullptr; })},
        {"sample pair", with([&](json& j) {
             track(j)["r"] = {{0, 0.5}};
         })},
        {"sample person unknown", with([&](json& j) {
             track(j)["r"] = {{0, 0.5, 2}};
         })},
        {"sample person negative", with([&](json& j) {
             track(j)["r"] = {{0, 0.5, -1}};
         })},
        {"checks text", with([&](json& j) { track(j)["c"] = "none"; })},
        {"huge number", R"({"key":)" + dump_compact(key()) +
                            R"(,"frames":3,"read":3,"tracks":[{"id":0,"f":[0],"b":[[1e999,0,1,1]],)"
                            R"("s":[0.9],"r":[]}]})"},
    };
    for (const auto& [what, text] : cases) {
        write_file_atomic(cache, text);
        EXPECT_FALSE(load_analysis(cache, key())) << what;
    }
}

TEST_F(CacheFixture, SavingNeverFails) {
    EXPECT_NO_THROW(save_analysis(dir / "no" / "such" / "folder" / "x.analysis.json", key(),
                                  {_track(0, {0})}, 1));
    fs::create_directory(cache);  // a folder where the file should go
    EXPECT_NO_THROW(save_analysis(cache, key(), {_track(0, {0})}, 1));
    EXPECT_FALSE(load_analysis(cache, key()));
}

TEST_F(CacheFixture, ThoroughSearchesKeepTheirCandidatesAndAreTheirOwnKey) {
    Tuning thorough;
    thorough.thorough = true;
    const json k = key(thorough);
    EXPECT_EQ(k["mode"], "thorough");
    EXPECT_FALSE(key().contains("mode"));
    EXPECT_FALSE(key().contains("views"));

    SearchResult found;
    found.tracks = {_track(0, {0, 1})};
    found.candidates = {_track(1, {2, 3, 4})};
    found.n_frames = 6;
    found.n_read = 6;
    save_analysis(cache, k, found);
    auto back = load_analysis(cache, k);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->search.tracks.size(), 1u);
    ASSERT_EQ(back->search.candidates.size(), 1u);
    EXPECT_EQ(back->search.candidates[0].id, 1);
    EXPECT_EQ(back->search.candidates[0].frames, (std::vector<int64_t>{2, 3, 4}));
    // Neither mode reads the other's search.
    EXPECT_FALSE(load_analysis(cache, key()));
    save_analysis(cache, key(), found);
    EXPECT_FALSE(load_analysis(cache, k));
    ASSERT_TRUE(load_analysis(cache, key()));
    EXPECT_TRUE(load_analysis(cache, key())->search.candidates.empty());
    EXPECT_FALSE(parse_json(read_file(cache)).contains("candidates"));
    // A thorough search made with the views of before is searched again.
    json before = k;
    before.erase("views");
    save_analysis(cache, before, found);
    EXPECT_FALSE(load_analysis(cache, k));

    // A thorough file without its candidates, or with a broken one, is absent.
    json j = analysis_json(k, found.tracks, 6, 6, found.candidates);
    j["candidates"][0]["f"] = json::array({9});
    write_file_atomic(cache, dump_compact(j));
    EXPECT_FALSE(load_analysis(cache, k));
    j.erase("candidates");
    write_file_atomic(cache, dump_compact(j));
    EXPECT_FALSE(load_analysis(cache, k));
}

TEST_F(CacheFixture, ThoroughSearchesKeepTheLandmarkDriftAndLiftedReChecksOfEveryTrack) {
    Tuning thorough;
    thorough.thorough = true;
    const json k = key(thorough);
    SearchResult found;
    found.tracks = {_track(0, {0, 1})};
    found.candidates = {_track(1, {2, 3, 4})};
    found.evidence = {{{NO_DRIFT, 0.031}, {0.12, 0.5}, {0.0, 0.61}}};
    found.candidate_evidence = {{{NO_DRIFT, 0.2, 0.41}, {}, {}}};
    found.n_frames = found.n_read = 6;
    save_analysis(cache, k, found);
    auto back = load_analysis(cache, k);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->search.evidence, found.evidence);
    EXPECT_EQ(back->search.candidate_evidence, found.candidate_evidence);
    // The other modes keep none, and their files stay as they were.
    save_analysis(cache, key(), found);
    EXPECT_FALSE(parse_json(read_file(cache)).contains("evidence"));
    // A thorough search cached before the evidence was kept is searched again.
    json before = k;
    before.erase("evidence");
    save_analysis(cache, before, found);
    EXPECT_FALSE(load_analysis(cache, k));

    // Evidence not parallel to the detections, or of only one list: absent.
    save_analysis(cache, k, found);
    json j = parse_json(read_file(cache));
    j["candidate_evidence"][0]["drift"].erase(2);
    write_file_atomic(cache, dump_compact(j));
    EXPECT_FALSE(load_analysis(cache, k));
    save_analysis(cache, k, found);
    j = parse_json(read_file(cache));
    j["evidence"][0].erase("lifted");
    write_file_atomic(cache, dump_compact(j));
    EXPECT_FALSE(load_analysis(cache, k));
    save_analysis(cache, k, found);
    j = parse_json(read_file(cache));
    j["evidence"][0]["inside"].erase(1);
    write_file_atomic(cache, dump_compact(j));
    EXPECT_FALSE(load_analysis(cache, k)) << "a centred check without its inside one";
    j.erase("candidate_evidence");
    write_file_atomic(cache, dump_compact(j));
    EXPECT_FALSE(load_analysis(cache, k));
}

TEST_F(CacheFixture, ClipInfoAndFrameSizeComeBackExactly) {
    ProbedClip full;
    full.info.rate = "30000/1001";
    full.info.frames = 600;
    full.info.timecode = "01:00:00;00";
    full.info.bits = 10;
    full.info.color_primaries = "bt2020";
    full.info.color_transfer = "smpte2084";
    full.info.color_space = "bt2020nc \"Süd\\Ost\"";  // odd tag text
    full.info.color_range = "pc\u00a0✓";
    full.size = {3840, 2160};
    ProbedClip bare;  // nothing told: every optional absent, one empty
    bare.info.timecode = "";
    bare.size = {321, 241};

    for (const ProbedClip& clip : {full, bare}) {
        save_analysis(cache, key(), {{_track(0, {0, 1})}, {}, 2, 2, {}, {}}, clip);
        const std::string text = read_file(cache);
        for (char ch : text)
            ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << "escaped: " << text;
        EXPECT_NE(text.find(R"(]}],"clip":{)"), std::string::npos) << "after the tracks: " << text;
        auto got = load_analysis(cache, key());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->search.tracks.size(), 1u);
        ASSERT_TRUE(got->clip) << text;
        EXPECT_EQ(got->clip->info, clip.info);
        EXPECT_EQ(got->clip->size, clip.size);
    }
    EXPECT_FALSE(parse_json(read_file(cache))["clip"].contains("rate")) << "absent, not empty";

    // Older files, and a text that would not read back, hold no clip: the
    // search stays usable and the clip is probed.
    save_analysis(cache, key(), {_track(0, {0, 1})}, 2);
    auto old = load_analysis(cache, key());
    ASSERT_TRUE(old);
    EXPECT_EQ(old->search.tracks.size(), 1u);
    EXPECT_FALSE(old->clip);
    ProbedClip broken = full;
    broken.info.timecode = std::string("01:00\xff", 6);
    save_analysis(cache, key(), {{_track(0, {0, 1})}, {}, 2, 2, {}, {}}, broken);
    auto unsure = load_analysis(cache, key());
    ASSERT_TRUE(unsure);
    EXPECT_FALSE(unsure->clip);
}

TEST_F(CacheFixture, DamagedClipEntryMeansAProbeNotAFailure) {
    ProbedClip clip;
    clip.info.rate = "25/1";
    clip.info.frames = 3;
    clip.size = {1920, 1080};
    const json good = analysis_json(key(), {_track(0, {0, 1, 2})}, 3, 3, {}, &clip);
    auto with = [&](auto change) {
        json j = good;
        change(j);
        return dump_compact(j);
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"clip not an object", with([](json& j) { j["clip"] = "25/1"; })},
        {"no clip", with([](json& j) { j.erase("clip"); })},
        {"no frame size", with([](json& j) { j.erase("frame_size"); })},
        {"size of one", with([](json& j) { j["frame_size"] = {1920}; })},
        {"size zero", with([](json& j) {
             j["frame_size"] = {0, 1080};
         })},
        {"size text", with([](json& j) {
             j["frame_size"] = {"1920", 1080};
         })},
        {"size fraction", with([](json& j) {
             j["frame_size"] = {1920.5, 1080};
         })},
        {"size beyond any picture", with([](json& j) {
             j["frame_size"] = {int64_t{1} << 40, 1080};
         })},
        {"frames negative", with([](json& j) { j["clip"]["frames"] = -1; })},
        {"no frames", with([](json& j) { j["clip"].erase("frames"); })},
        {"bits nine", with([](json& j) { j["clip"]["bits"] = 9; })},
        {"no bits", with([](json& j) { j["clip"].erase("bits"); })},
        {"rate a number", with([](json& j) { j["clip"]["rate"] = 25; })},
        {"timecode null", with([](json& j) { j["clip"]["timecode"] = nullptr; })},
    };
    for (const auto& [what, text] : cases) {
        write_file_atomic(cache, text);
        auto got = load_analysis(cache, key());
        ASSERT_TRUE(got) << what;
        EXPECT_EQ(got->search.tracks.size(), 1u) << what;
        EXPECT_FALSE(got->clip) << what;
    }
    write_file_atomic(cache, dump_compact(good));
    auto got = load_analysis(cache, key());
    ASSERT_TRUE(got && got->clip);
    EXPECT_EQ(got->clip->info, clip.info);
}
