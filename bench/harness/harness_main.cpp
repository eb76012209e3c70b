// qlharness: generates the benchmark clips, runs `qlcore process` on each
// through the test installation, and writes every figure as JSON.
//
//   qlharness --work DIR --out results.json [--scenes a,b] [--no-speed]
//             [--mode default|fast|thorough] [--arg OPTION]...
//   qlharness --preview SCENE FRAME out.png     (one composed frame, for a look)
//   qlharness --strip out.png                   (one face in every hiding style)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <sstream>
#include <string>

#include "analysis/analyse.h"
#include "analysis/views.h"
#include "faces/models.h"
#include "geometry/face_row.h"
#include "landmarks.h"
#include "measure.h"
#include "media/tools.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/json_text.h"
#include "platform/numbers.h"
#include "platform/subprocess.h"
#include "runs.h"
#include "scenes.h"
#include "speed.h"
#include "strength.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace {

using namespace bench;
using qlcore::json;

// Sprite ids used by the scenes.
const std::vector<std::string> PHOTOS = {"obama.jpg",  "biden.jpg",  "obama2.jpg",
                                         "biden2.jpg", "obama3.jpg", "obama1.jpg"};
// Speed is measured on these scenes: 720p, 1080p, 4K 8-bit, 4K 10-bit, and
// the reruns of a 20-second 1080p clip and a 4-second 4K 10-bit one.
const std::set<std::string> SPEED = {"moving", "fhd", "uhd8", "uhd10", "fhd_long", "uhd10_long"};
// Clips made for speed alone: their pictures repeat "moving" and "uhd10".
const std::set<std::string> SPEED_ONLY = {"fhd", "uhd8", "fhd_long", "uhd10_long"};
// Of those, the clips measured for their reruns from the cache alone.
const std::set<std::string> RERUNS_ONLY = {"fhd_long", "uhd10_long"};

void say(const std::string& s) {
    std::cerr << s << std::endl;
}

std::string tail(const fs::path& log, size_t n) {
    std::ifstream in(log);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    std::string out;
    for (size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); ++i)
        out += lines[i] + "\n";
    return out;
}

// Seconds of the search pass, from the last progress line the program wrote
// ("finding faces: ... (N/N frames, F fps"), or -1 when there is none.
double search_seconds(const fs::path& log) {
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.rfind("finding faces:");
    if (at == std::string::npos) return -1.0;
    long long i = 0, n = 0;
    double fps = 0.0;
    const size_t open = text.find('(', at);
    if (open == std::string::npos ||
        std::sscanf(text.c_str() + open, "(%lld/%lld frames, %lf fps", &i, &n, &fps) != 3 ||
        fps <= 0.0)
        return -1.0;
    return i / fps;
}

// Real footage measured without a ground truth: the first frames of
// opencv-doc's vtest.avi (people walking outside, 768x576).
constexpr const char* FOOTAGE = "vtest";
constexpr int FOOTAGE_FRAMES = 200;

// With --reuse, a scene's clip and analysis cache from an earlier run stay:
// the program judges and renders again without searching (thresholds of the
// verdicts measured in minutes, not hours).
bool reuse = false;

// Makes `dir` ready for a run: fresh, or with --reuse the earlier clip and
// cache kept and the earlier outputs gone. True when the clip must be made.
struct JobCommand {
    std::vector<std::string> argv, env;
};

// `qlcore process` on the job in dir/job with its own people folder. The
// step timings go to the log only; the outputs stay as they are.
JobCommand job_command(const fs::path& program, const fs::path& dir,
                       const std::vector<std::string>& extra) {
    JobCommand c;
    c.env = {"QUILLET_HOME=" + (dir / "home").string(), "OPENCV_LOG_LEVEL=ERROR",
             "QLCORE_TIMINGS=1"};
    c.argv = {program.string(), "process", "--job", (dir / "job").string()};
    c.argv.insert(c.argv.end(), extra.begin(), extra.end());
    return c;
}

Measured process_job(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const fs::path& dir) {
    const Measured m = run_measured(argv, env, dir / "process.log");
    say("  processed in " + std::to_string(m.seconds) + " s, status " + std::to_string(m.status));
    return m;
}

bool prepare(const fs::path& dir, const fs::path& clip, const fs::path& out_dir) {
    if (reuse && fs::exists(clip)) {
        if (fs::exists(out_dir))
            for (const auto& e : fs::directory_iterator(out_dir))
                if (e.path().string().find(".analysis.") == std::string::npos)
                    fs::remove_all(e.path());
        return false;
    }
    fs::remove_all(dir);
    fs::create_directories(dir / "home" / "people");
    return true;
}

json run_footage(const fs::path& work, const fs::path& program,
                 const std::vector<std::string>& extra) {
    const fs::path dir = work / FOOTAGE;
    const fs::path clip = dir / (std::string(FOOTAGE) + ".mov"), out_dir = dir / "out";
    if (prepare(dir, clip, out_dir)) {
        qlcore::Child cut({qlcore::ffmpeg_bin(), "-hide_banner", "-loglevel", "error", "-y", "-i",
                           (BACKDROP_DIR / "vtest.avi").string(), "-frames:v",
                           std::to_string(FOOTAGE_FRAMES), "-c:v", "libx264", "-preset", "veryfast",
                           "-crf", "16", "-pix_fmt", "yuv420p", clip.string()},
                          {qlcore::Stdio::Null, qlcore::Stdio::Inherit, qlcore::Stdio::Inherit});
        if (!cut.wait().success()) throw std::runtime_error("cannot cut vtest.avi");
    }
    write_job(dir / "job", clip, out_dir, "", "prores");
    const auto [argv, env] = job_command(program, dir, extra);
    const Measured m = process_job(argv, env, dir);
    json r = json::object({{"scene", FOOTAGE},
                           {"what", "vtest.avi, people walking outside (first " +
                                        std::to_string(FOOTAGE_FRAMES) + " frames)"},
                           {"size", "768x576"},
                           {"frames", FOOTAGE_FRAMES}});
    const double search_s = search_seconds(dir / "process.log");
    r["process"] =
        json::object({{"status", m.status},
                      {"seconds", qlcore::round_places(m.seconds, 2)},
                      {"search_seconds",
                       search_s < 0 ? json(nullptr) : json(qlcore::round_places(search_s, 2))}});
    if (m.status != 0) {
        r["error"] = tail(dir / "process.log", 8);
        return r;
    }
    const std::string stem = std::string(FOOTAGE) + "_mosaic";
    r["footage"] = measure_footage({clip, out_dir / (stem + ".mov"), out_dir / (stem + ".json"),
                                    out_dir / (stem + ".analysis.json")},
                                   768);
    return r;
}

json run_scene(const Scene& s, const std::vector<Sprite>& sprites, const fs::path& work,
               const fs::path& program, qlcore::Models& models, bool speed,
               const std::vector<std::string>& extra) {
    const fs::path dir = work / s.name;
    const fs::path clip = dir / (s.name + ".mov");
    double t = now();
    if (prepare(dir, clip, dir / "out")) {
        write_clip(s, sprites, clip);
        say("  clip written in " + std::to_string(now() - t) + " s");
    }

    std::string keep;
    for (const Actor& a : s.actors) {
        if (!a.kept) continue;
        // The stand-in recogniser knows one picture, not one person: enroll
        // the very photo the face was cut from.
        keep = "Kept";
        fs::create_directories(dir / "home" / "people" / keep);
        if (fs::exists(dir / "home" / "people" / keep / sprites.at(a.sprite).photo)) continue;
        fs::copy_file(qltest::shared_photo(sprites.at(a.sprite).photo),
                      dir / "home" / "people" / keep / sprites.at(a.sprite).photo,
                      fs::copy_options::overwrite_existing);
    }
    const fs::path out_dir = dir / "out";
    write_job(dir / "job", clip, out_dir, keep, "prores");
    const auto [argv, env] = job_command(program, dir, extra);
    const Measured m = process_job(argv, env, dir);

    json r = json::object();
    r["scene"] = s.name;
    r["what"] = s.what;
    r["size"] = std::to_string(s.w) + "x" + std::to_string(s.h);
    r["bits"] = s.deep ? 10 : 8;
    r["frames"] = s.frames;
    r["process"] = json::object({{"status", m.status},
                                 {"seconds", qlcore::round_places(m.seconds, 2)},
                                 {"peak_kib_program", m.self_kib},
                                 {"peak_kib_own", m.own_kib}});
    const double search_s = search_seconds(dir / "process.log");
    r["process"]["search_seconds"] =
        search_s < 0 ? json(nullptr) : json(qlcore::round_places(search_s, 2));
    if (m.status != 0) {
        r["error"] = tail(dir / "process.log", 8);
        return r;
    }
    Outputs o{clip, out_dir / (s.name + "_mosaic.mov"), out_dir / (s.name + "_mosaic.json"),
              out_dir / (s.name + "_mosaic.analysis.json")};
    // The review page the run wrote, before a rerun replaces it.
    const fs::path page = out_dir / (s.name + "_mosaic.review.html");
    if (fs::exists(page)) {
        const std::string html = qlcore::read_file(page);
        const std::string card = "<article class=\"card ";
        size_t cards = 0;
        for (size_t at = html.find(card); at != std::string::npos; at = html.find(card, at + 1))
            ++cards;
        r["review_page"] = json::object({{"bytes", html.size()}, {"cards", cards}});
    }
    if (!SPEED_ONLY.count(s.name)) {
        t = now();
        r["quality"] = measure_scene(s, sprites, o, models);
        say("  measured in " + std::to_string(now() - t) + " s: " +
            std::to_string(r["quality"]["leaked_face_frames"].get<int>()) + " leaked face-frames");
    }
    if (speed && RERUNS_ONLY.count(s.name)) {
        t = now();
        r["reruns"] = measure_reruns(clip, dir, argv, env, o.video);
        r["reruns"]["steps_cold"] = json::object();
        for (const auto& [step, sec] : m.steps)
            r["reruns"]["steps_cold"][step] = qlcore::round_places(sec, 3);
        say("  reruns measured in " + std::to_string(now() - t) + " s");
    } else if (speed) {
        t = now();
        r["speed"] = measure_speed(clip, dir, models, m, argv, env, o.video);
        say("  speed measured in " + std::to_string(now() - t) + " s");
    }
    return r;
}

int preview(const std::string& name, int f, const std::string& out) {
    const std::vector<Sprite> sprites = load_sprites(PHOTOS, qltest::test_detector_model());
    std::vector<Scene> all = quality_scenes();
    for (Scene& s : speed_scenes())
        all.push_back(s);
    for (Scene& s : hard_scenes())
        all.push_back(s);
    for (Scene& s : clutter_scenes())
        all.push_back(s);
    for (const Scene& s : all) {
        if (s.name != name) continue;
        std::vector<Truth> truth;
        cv::Mat frame = compose(s, sprites, make_canvas(s), f, truth);
        for (const Truth& t : truth) {
            cv::rectangle(frame, cv::Rect(t.box),
                          t.lure   ? cv::Scalar(255, 0, 0)
                          : t.kept ? cv::Scalar(0, 255, 0)
                                   : cv::Scalar(0, 0, 255),
                          2);
            std::printf("actor %d kept %d box %.1f %.1f %.1f %.1f visible %.2f\n", t.actor, t.kept,
                        t.box.x, t.box.y, t.box.width, t.box.height, t.visible);
        }
        cv::imwrite(out, frame);
        return 0;
    }
    std::fprintf(stderr, "no scene %s\n", name.c_str());
    return 2;
}

std::set<std::string> expand(const std::set<std::string>& list);

// Every weak-or-better detection of the thorough search's views on every
// third composed frame of the named scenes, one JSON line each: scene, frame,
// score, whether it lies on a face, on a lure, and its landmark proportions
// (landmarks.h): the measurement that keeps landmark geometry out of the
// face evidence (BENCHMARKS.md).
int landmarks(const std::string& names, const std::string& out) {
    const std::vector<Sprite> sprites = load_sprites(PHOTOS, qltest::test_detector_model());
    qlcore::Models models(qltest::test_detector_model(), qltest::stand_in_recognizer());
    std::set<std::string> listed;
    std::stringstream list(names);
    for (std::string item; std::getline(list, item, ',');)
        listed.insert(item);
    const std::set<std::string> only = expand(listed);
    std::vector<Scene> all = hard_scenes();
    for (Scene& s : clutter_scenes())
        all.push_back(s);
    std::ofstream file(out);
    for (const Scene& s : all) {
        if (!only.count(s.name)) continue;
        say("landmarks of " + s.name);
        const Canvas canvas = make_canvas(s);
        const auto views = qlcore::search_views({s.w, s.h}, qlcore::DEFAULT_DET_MAX_SIDE,
                                                qlcore::thorough_view_options());
        std::vector<Truth> truth;
        for (int f = 0; f < s.frames; f += 3) {
            const cv::Mat frame = compose(s, sprites, canvas, f, truth);
            std::vector<cv::Mat> found;
            for (const qlcore::View& v : views)
                found.push_back(qlcore::rows_to_frame(
                    models.detect(qlcore::view_picture(frame, v), 1000000, qlcore::WEAK_DET_SCORE),
                    v));
            const cv::Mat rows = qlcore::merge_rows(found, qlcore::VIEW_MERGE_IOU);
            for (int i = 0; i < rows.rows; ++i) {
                const qlcore::FaceRow r(rows.ptr<float>(i));
                const cv::Rect2d box(r.x(), r.y(), r.w(), r.h());
                bool face = false, lure = false;
                for (const Truth& t : truth)
                    (t.lure ? lure : face) |= face_at(box, t.box);
                json line = json::object({{"scene", s.name},
                                          {"frame", f},
                                          {"score", r.score()},
                                          {"w", r.w()},
                                          {"face", face},
                                          {"lure", lure},
                                          {"misfit", landmark_misfit(r)}});
                if (const auto p = landmark_proportions(r))
                    line["p"] = json::array({p->eyes_per_box, p->nose_x, p->nose_y, p->mouth_x,
                                             p->mouth_y, p->mouth_width});
                file << line.dump() << "\n";
            }
        }
    }
    return 0;
}

int strip(const std::string& out) {
    const std::vector<Sprite> sprites = load_sprites(PHOTOS, qltest::test_detector_model());
    return cv::imwrite(out, style_strip(sprites, 0, 96)) ? 0 : 1;
}

const char* USAGE =
    "usage: qlharness --work DIR --out FILE [--scenes a,b] [--no-speed]\n"
    "                 [--mode default|fast|thorough] [--arg OPTION]...\n"
    "       qlharness --strip out.png\n"
    "       qlharness --landmarks SCENES out.jsonl   (landmarks of every weak detection)\n"
    "  --scenes: scene names or the groups existing, hard, clutter, speed, strength, all\n"
    "            (vtest: the first frames of opencv-doc's vtest.avi)\n"
    "  --reuse: keep each scene's clip and analysis cache from the last run\n"
    "  --arg: passed on to `qlcore process` (repeat for more)\n";

// Scene names of the named groups; other names stand for themselves.
std::set<std::string> expand(const std::set<std::string>& list) {
    std::set<std::string> out;
    const auto add = [&](const std::vector<Scene>& scenes) {
        for (const Scene& s : scenes)
            out.insert(s.name);
    };
    for (const std::string& item : list) {
        if (item == "existing" || item == "all") add(quality_scenes());
        if (item == "hard" || item == "all") add(hard_scenes());
        if (item == "speed" || item == "all") add(speed_scenes());
        if (item == "clutter" || item == "all") add(clutter_scenes());
        if (item == "all") out.insert(FOOTAGE);
        if (item == "all" ||
            (item != "existing" && item != "hard" && item != "speed" && item != "clutter"))
            out.insert(item == "all" ? "strength" : item);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work, out;
    std::set<std::string> only;
    bool speed = true;
    std::string mode = "default";
    std::vector<std::string> extra;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--preview" && i + 3 < argc)
            return preview(argv[i + 1], std::stoi(argv[i + 2]), argv[i + 3]);
        if (a == "--strip" && i + 1 < argc) return strip(argv[i + 1]);
        if (a == "--landmarks" && i + 2 < argc) return landmarks(argv[i + 1], argv[i + 2]);
        if (a == "--work" && i + 1 < argc)
            work = argv[++i];
        else if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (a == "--no-speed")
            speed = false;
        else if (a == "--reuse")
            reuse = true;
        else if (a == "--mode" && i + 1 < argc) {
            mode = argv[++i];
            if (mode != "default") extra.push_back("--" + mode);
        } else if (a == "--arg" && i + 1 < argc)
            extra.push_back(argv[++i]);
        else if ((a == "--only" || a == "--scenes") && i + 1 < argc) {
            std::stringstream list(argv[++i]);
            std::string item;
            while (std::getline(list, item, ','))
                only.insert(item);
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    if (work.empty() || out.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    only = expand(only);
    try {
        fs::create_directories(work);
        const fs::path program = qltest::test_install_program();
        say("program: " + program.string());
        const std::vector<Sprite> sprites = load_sprites(PHOTOS, qltest::test_detector_model());
        qlcore::Models models(qltest::test_detector_model(), qltest::stand_in_recognizer());

        std::vector<Scene> all = quality_scenes();
        for (Scene& s : speed_scenes())
            all.push_back(s);
        for (Scene& s : hard_scenes())
            all.push_back(s);
        for (Scene& s : clutter_scenes())
            all.push_back(s);
        json scenes = json::array();
        const double t0 = now();
        const auto save = [&] {
            json doc = json::object({{"scenes", scenes},
                                     {"mode", mode},
                                     {"seconds", qlcore::round_places(now() - t0, 1)}});
            qlcore::write_file_atomic(out, qlcore::dump_indented(doc));
        };
        for (const Scene& s : all) {
            if (!only.empty() && !only.count(s.name)) continue;
            say("scene " + s.name + " (" + std::to_string(s.w) + "x" + std::to_string(s.h) + ", " +
                std::to_string(s.frames) + " frames)");
            scenes.push_back(
                run_scene(s, sprites, work, program, models, speed && SPEED.count(s.name), extra));
            // Written after every scene, so a long run can be looked at early.
            save();
        }
        if (only.count(FOOTAGE)) {
            say(std::string("footage ") + FOOTAGE);
            scenes.push_back(run_footage(work, program, extra));
            save();
        }
        if (only.empty() || only.count("strength")) {
            say("mosaic and hiding style strength");
            json doc = json::object({{"scenes", scenes}, {"mode", mode}});
            doc["mosaic_strength"] = mosaic_strength(sprites, models);
            doc["seconds"] = qlcore::round_places(now() - t0, 1);
            qlcore::write_file_atomic(out, qlcore::dump_indented(doc));
        }
        say("harness done in " + std::to_string(now() - t0) + " s");
    } catch (const qlcore::FatalStop& e) {
        std::fprintf(stderr, "stopped: %s\n", e.message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "harness failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
