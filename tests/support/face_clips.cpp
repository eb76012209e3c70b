#include "support/face_clips.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <opencv2/core.hpp>

#include "faces/yunet.h"
#include "media/tools.h"
#include "platform/numbers.h"
#include "platform/subprocess.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace qltest {

namespace {

// Where each photo's face is, as a crop of 8:9 around it with the face in
// the middle; the face fills about half the crop's width.
struct Crop {
    const char* photo;
    int w, h, x, y;
};
constexpr Crop CROPS[] = {
    {"obama-720p.jpg", 320, 360, 504, 0},
    {"biden.jpg", 560, 630, 287, 52},
};

std::string _num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", v);
    return buf;
}

double _rate(const std::string& rate) {
    size_t slash = rate.find('/');
    if (slash == std::string::npos) return qlcore::parse_double(rate).value_or(25.0);
    return qlcore::parse_double(rate.substr(0, slash)).value_or(25.0) /
           qlcore::parse_double(rate.substr(slash + 1)).value_or(1.0);
}

struct Patch {
    int w, h;
};

// The head-and-shoulders patch: two thirds of the frame's height.
Patch _patch(const FaceClipSpec& s) {
    int h = (s.height * 2 / 3) / 2 * 2;
    int w = (h * 8 / 9) / 2 * 2;
    return {w, h};
}

// Filter turning input `in` (a looped photo) into the patch `label`.
std::string _patch_filter(int in, const std::string& photo, Patch p, const std::string& label,
                          const std::string& look) {
    // Appended, not "[" + number: g++ 12 at -O3 warns falsely (-Wrestrict) on that.
    std::string f(1, '[');
    f += std::to_string(in) + ":v]";
    for (const Crop& c : CROPS)
        if (photo == c.photo)
            f += "crop=" + std::to_string(c.w) + ":" + std::to_string(c.h) + ":" +
                 std::to_string(c.x) + ":" + std::to_string(c.y) + ",";
    f += "scale=" + std::to_string(p.w) + ":" + std::to_string(p.h) + ",setsar=1";
    if (!look.empty()) f.append(",").append(look);
    f.append("[").append(label).append("]");
    return f;
}

// Runs ffmpeg over a plain background, the looped photos and a tone; `graph`
// ends in the label [v].
fs::path _compose(const fs::path& out, const FaceClipSpec& s,
                  const std::vector<std::string>& photos, const std::string& graph) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    std::vector<std::string> cmd{
        "ffmpeg", "-v",    "error", "-y",
        "-f",     "lavfi", "-i",    "color=c=0x5a7a8c:size=" + size + ":rate=" + s.rate};
    std::string full_graph = graph;
    if (!s.backdrop.empty()) {
        // The picture in place of the plain colour, filling the frame.
        cmd.erase(cmd.end() - 4, cmd.end());
        cmd.insert(cmd.end(), {"-loop", "1", "-framerate", s.rate, "-i", s.backdrop.string()});
        const std::string w = std::to_string(s.width), h = std::to_string(s.height);
        const std::string fill = "[0:v]scale=" + w + ":" + h +
                                 ":force_original_aspect_ratio=increase,crop=" + w + ":" + h +
                                 ",setsar=1,format=yuv420p[bg];";
        for (size_t at = full_graph.find("[0:v]"); at != std::string::npos;
             at = full_graph.find("[0:v]", at))
            full_graph.replace(at, 5, "[bg]");
        full_graph = fill + full_graph;
    }
    for (const auto& p : photos)
        cmd.insert(cmd.end(), {"-loop", "1", "-framerate", s.rate, "-i", shared_photo(p).string()});
    const int audio_in = static_cast<int>(photos.size()) + 1;
    if (s.audio)
        cmd.insert(cmd.end(), {"-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=48000:duration=" +
                                   _num(s.frames / _rate(s.rate))});
    // Cut in the graph, not with -frames:v, which would end the audio early.
    cmd.insert(cmd.end(), {"-filter_complex",
                           full_graph + ";[v]trim=end_frame=" + std::to_string(s.frames) + "[cut]",
                           "-map", "[cut]"});
    if (s.audio)
        cmd.insert(cmd.end(), {"-map", std::to_string(audio_in) + ":a", "-c:a", "pcm_s16le"});
    cmd.insert(cmd.end(), {"-c:v", s.codec, "-pix_fmt", s.pix_fmt});
    if (!s.timecode.empty()) cmd.insert(cmd.end(), {"-timecode", s.timecode});
    cmd.insert(cmd.end(), s.extra.begin(), s.extra.end());
    cmd.push_back(out.string());
    auto r = run_program(cmd);
    EXPECT_EQ(r.status, 0) << "ffmpeg could not make " << out << ": " << r.err;
    return out;
}

}  // namespace

fs::path make_moving_face_clip(const fs::path& out, const FaceClipSpec& s,
                               const std::string& photo) {
    const Patch p = _patch(s);
    const int x0 = s.width / 12, x1 = s.width - p.w - s.width / 12;
    const int last = std::max(1, s.frames - 1);
    const std::string graph = _patch_filter(1, photo, p, "f", s.look) +
                              ";[0:v][f]overlay=eval=frame:x='" + std::to_string(x0) + "+" +
                              std::to_string(x1 - x0) + "*n/" + std::to_string(last) +
                              "':y=(main_h-overlay_h)/2:shortest=1[v]";
    return _compose(out, s, {photo}, graph);
}

fs::path make_two_people_clip(const fs::path& out, const FaceClipSpec& s, const std::string& left,
                              const std::string& right) {
    const Patch p = _patch(s);
    const std::string lx = std::to_string(s.width / 4 - p.w / 2);
    const std::string rx = std::to_string(3 * s.width / 4 - p.w / 2);
    const std::string graph = _patch_filter(1, left, p, "a", s.look) + ";" +
                              _patch_filter(2, right, p, "b", s.look) +
                              ";[0:v][a]overlay=eval=frame:x='" + lx +
                              "+6*sin(n/4)':y=(main_h-overlay_h)/2:shortest=1[m];"
                              "[m][b]overlay=eval=frame:x='" +
                              rx + "-6*sin(n/4)':y=(main_h-overlay_h)/2:shortest=1[v]";
    return _compose(out, s, {left, right}, graph);
}

fs::path make_passing_face_clip(const fs::path& out, const FaceClipSpec& s,
                                const std::string& photo) {
    const Patch p = _patch(s);
    const int x0 = -p.w - 4, x1 = s.width + 4;
    const int last = std::max(1, s.frames - 1);
    const std::string graph = _patch_filter(1, photo, p, "f", s.look) +
                              ";[0:v][f]overlay=eval=frame:x='" + std::to_string(x0) + "+" +
                              std::to_string(x1 - x0) + "*n/" + std::to_string(last) +
                              "':y=(main_h-overlay_h)/2:shortest=1[v]";
    return _compose(out, s, {photo}, graph);
}

std::vector<std::vector<SeenFace>> faces_per_frame(const fs::path& clip, float min_score) {
    std::vector<std::vector<SeenFace>> seen;
    auto r = run_program({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=width,height", "-of", "csv=p=0:s=x", clip.string()});
    int w = 0, h = 0;
    if (std::sscanf(r.out.c_str(), "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) {
        ADD_FAILURE() << "ffprobe cannot size " << clip << ": " << r.err;
        return seen;
    }
    qlcore::YuNetDetector det(test_detector_model().string(), "", {w, h}, min_score, 0.3f, 5000);
    qlcore::Child dec({qlcore::ffmpeg_bin(), "-v", "error", "-i", clip.string(), "-map", "0:v:0",
                       "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgr24", "-"},
                      {qlcore::Stdio::Null, qlcore::Stdio::Pipe, qlcore::Stdio::Inherit});
    cv::Mat frame(h, w, CV_8UC3), faces;
    while (dec.read_exact(frame.data, frame.total() * frame.elemSize())) {
        det.detect(frame, faces);
        std::vector<SeenFace> here;
        for (int i = 0; i < faces.rows; ++i) {
            const float* f = faces.ptr<float>(i);
            here.push_back({f[0], f[1], f[2], f[3], f[14]});
        }
        seen.push_back(std::move(here));
    }
    EXPECT_EQ(dec.wait().code, 0) << "ffmpeg could not decode " << clip;
    return seen;
}

std::vector<int> frames_with_faces(const std::vector<std::vector<SeenFace>>& seen) {
    std::vector<int> frames;
    for (size_t i = 0; i < seen.size(); ++i)
        if (!seen[i].empty()) frames.push_back(static_cast<int>(i));
    return frames;
}

}  // namespace qltest
