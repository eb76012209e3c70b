// The render's rules with ffmpeg replaced by fakes: the encoder entries tried
// in order, the one run and its fallback, the odd-size crop, a source that
// breaks off, an encoder that quits, and the pictures taken on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "encode/render.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_support.h"

using namespace qlcore;
namespace fs = std::filesystem;
using qltest::names_in;
using qltest::ScopedTempDir;

namespace {

std::string encoder_of(const Args& cmd) {
    auto it = std::find(cmd.begin(), cmd.end(), "-c:v");
    return it != cmd.end() && it + 1 != cmd.end() ? *(it + 1) : "";
}

bool is_one_run(const Args& cmd) {
    return std::count(cmd.begin(), cmd.end(), "-i") == 2;
}

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A decoder of `frames` frames, each of the given size, whose luma is the
// frame's number; an encoder per entry that takes frames until it is told to
// quit; mux runs that copy their video or fail as told.
struct FakeMedia : RenderMedia {
    int frames = 10;
    std::string decoder_errors;  // said by a decoder that stops at `frames`
    int64_t packets = -1;
    struct Quit {
        int64_t after = 0;  // frames taken before quitting
        std::string error;
    };
    std::map<std::string, Quit> quits;    // by encoder name; "one run" for the one run
    std::string one_run_says;             // a one run's messages when it succeeds
    int mux_failures = 0;                 // the first mux commands that fail
    std::vector<Args> started, muxes;     // every encoder and mux command
    std::vector<std::vector<int>> lumas;  // per encoder: each frame's first sample
    std::vector<size_t> frame_bytes;      // per encoder: the size of its frames

    std::string ffmpeg() override { return "ffmpeg"; }

    struct Source : YuvSource {
        FakeMedia& m;
        FrameSize size;
        int next = 0;
        std::string fmt = "yuv420p", errors_;
        Source(FakeMedia& media, FrameSize s) : m(media), size(s) {}
        const std::string& pix_fmt() const override { return fmt; }
        bool read(YuvFrame& f) override {
            if (next >= m.frames) return false;
            const int cw = (size.w + 1) / 2, ch = (size.h + 1) / 2;
            f.buffer.create(1, size.w * size.h + 2 * cw * ch, CV_8U);
            set_yuv_views(f, size.w, size.h);
            // Detail the mosaic changes; the first sample is the frame's number.
            for (int r = 0; r < size.h; ++r)
                for (int c = 0; c < size.w; ++c)
                    f.y.at<uint8_t>(r, c) = static_cast<uint8_t>(next % 100 + ((r ^ c) & 1) * 100);
            f.u.setTo(128);
            f.v.setTo(128);
            ++next;
            return true;
        }
        void close() override {
            if (next >= m.frames) errors_ = m.decoder_errors;
        }
        const std::string& errors() const override { return errors_; }
    };

    struct Encoder : EncoderSink {
        FakeMedia& m;
        Args cmd;
        std::optional<Quit> quit;
        size_t index;
        int64_t taken = 0;
        Encoder(FakeMedia& media, const Args& c, std::optional<Quit> q)
            : m(media), cmd(c), quit(std::move(q)), index(m.lumas.size()) {
            m.lumas.emplace_back();
        }
        bool write(const void* data, size_t n) override {
            if (quit && taken >= quit->after) return false;
            ++taken;
            m.lumas[index].push_back(static_cast<const uint8_t*>(data)[0]);
            m.frame_bytes.push_back(n);
            return true;
        }
        ExitStatus finish(std::string& err) override {
            if (quit) {
                err = quit->error;
                return {1, ""};
            }
            if (is_one_run(cmd)) err = m.one_run_says;
            std::ofstream(qlcore::u8path(cmd.back())) << "video of " << taken << " frames";
            return {0, ""};
        }
    };

    std::unique_ptr<YuvSource> open(const std::string&, FrameSize size, const ClipInfo&) override {
        return std::make_unique<Source>(*this, size);
    }
    std::unique_ptr<EncoderSink> start(const Args& cmd) override {
        started.push_back(cmd);
        auto q = quits.find(is_one_run(cmd) ? "one run" : encoder_of(cmd));
        return std::make_unique<Encoder>(
            *this, cmd, q == quits.end() ? std::nullopt : std::optional(q->second));
    }
    ExitStatus run(const Args& cmd) override {
        muxes.push_back(cmd);
        if (mux_failures > 0) {
            --mux_failures;
            return {1, ""};
        }
        const auto in = std::find(cmd.begin(), cmd.end(), "-i") + 1;
        fs::copy_file(qlcore::u8path(*in), qlcore::u8path(cmd.back()),
                      fs::copy_options::overwrite_existing);
        return {0, ""};
    }
    std::string fallback_rate(const std::string&) override { return "25.000000"; }
    int64_t packets_present(const std::string&) override { return packets; }
};

const Args A{"-c:v", "enc_a"}, B{"-c:v", "enc_b"}, C{"-c:v", "enc_c"};
const Args PRORES{"-c:v", "prores", "-profile:v", "2"};

ClipInfo info_of(int64_t frames) {
    ClipInfo info;
    info.rate = "25";
    info.frames = frames;
    return info;
}

// One box on the frames given.
MosaicPlan boxes_on(std::initializer_list<int64_t> frames) {
    MosaicPlan plan;
    for (int64_t f : frames)
        plan[f].push_back(BoxF{8.f, 8.f, 16.f, 16.f});
    return plan;
}

// A clip of `frames` frames, rendered into a_mosaic.mov in `dir`.
RenderJob job_in(const ScopedTempDir& dir, int64_t frames, MosaicPlan plan = {},
                 FrameSize size = {64, 48}) {
    return {"src.mov",      (dir / "a_mosaic.mov").string(), std::move(plan), frames, -1, size,
            info_of(frames)};
}

struct Rendered {
    std::string said, err;  // the console's two streams
    std::string failure;    // a MediaError's message
};

Rendered render_with(FakeMedia& media, const RenderJob& job, const std::vector<Args>& cands) {
    Rendered r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    try {
        render(job, cands, media);
    } catch (const MediaError& e) {
        r.failure = e.what();
    } catch (...) {
        r.err = testing::internal::GetCapturedStderr();
        r.said = testing::internal::GetCapturedStdout();
        throw;
    }
    r.err = testing::internal::GetCapturedStderr();
    r.said = testing::internal::GetCapturedStdout();
    return r;
}

}  // namespace

TEST(RenderRules, EncoderEntriesAreTriedInOrderAndTheFirstThatWorksIsMuxed) {
    ScopedTempDir dir;
    FakeMedia m;
    m.quits["enc_a"] = {0, "Unknown encoder 'enc_a'"};
    m.quits["enc_b"] = {3, "  [enc_b @ 0x1] frame too big\ndevice lost \n"};  // a broken pipe
    const RenderJob job = job_in(dir, 10, boxes_on({2}));
    const Rendered r = render_with(m, job, {A, B, C});
    EXPECT_EQ(r.failure, "");
    ASSERT_EQ(m.started.size(), 3u);
    EXPECT_EQ(encoder_of(m.started[0]), "enc_a");
    EXPECT_EQ(encoder_of(m.started[1]), "enc_b");
    EXPECT_EQ(encoder_of(m.started[2]), "enc_c");
    EXPECT_NE(r.said.find("\n  enc_a not available here (Unknown encoder 'enc_a'); trying the "
                          "next encoder\u2026\n"),
              std::string::npos)
        << r.said;
    EXPECT_NE(r.said.find("  enc_b not available here (device lost); trying"), std::string::npos)
        << r.said;
    // Every frame reached the encoder that worked, the planned one hidden.
    ASSERT_EQ(m.lumas[2].size(), 10u);
    EXPECT_EQ(m.lumas[2][3], 3);
    EXPECT_EQ(m.muxes.size(), 1u) << "the first mux command worked";
    EXPECT_EQ(read_text(dir / "a_mosaic.mov"), "video of 10 frames");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a_mosaic.mov"}));
}

TEST(RenderRules, WhenEveryEntryFailsTheLastOnesMessageIsGivenAndNothingIsWritten) {
    ScopedTempDir dir;
    FakeMedia m;
    m.quits["enc_a"] = {0, "device lost"};
    m.quits["enc_b"] = {0, "Unknown encoder 'enc_b'"};
    const RenderJob job = job_in(dir, 10);
    Rendered r = render_with(m, job, {A, B});
    EXPECT_EQ(r.failure,
              "could not encode video: this ffmpeg cannot encode with enc_b; put a "
              "full ffmpeg (one with enc_b) on PATH");
    EXPECT_TRUE(m.muxes.empty());

    m.quits["enc_b"] = {2, ""};
    r = render_with(m, job, {A, B});
    EXPECT_EQ(r.failure, "could not encode video: encoder failed");
    m.quits.erase("enc_b");
    m.frames = 0;  // a decoder that delivers nothing fails every entry
    r = render_with(m, job, {B});
    EXPECT_EQ(r.failure, "could not encode video: encoder failed");
    EXPECT_TRUE(names_in(dir.path()).empty());
}

// The audio goes on in three attempts; the last one drops the timecode.
TEST(RenderRules, TheMuxTriesItsCommandsInTurnAndLeavesNothingWhenAllFail) {
    ScopedTempDir dir;
    FakeMedia m;
    RenderJob job = job_in(dir, 10);
    job.info.timecode = "01:00:00:00";
    m.mux_failures = 2;
    Rendered r = render_with(m, job, {A});
    EXPECT_EQ(r.failure, "");
    ASSERT_EQ(m.muxes.size(), 3u);
    EXPECT_EQ(std::count(m.muxes[1].begin(), m.muxes[1].end(), "-timecode"), 1);
    EXPECT_EQ(std::count(m.muxes[2].begin(), m.muxes[2].end(), "-timecode"), 0);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a_mosaic.mov"}));

    fs::remove(dir / "a_mosaic.mov");
    m.mux_failures = 3;
    r = render_with(m, job, {A});
    EXPECT_EQ(r.failure, "ffmpeg failed while adding audio");
    EXPECT_TRUE(names_in(dir.path()).empty());
}

// Encoders take even sizes only: the odd last column and row are dropped
// from every frame, and the user is told.
TEST(RenderRules, OddSizesReachTheEncoderCroppedToEven) {
    ScopedTempDir dir;
    FakeMedia m;
    m.frames = 3;
    const RenderJob job = job_in(dir, 3, boxes_on({0, 1, 2}), {65, 49});
    const Rendered r = render_with(m, job, {A});
    EXPECT_NE(r.said.find("  \u26a0 odd frame size 65\u00d749: the output is 64\u00d748\n"),
              std::string::npos)
        << r.said;
    const Args& cmd = m.started.at(0);
    EXPECT_EQ(*(std::find(cmd.begin(), cmd.end(), "-s") + 1), "64x48");
    EXPECT_EQ(m.frame_bytes, (std::vector<size_t>(3, 64 * 48 * 3 / 2)));
    EXPECT_EQ(m.lumas[0], (std::vector<int>{0, 1, 2}));
}

// A decoder that complains and stops short of what the search read met a
// damaged file; one that stops quietly, or complains after every frame the
// search read while the file still holds all its packets, did not.
TEST(RenderRules, ASourceThatBreaksOffFailsTheClipButAQuietShortOneDoesNot) {
    ScopedTempDir dir;
    const fs::path out = dir / "a_mosaic.mov";
    FakeMedia m;
    m.frames = 7;
    m.decoder_errors = "[mov,mp4 @ 0x55] stream 0, offset 0x1234: partial file\n";
    RenderJob job = job_in(dir, 10);
    try {
        render_with(m, job, {A, B});
        ADD_FAILURE() << "a source that breaks off was rendered";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "the video breaks off after frame 7 of 10: stream 0, offset 0x1234: "
                     "partial file");
    }
    EXPECT_EQ(m.started.size(), 1u) << "no other encoder does better on a damaged file";
    EXPECT_FALSE(fs::exists(out));

    m.decoder_errors.clear();
    EXPECT_EQ(render_with(m, job, {A}).failure, "");
    EXPECT_EQ(read_text(out), "video of 7 frames");

    // All the search read, but the container lists more than the file holds.
    m.decoder_errors = "[h264 @ 0x1] error while decoding MB 3 4\n";
    job.n_read = 7;
    job.info.frames = 10;
    m.packets = 8;
    fs::remove(out);
    EXPECT_THROW(render_with(m, job, {A}), std::runtime_error);
    EXPECT_FALSE(fs::exists(out));
    m.packets = 10;  // every packet there: a frame the decoder dropped
    const Rendered r = render_with(m, job, {A});
    EXPECT_EQ(r.failure, "");
    EXPECT_NE(r.err.find("error while decoding MB 3 4"), std::string::npos) << r.err;
    EXPECT_EQ(read_text(out), "video of 7 frames");
}

// One run writes the output with its audio; what ffmpeg says then reaches
// the console. A one run that fails ends its progress line and the encode
// and mux take over, from the first entry.
TEST(RenderRules, TheOneRunAndItsFallback) {
    ScopedTempDir dir;
    const fs::path out = dir / "a_mosaic.mov";
    FakeMedia m;
    m.frames = 20;
    m.one_run_says = "[mov @ 0x5] Drop frame is only allowed with multiples of 30000/1001 FPS\n";
    const RenderJob job = job_in(dir, 20);
    Rendered r = render_with(m, job, {PRORES, A});
    EXPECT_EQ(r.failure, "");
    ASSERT_EQ(m.started.size(), 1u);
    EXPECT_TRUE(is_one_run(m.started[0]));
    EXPECT_TRUE(m.muxes.empty());
    EXPECT_NE(r.err.find("Drop frame is only allowed"), std::string::npos) << r.err;
    EXPECT_EQ(read_text(out), "video of 20 frames");

    fs::remove(out);
    m.started.clear();
    m.quits["one run"] = {12, "opus only supported in MP4."};
    r = render_with(m, job, {PRORES, A});
    EXPECT_EQ(r.failure, "");
    ASSERT_EQ(m.started.size(), 2u);
    EXPECT_FALSE(is_one_run(m.started[1]));
    EXPECT_EQ(encoder_of(m.started[1]), "prores");
    EXPECT_EQ(m.muxes.size(), 1u);
    // The one run's progress line is ended before the encode's begins.
    const size_t first = r.said.find("(10/20 frames"), line_end = r.said.find('\n'),
                 again = r.said.find("\r  writing", 1);
    ASSERT_NE(first, std::string::npos) << r.said;
    EXPECT_LT(first, line_end) << r.said;
    EXPECT_LT(line_end, again) << r.said;
    EXPECT_EQ(r.said.find("not available here"), std::string::npos) << r.said;
    EXPECT_EQ(r.err.find("opus"), std::string::npos) << "left to the mux to say: " << r.err;
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a_mosaic.mov"}));
}

// Pictures before and after a frame's boxes are hidden, from the attempt
// that wrote the video; requests must come in frame order.
TEST(RenderRules, ShotsShowTheRectangleBeforeAndAfterHiding) {
    ScopedTempDir dir;
    FakeMedia m;
    m.frames = 8;
    m.quits["enc_a"] = {5, "device lost"};
    const MosaicPlan plan = boxes_on({3});
    const MosaicRect hidden = mosaic_rect(plan.at(3)[0], 64, 48);
    const MosaicRect open{40, 32, 60, 44, 4};
    FrameShots shots;
    shots.requests = {{0, open}, {3, hidden}, {3, open}, {50, open}};
    shots.take = [](const cv::Mat& y, const cv::Mat&, const cv::Mat&, const MosaicRect& r) {
        const cv::Mat part = y(cv::Rect(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0));
        return std::to_string(cv::norm(part, cv::NORM_L2)) + "@" + std::to_string(y.at<uint8_t>(0));
    };
    RenderJob job = job_in(dir, 8, plan);
    job.shots = &shots;
    ASSERT_EQ(render_with(m, job, {A, B}).failure, "");
    ASSERT_EQ(shots.before.size(), 4u);
    ASSERT_EQ(shots.after.size(), 4u);
    EXPECT_EQ(shots.before[1].substr(shots.before[1].find('@')), "@3") << "frame 3's picture";
    EXPECT_NE(shots.before[1], shots.after[1]) << "the box was hidden in between";
    EXPECT_EQ(shots.before[0], shots.after[0]);
    EXPECT_EQ(shots.before[2], shots.after[2]) << "nothing hidden there";
    EXPECT_NE(shots.before[0], "");
    EXPECT_EQ(shots.before[3], "") << "past the clip's end";
    EXPECT_EQ(shots.after[3], "");

    shots.requests = {{3, open}, {0, open}};
    EXPECT_THROW(render_with(m, job, {B}), std::invalid_argument);
}

// A finished video that cannot take the output's name (there a folder; on
// Windows, a file another program holds open) is kept beside it, complete,
// and the failure says where; nothing else is left.
TEST(RenderRules, AVideoThatCannotTakeTheOutputsNameIsKeptBesideIt) {
    ScopedTempDir dir;
    fs::create_directories(dir / "a_mosaic.mov" / "in the way");
    for (const std::vector<Args>& cands : {std::vector<Args>{A}, std::vector<Args>{PRORES}}) {
        SCOPED_TRACE(cands.front().at(1));
        FakeMedia m;
        Rendered r = render_with(m, job_in(dir, 10), cands);
        const std::string kept = (dir / "a_mosaic.new.mov").string();
        EXPECT_EQ(r.failure.rfind("could not save " + (dir / "a_mosaic.mov").string() + ": ", 0),
                  0u)
            << r.failure;
        EXPECT_NE(r.failure.find("; the new version is " + kept), std::string::npos) << r.failure;
        EXPECT_EQ(read_text(kept), "video of 10 frames");
        EXPECT_EQ(names_in(dir.path()),
                  (std::vector<std::string>{"a_mosaic.mov", "a_mosaic.new.mov"}));
    }
}
