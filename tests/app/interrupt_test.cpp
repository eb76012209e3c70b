// Ctrl-C and SIGTERM in the middle of a real `process --job` run: the program
// ends its ffmpeg children, removes its work in progress, writes nothing
// under a final name nor done.flag, says so, and exits with 128 + signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/run_checks.h"
#include "platform/subprocess.h"

namespace fs = std::filesystem;
using namespace qlchecks;

namespace {

// Processes whose command line mentions `text`.
std::vector<std::string> processes_naming(const std::string& text) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::string cmd = read_text(it->path() / "cmdline");
        for (char& c : cmd)
            if (c == '\0') c = ' ';
        if (cmd.find(text) != std::string::npos) found.push_back(cmd);
    }
    return found;
}

struct Stopped {
    int status = -1;
    std::string out, err;
};

class Interrupt : public ::testing::Test {
  protected:
    void SetUp() override {
        qltest::ClipSpec spec;
        spec.width = 640;
        spec.height = 360;
        spec.frames = 250;
        spec.audio = true;
        clip_ = qltest::make_clip(work_ / "A001.mov", spec);
        job_ = work_ / "job";
        fs::create_directories(job_);
        write_text(job_ / "clips.txt", clip_.string() + "\n");
    }

    // Starts the run, waits until its console shows `phase`, then sends the
    // signals (or does `act`), and reads everything to the end.
    Stopped stop_during(const std::string& phase, std::vector<int> signals,
                        const std::function<void()>& act = {}) {
        qlcore::Child run(
            {"/usr/bin/env", "QUILLET_HOME=" + home_.path().string(),
             qltest::test_install_program().string(), "process", "--job", job_.string()},
            {qlcore::Stdio::Null, qlcore::Stdio::Pipe, qlcore::Stdio::Pipe});
        Stopped s;
        char c;
        while (s.out.find(phase) == std::string::npos && run.read_exact(&c, 1))
            s.out += c;
        EXPECT_NE(s.out.find(phase), std::string::npos) << s.out;
        for (size_t i = 0; i < signals.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ::kill(run.pid(), signals[i]);
        }
        if (act) act();
        std::string rest;
        run.read_both(rest, s.err);
        s.out += rest;
        s.status = run.wait().code;
        return s;
    }

    void expect_clean_stop(const Stopped& s, int sig) {
        EXPECT_EQ(s.status, 128 + sig) << s.out << s.err;
        EXPECT_NE(s.err.find("Interrupted"), std::string::npos) << s.err;
        EXPECT_EQ(s.out.find("Finished"), std::string::npos);
        // Checked at once: a child left running would still be at work.
        EXPECT_EQ(processes_naming(clip_.string()), std::vector<std::string>{});
        EXPECT_EQ(leftovers(work_.path()), std::vector<fs::path>{});
        EXPECT_FALSE(fs::exists(work_ / "Quillet" / "A001_mosaic.mov"));
        EXPECT_FALSE(fs::exists(work_ / "Quillet" / "A001_mosaic.json"));
        EXPECT_FALSE(fs::exists(job_ / "done.flag"));
        EXPECT_FALSE(fs::exists(job_ / "results.tsv"));
    }

    qltest::ScopedTempDir home_, work_;
    fs::path clip_, job_;
};

}  // namespace

TEST_F(Interrupt, DuringTheFaceSearch) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        Stopped s = stop_during("finding faces", {sig});
        expect_clean_stop(s, sig);
        // The search never finished, so nothing of it is cached.
        EXPECT_FALSE(fs::exists(work_ / "Quillet" / "A001_mosaic.analysis.json"));
    }
}

TEST_F(Interrupt, DuringTheRenderAlsoWhenPressedTwice) {
    const std::vector<std::vector<int>> cases{{SIGINT}, {SIGTERM}, {SIGINT, SIGINT}};
    for (const auto& signals : cases) {
        SCOPED_TRACE(signals.size());
        Stopped s = stop_during("writing", signals);
        expect_clean_stop(s, signals[0]);
    }
    // The finished search survives the interruptions and the run completes.
    auto r = qltest::run_qlcore({"process", "--job", job_.string()},
                                {"QUILLET_HOME=" + home_.path().string()}, std::nullopt,
                                qltest::test_install_program());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("reusing earlier face search"), std::string::npos);
    EXPECT_TRUE(fs::exists(job_ / "done.flag"));
    EXPECT_EQ(qltest::count_frames(work_ / "Quillet" / "A001_mosaic.mov"), 250);
}

// The script that started the run asks it to stop through the job folder,
// where it could only end it outright (on Windows): the run stops as at a
// Ctrl-C, during the render as in the search. A request left by an earlier
// stopped run does not stop the next one.
TEST_F(Interrupt, AStopFileInTheJobFolderIsACtrlC) {
    const fs::path stop = job_ / "stop";
    for (const char* phase : {"finding faces", "writing"}) {
        SCOPED_TRACE(phase);
        write_text(stop, "");
        Stopped s = stop_during(phase, {}, [&] { write_text(stop, ""); });
        expect_clean_stop(s, SIGINT);
    }
}
