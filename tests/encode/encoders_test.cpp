#include "encode/encoders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "support/test_support.h"

using namespace qlcore;

namespace {

const Platform LINUX{false, false, ""};
const Platform MAC_ARM{true, false, "arm64"};
const Platform MAC_INTEL{true, false, "x86_64"};
const Platform WIN{false, true, ""};

// A listing that offers exactly these names.
std::function<bool(const std::string&)> offering(std::set<std::string> names) {
    return [names](const std::string& n) { return names.count(n) > 0; };
}

// Fails the test if the selection asks the listing at all.
bool never_asked(const std::string& name) {
    ADD_FAILURE() << "listing consulted for " << name;
    return true;
}

ClipInfo at_rate(std::optional<std::string> rate, int bits = 8) {
    ClipInfo info;
    info.rate = std::move(rate);
    info.bits = bits;
    return info;
}

std::vector<std::string> names(const std::vector<Args>& list) {
    std::vector<std::string> out;
    for (const Args& e : list) {
        EXPECT_GE(e.size(), 2u);
        EXPECT_EQ(e[0], "-c:v");
        out.push_back(e[1]);
    }
    return out;
}

// The value following `option` in an entry; empty when absent.
std::string option(const Args& e, const std::string& opt) {
    for (size_t i = 0; i + 1 < e.size(); ++i)
        if (e[i] == opt) return e[i + 1];
    return "";
}

std::string bit_rate(const std::string& codec, FrameSize size, const std::string& rate) {
    auto list = encoder_candidates_for(codec, at_rate(rate), size, MAC_ARM, offering({}));
    return option(list.front(), "-b:v");
}

using V = std::vector<std::string>;

}  // namespace

TEST(EncoderCandidates, HardwareBitRatesFromThePixelRate) {
    EXPECT_EQ(bit_rate("hevc", {1920, 1080}, "30000/1001"), "8M");  // floor of 8 over 7
    EXPECT_EQ(bit_rate("h264", {1920, 1080}, "30000/1001"), "11M");
    EXPECT_EQ(bit_rate("hevc", {3840, 2160}, "25/1"), "24M");
    EXPECT_EQ(bit_rate("h264", {3840, 2160}, "25/1"), "37M");
    EXPECT_EQ(bit_rate("hevc", {3840, 2160}, "60/1"), "59M");
    EXPECT_EQ(bit_rate("h264", {3840, 2160}, "60/1"), "89M");
    EXPECT_EQ(bit_rate("hevc", {1280, 720}, "25/1"), "8M");
    EXPECT_EQ(bit_rate("h264", {1280, 720}, "25/1"), "10M");
}

TEST(EncoderCandidates, MissingOrUnreadableRateCountsAsThirty) {
    for (std::optional<std::string> rate :
         {std::optional<std::string>(), std::optional<std::string>("N/A")}) {
        auto list =
            encoder_candidates_for("hevc", at_rate(rate), {3840, 2160}, MAC_ARM, offering({}));
        EXPECT_EQ(option(list.front(), "-b:v"), "29M");  // 3840 x 2160 x 30 x 0.12
    }
}

TEST(EncoderCandidates, HevcRowsByPlatform) {
    FrameSize hd{1920, 1080};
    EXPECT_EQ(names(encoder_candidates_for("hevc", at_rate("25/1"), hd, LINUX, never_asked)),
              (V{"libx265"}));
    auto mac = encoder_candidates_for("hevc", at_rate("25/1"), hd, MAC_INTEL, never_asked);
    EXPECT_EQ(mac[0], (Args{"-c:v", "hevc_videotoolbox", "-b:v", "8M", "-pix_fmt", "nv12",
                            "-allow_sw", "1", "-tag:v", "hvc1"}));
    EXPECT_EQ(mac[1], (Args{"-c:v", "libx265", "-crf", "20", "-preset", "veryfast", "-x265-params",
                            "log-level=error", "-pix_fmt", "yuv420p", "-tag:v", "hvc1"}));
    EXPECT_EQ(mac.size(), 2u);

    auto deep_mac = encoder_candidates_for("hevc", at_rate("25/1", 10), hd, MAC_ARM, never_asked);
    EXPECT_EQ(deep_mac[0], (Args{"-c:v", "hevc_videotoolbox", "-b:v", "8M", "-pix_fmt", "p010le",
                                 "-profile:v", "main10", "-allow_sw", "1", "-tag:v", "hvc1"}));
    EXPECT_EQ(option(deep_mac[1], "-pix_fmt"), "yuv420p10le");
}

TEST(EncoderCandidates, WindowsHevcKeepsOnlyListedEncoders) {
    auto list = encoder_candidates_for("hevc", at_rate("25/1", 10), {1920, 1080}, WIN,
                                       offering({"hevc_nvenc", "hevc_amf", "h264_qsv"}));
    EXPECT_EQ(names(list), (V{"hevc_nvenc", "hevc_amf", "libx265"}));
    EXPECT_EQ(list[0], (Args{"-c:v", "hevc_nvenc", "-b:v", "8M", "-pix_fmt", "p010le", "-profile:v",
                             "main10", "-tag:v", "hvc1"}));
    EXPECT_EQ(option(list[1], "-pix_fmt"), "p010le");
    EXPECT_EQ(option(list[1], "-profile:v"), "main10");
    EXPECT_EQ(option(list[2], "-pix_fmt"), "yuv420p10le");

    auto none = encoder_candidates_for("hevc", at_rate("25/1"), {1920, 1080}, WIN, offering({}));
    EXPECT_EQ(names(none), (V{"libx265"}));
}

TEST(EncoderCandidates, H264IsAlwaysEightBit) {
    FrameSize hd{1920, 1080};
    ClipInfo deep = at_rate("25/1", 10);
    auto mac = encoder_candidates_for("h264", deep, hd, MAC_ARM, never_asked);
    EXPECT_EQ(mac[0], (Args{"-c:v", "h264_videotoolbox", "-b:v", "10M", "-pix_fmt", "nv12",
                            "-allow_sw", "1"}));
    EXPECT_EQ(mac[1], (Args{"-c:v", "libx264", "-crf", "17", "-preset", "veryfast", "-pix_fmt",
                            "yuv420p"}));

    auto win = encoder_candidates_for("h264", deep, hd, WIN,
                                      offering({"h264_nvenc", "h264_qsv", "h264_amf"}));
    EXPECT_EQ(names(win), (V{"h264_nvenc", "h264_qsv", "h264_amf", "libx264"}));
    for (const Args& e : win)
        EXPECT_TRUE(option(e, "-pix_fmt") == "nv12" || option(e, "-pix_fmt") == "yuv420p");
    EXPECT_EQ(win[1], (Args{"-c:v", "h264_qsv", "-b:v", "10M", "-pix_fmt", "nv12"}));

    EXPECT_EQ(names(encoder_candidates_for("h264", deep, hd, LINUX, never_asked)), (V{"libx264"}));
}

TEST(EncoderCandidates, ProresRows) {
    FrameSize hd{1920, 1080};
    const Args software{"-c:v",     "prores",      "-profile:v", "2",
                        "-pix_fmt", "yuv422p10le", "-vendor",    "apl0"};
    auto arm = encoder_candidates_for("prores", at_rate("25/1"), hd, MAC_ARM,
                                      offering({"prores_videotoolbox"}));
    ASSERT_EQ(arm.size(), 2u);
    EXPECT_EQ(arm[0], (Args{"-c:v", "prores_videotoolbox", "-profile:v", "standard", "-pix_fmt",
                            "p210le"}));
    EXPECT_EQ(arm[1], software);

    EXPECT_EQ(encoder_candidates_for("prores", at_rate("25/1"), hd, MAC_ARM, offering({})),
              (std::vector<Args>{software}));
    EXPECT_EQ(encoder_candidates_for("prores", at_rate("25/1"), hd, MAC_INTEL,
                                     offering({"prores_videotoolbox"})),
              (std::vector<Args>{software}));
    EXPECT_EQ(encoder_candidates_for("prores", at_rate("25/1", 10), hd, WIN, never_asked),
              (std::vector<Args>{software}));
    // Any other codec text is taken as ProRes.
    EXPECT_EQ(encoder_candidates_for("dnxhd", at_rate("25/1"), hd, LINUX, never_asked),
              (std::vector<Args>{software}));
}

TEST(EncoderCandidates, ThisBuildOffersItsSoftwareEncoderLast) {
#if defined(__APPLE__)
    const bool macos = true;
#else
    const bool macos = false;
#endif
    EXPECT_EQ(this_platform().macos, macos);
    EXPECT_EQ(this_platform().windows, WINDOWS);
    auto list = encoder_candidates("hevc", at_rate("25/1"), {640, 360});
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(names(list).back(), "libx265");
    EXPECT_EQ(names(list).front(), macos ? "hevc_videotoolbox" : "libx265");
    EXPECT_EQ(list.size(), macos ? 2u : 1u);
}

TEST(ListingHas, MatchesWholeNamesOnly) {
    const std::string listing =
        " V....D libx264              libx264 H.264 / AVC (codec h264)\n"
        " V....D hevc_nvenc           NVIDIA NVENC hevc encoder (codec hevc)\n"
        " V..... = Video\n";
    EXPECT_TRUE(listing_has(listing, "hevc_nvenc"));
    EXPECT_TRUE(listing_has(listing, "libx264"));
    EXPECT_FALSE(listing_has(listing, "hevc"));  // only in a description
    EXPECT_FALSE(listing_has(listing, "NVENC"));
    EXPECT_FALSE(listing_has(listing, "h264"));
    EXPECT_FALSE(listing_has(listing, "libx26"));
    EXPECT_FALSE(listing_has(listing, ""));
    EXPECT_FALSE(listing_has("", "libx264"));
}

TEST(CodecMissingEncoder, OnlyAListingWithoutAnyOfTheCodecsEntriesRefusesIt) {
    const std::string prores_only = " V....D prores               Apple ProRes\n";
    const std::string nvenc_only =
        " V....D prores               Apple ProRes\n"
        " V....D h264_nvenc           NVIDIA NVENC H.264 encoder (codec h264)\n";
    // Named after the software entry, the one every platform has.
    EXPECT_EQ(codec_missing_encoder("h264", prores_only, LINUX), "libx264");
    EXPECT_EQ(codec_missing_encoder("hevc", prores_only, WIN), "libx265");
    EXPECT_EQ(codec_missing_encoder("h264", nvenc_only, LINUX), "libx264");
    // A hardware entry the platform tries is enough to start the render.
    EXPECT_EQ(codec_missing_encoder("h264", nvenc_only, WIN), std::nullopt);
    EXPECT_EQ(codec_missing_encoder("hevc", nvenc_only, WIN), "libx265");
    EXPECT_EQ(codec_missing_encoder("prores", prores_only, WIN), std::nullopt);
    // A listing that could not be fetched decides nothing.
    EXPECT_EQ(codec_missing_encoder("h264", "", LINUX), std::nullopt);
    EXPECT_EQ(codec_missing_encoder("prores", " \n", LINUX), std::nullopt);
}

TEST(HasEncoder, AsksThisFfmpegOnceAndRemembers) {
    EXPECT_TRUE(has_encoder("libx264"));
    EXPECT_TRUE(has_encoder("prores"));
    EXPECT_FALSE(has_encoder("hevc"));
    // With no ffmpeg to be found any more, a second fetch would stop the
    // program; the remembered listing answers instead.
    qltest::ScopedTempDir empty;
    const char* path = std::getenv("PATH");
    std::string old = path ? path : "";
    ::setenv("PATH", empty.path().c_str(), 1);
    bool x265 = has_encoder("libx265");
    bool bogus = has_encoder("no_such_encoder");
    ::setenv("PATH", old.c_str(), 1);
    EXPECT_TRUE(x265);
    EXPECT_FALSE(bogus);
}

TEST(ColorArgs, OptionsInOrderForPresentTags) {
    ClipInfo none;
    EXPECT_TRUE(color_args(none).empty());

    ClipInfo range_only;
    range_only.color_range = "tv";
    EXPECT_EQ(color_args(range_only), (Args{"-color_range", "tv"}));

    ClipInfo all;
    all.color_primaries = "bt2020";
    all.color_transfer = "smpte2084";
    all.color_space = "bt2020nc";
    all.color_range = "pc";
    EXPECT_EQ(color_args(all), (Args{"-color_primaries", "bt2020", "-color_trc", "smpte2084",
                                     "-colorspace", "bt2020nc", "-color_range", "pc"}));

    ClipInfo empty_text;
    empty_text.color_space = "";
    EXPECT_TRUE(color_args(empty_text).empty());
}

TEST(ColorArgs, LeavesOutTagsFfmpegRefusesAsOutputOptions) {
    // ffprobe reports an RGB source's matrix as "gbr", which "-colorspace"
    // does not take; passing it would fail every encoder in turn.
    ClipInfo rgb;
    rgb.color_space = "gbr";
    rgb.color_primaries = "bt709";
    rgb.color_transfer = "reserved";
    EXPECT_EQ(color_args(rgb), (Args{"-color_primaries", "bt709"}));
}

TEST(ColorArgs, EveryOptionWeEmitIsAcceptedByFfmpeg) {
    ClipInfo info;
    info.color_primaries = "bt709";
    info.color_transfer = "bt709";
    info.color_space = "gbr";
    info.color_range = "tv";
    qltest::ScopedTempDir tmp;
    Args cmd{"ffmpeg",    "-v", "error", "-f",     "lavfi", "-i", "testsrc2=size=64x48:rate=25",
             "-frames:v", "1",  "-c:v",  "libx264"};
    for (const auto& a : color_args(info))
        cmd.push_back(a);
    cmd.push_back((tmp / "out.mp4").string());
    auto r = qltest::run_program(cmd);
    EXPECT_EQ(r.status, 0) << r.err;
}

// ProRes gets a thread a core within the memory budget; encoders whose
// output depends on their threads are never touched.
TEST(EncoderCandidates, ProresThreadsFollowTheCoresWithinTheMemoryBudget) {
    const FrameSize uhd{3840, 2160}, hd{1920, 1080}, eight_k{7680, 4320};
    EXPECT_EQ(prores_thread_budget(uhd), 4);
    EXPECT_EQ(prores_thread_budget(hd), 21);
    EXPECT_EQ(prores_thread_budget(eight_k), 1);
    // The budget holds what the model says it holds, and one thread more would not.
    for (FrameSize s : {uhd, hd, FrameSize{4096, 2160}, FrameSize{2560, 1600}}) {
        const long long px = static_cast<long long>(s.w) * s.h;
        const int n = prores_thread_budget(s);
        EXPECT_LE((PRORES_BASE_BYTES_PER_PIXEL + n * PRORES_THREAD_BYTES_PER_PIXEL) * px,
                  ENCODER_MEMORY_BUDGET);
        EXPECT_GT((PRORES_BASE_BYTES_PER_PIXEL + (n + 1) * PRORES_THREAD_BYTES_PER_PIXEL) * px,
                  ENCODER_MEMORY_BUDGET);
    }

    const Args prores{"-c:v", "prores", "-profile:v", "2"};
    const auto threads = [&](int n) {
        return Args{"-c:v", "prores", "-threads", std::to_string(n), "-profile:v", "2"};
    };
    EXPECT_EQ(encoder_threads(prores, hd, 2), threads(2));
    EXPECT_EQ(encoder_threads(prores, uhd, 2), threads(2));
    EXPECT_EQ(encoder_threads(prores, uhd, 16), threads(4));
    EXPECT_EQ(encoder_threads(prores, hd, 16), threads(16));
    EXPECT_EQ(encoder_threads(prores, hd, 32), threads(21));
    EXPECT_EQ(encoder_threads(prores, eight_k, 8), threads(1));
    EXPECT_EQ(encoder_threads(prores, uhd, 0), threads(1)) << "cores unknown";
    for (const char* name : {"libx264", "libx265", "prores_videotoolbox", "hevc_nvenc"}) {
        const Args other{"-c:v", name, "-pix_fmt", "yuv420p"};
        EXPECT_EQ(encoder_threads(other, uhd, 16), other) << name;
    }
}
