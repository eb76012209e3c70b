#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/numbers.h"

namespace qltest {

ScopedTempDir::ScopedTempDir() {
    static std::atomic<unsigned> n{0};
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("qlcore-test-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(n++) + "-" + std::to_string(rd() % 100000));
    fs::create_directories(path_);
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ec;
    // Make read-only folders writable again so they can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

fs::path shared_dir() {
    if (const char* s = std::getenv("QLCORE_SHARED"); s && *s) return s;
    return fs::weakly_canonical(QLCORE_SHARED_DIR);
}

fs::path shared_photo(const std::string& name) {
    return shared_dir() / "testdata" / "faces" / name;
}

fs::path source_dir() {
    return QLCORE_SOURCE_DIR;
}

fs::path qlcore_program() {
    return QLCORE_BIN;
}

fs::path make_clip(const fs::path& out, const ClipSpec& s) {
    std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    std::vector<std::string> cmd{
        "ffmpeg", "-v",    "error", "-y",
        "-f",     "lavfi", "-i",    s.source + "=size=" + size + ":rate=" + s.rate};
    if (s.audio) {
        cmd.insert(cmd.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000"});
    }
    cmd.insert(cmd.end(),
               {"-frames:v", std::to_string(s.frames), "-c:v", s.codec, "-pix_fmt", s.pix_fmt});
    if (s.audio) cmd.insert(cmd.end(), {"-c:a", "pcm_s16le", "-shortest"});
    if (!s.timecode.empty()) cmd.insert(cmd.end(), {"-timecode", s.timecode});
    cmd.insert(cmd.end(), s.extra.begin(), s.extra.end());
    cmd.push_back(out.string());
    auto r = run_program(cmd);
    EXPECT_EQ(r.status, 0) << "ffmpeg could not make " << out << ": " << r.err;
    return out;
}

fs::path make_still_clip(const fs::path& out, const fs::path& picture, int frames,
                         const std::string& rate, const std::string& size) {
    std::vector<std::string> cmd{"ffmpeg",     "-v",
                                 "error",      "-y",
                                 "-loop",      "1",
                                 "-framerate", rate,
                                 "-i",         picture.string(),
                                 "-frames:v",  std::to_string(frames)};
    std::string vf = "pad=ceil(iw/2)*2:ceil(ih/2)*2";
    if (!size.empty()) vf = "scale=" + size;
    cmd.insert(cmd.end(), {"-vf", vf, "-c:v", "libx264", "-pix_fmt", "yuv420p", out.string()});
    auto r = run_program(cmd);
    EXPECT_EQ(r.status, 0) << "ffmpeg could not make " << out << ": " << r.err;
    return out;
}

qlcore::RunResult run_program(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env,
                              const std::optional<fs::path>& cwd) {
    // env(1) sets the environment and folder; it execs the program directly.
    std::vector<std::string> cmd{"/usr/bin/env"};
    if (cwd) cmd.insert(cmd.end(), {"-C", cwd->string()});
    for (const auto& e : env) {
        if (!e.empty() && e[0] == '-')
            cmd.insert(cmd.end(), {"-u", e.substr(1)});
        else
            cmd.push_back(e);
    }
    cmd.insert(cmd.end(), argv.begin(), argv.end());
    return qlcore::run_capture(cmd);
}

qlcore::RunResult run_qlcore(const std::vector<std::string>& args,
                             const std::vector<std::string>& env,
                             const std::optional<fs::path>& cwd,
                             const std::optional<fs::path>& program) {
    std::vector<std::string> argv{(program ? *program : qlcore_program()).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    // Never the user's own ~/Quillet: a private home unless the test chose one.
    bool chose_home = false;
    for (const auto& e : env)
        if (e.rfind("QUILLET_HOME=", 0) == 0 || e == "-QUILLET_HOME") chose_home = true;
    if (chose_home) return run_program(argv, env, cwd);
    static ScopedTempDir private_home;
    std::vector<std::string> with_home = env;
    with_home.push_back("QUILLET_HOME=" + private_home.path().string());
    return run_program(argv, with_home, cwd);
}

int count_frames(const fs::path& clip) {
    auto r =
        run_program({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames",
                     "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", clip.string()});
    auto n = qlcore::parse_int(qlcore::trim(r.out));
    return n ? static_cast<int>(*n) : -1;
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string probe_json(const fs::path& clip) {
    auto r = run_program({"ffprobe", "-v", "error", "-print_format", "json", "-show_streams",
                          "-show_format", clip.string()});
    return r.out;
}

void spoil_last_frame(const fs::path& clip) {
    auto r =
        qltest::run_program({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "packet=size,pos", "-of", "csv=p=0", clip.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    const size_t comma = last.find(',');
    const size_t size = std::stoul(last.substr(0, comma)), pos = std::stoul(last.substr(comma + 1));
    std::ifstream in(clip, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    ASSERT_LE(pos + size, bytes.size());
    std::fill(bytes.begin() + static_cast<long>(pos + 4),
              bytes.begin() + static_cast<long>(pos + size), '\xff');
    std::ofstream(clip, std::ios::binary) << bytes;
}

}  // namespace qltest
