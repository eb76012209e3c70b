// YUV reader throughput next to ffmpeg writing the same raw frames to
// /dev/null: the reader should keep at least 90 % of ffmpeg's own pace.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "media/ffmpeg_commands.h"
#include "media/frame_readers.h"
#include "media/tools.h"
#include "platform/subprocess.h"

using namespace qlcore;
namespace fs = std::filesystem;

namespace {

double now_s() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

constexpr int FRAMES = 240;
constexpr int ROUNDS = 5;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Frames per second of ffmpeg decoding to raw YUV on /dev/null.
double ffmpeg_alone(const std::string& clip, const std::string& pix_fmt) {
    Args cmd = yuv_reader_command(ffmpeg_bin(), hwaccel_args(), clip, pix_fmt);
    cmd.back() = "/dev/null";
    cmd.insert(cmd.end() - 1, "-y");
    double t0 = now_s();
    int st = run_capture(cmd).status;
    double dt = now_s() - t0;
    if (st != 0) std::printf("ffmpeg failed with status %d\n", st);
    return FRAMES / dt;
}

// Frames per second through YUVReader, one buffer reused as render does.
double through_reader(const std::string& clip, int bits) {
    ClipInfo info;
    info.bits = bits;
    double t0 = now_s();
    YUVReader reader(clip, {1920, 1080}, info);
    YuvFrame frame;
    int n = 0;
    while (reader.read(frame))
        ++n;
    reader.close();
    double dt = now_s() - t0;
    if (n != FRAMES) std::printf("reader delivered %d frames, expected %d\n", n, FRAMES);
    return n / dt;
}

}  // namespace

int main() {
    fs::path dir = fs::temp_directory_path() / ("qlcore-yuv-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string clip = (dir / "hd.mp4").string();
    RunResult made =
        run_capture({ffmpeg_bin(), "-v", "error", "-y", "-f", "lavfi", "-i",
                     "testsrc2=size=1920x1080:rate=25", "-frames:v", std::to_string(FRAMES), "-c:v",
                     "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", clip});
    if (made.status != 0) {
        std::printf("cannot make the clip: %s\n", made.err.c_str());
        return 1;
    }
    // Alternate the runs so both see the same machine load; report medians.
    for (int bits : {8, 10}) {
        const std::string pix_fmt = bits > 8 ? "yuv420p10le" : "yuv420p";
        std::vector<double> ref, ours, ratio;
        for (int round = 0; round < ROUNDS; ++round) {
            ref.push_back(ffmpeg_alone(clip, pix_fmt));
            ours.push_back(through_reader(clip, bits));
            ratio.push_back(ours.back() / ref.back());
        }
        std::printf(
            "1920x1080 %s, %d frames, median of %d: ffmpeg to /dev/null %.1f fps, "
            "YUVReader %.1f fps, ratio %.1f %% (best reader %.1f fps)\n",
            pix_fmt.c_str(), FRAMES, ROUNDS, median(ref), median(ours), 100.0 * median(ratio),
            *std::max_element(ours.begin(), ours.end()));
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
