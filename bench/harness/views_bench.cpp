// qlviews: which search views find the most faces for their time. Composes
// frames of the hard scenes and of a mixed 1080p clip (no encoding), runs the
// real detector on every view of each candidate set, merges each frame's
// detections and counts ground-truth faces found, false detections and weak
// candidates (scores 0.25 to 0.42).
//
//   qlviews [--frames N] [--iou X] [--scenes a,b] [--usual] [--capped]
// --usual measures the usual view alone (for making scenes); --capped the
// enlarged view under several caps on its pixels.
#include <time.h>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "analysis/views.h"
#include "faces/yunet.h"
#include "scenes.h"
#include "support/test_install.h"

namespace {

using namespace bench;

// The harness's sprite list (sprite ids of the scenes).
const std::vector<std::string> PHOTOS = {"obama.jpg",  "biden.jpg",  "obama2.jpg",
                                         "biden2.jpg", "obama3.jpg", "obama1.jpg"};
constexpr int DET_MAX_SIDE = 1920;
constexpr float DET_SCORE = 0.42f;
constexpr float WEAK_SCORE = 0.25f;
// As in the scoring of exposed face-frames.
constexpr double SCORED = 0.25;

// CPU seconds of the whole process (the detector's threads included): on a
// shared machine wall time says more about the neighbours than the views.
double now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

// A 1080p clip with one face of each kind that is hard for the usual search.
Scene mixed_fhd() {
    Scene s;
    s.name = "mixed_fhd";
    s.what =
        "1080p: faces of 22 and 30 px, dim, defocused, smeared, tilted 110 degrees, cut, plain";
    s.w = 1920;
    s.h = 1080;
    s.frames = 30;
    s.actors = {
        {0, false, {{0, 300, 200, 22}, {29, 330, 210, 22}}},
        {1, false, {{0, 800, 180, 30}, {29, 770, 190, 30}}},
        {2, false, {{0, 1400, 250, 60}, {29, 1440, 260, 60}}, {0.2, 0.3}},
        {3, false, {{0, 400, 600, 110}, {29, 430, 610, 110}}, {1, 1, 0.12}},
        {4, false, {{0, 900, 650, 100}, {29, 980, 640, 100}}, {1, 1, 0, 0.7}},
        {5, false, {{0, 1500, 700, 120}, {29, 1480, 690, 120}}, {1, 1, 0, 0, 110}},
        {0, false, {{0, 1915, 450, 130}, {29, 1890, 460, 130}}},
        {1, false, {{0, 1150, 420, 150}, {29, 1170, 430, 150}}},
    };
    s.lures = {{{{0, 150, 850, 110}, {29, 250, 820, 110}}, {110, 145, 200}}};
    s.seed = 31;
    return s;
}

struct Candidate {
    std::string name;
    qlcore::ViewOptions o;
};

std::vector<Candidate> candidates() {
    std::vector<Candidate> c;
    const auto add = [&](const std::string& name, double zoom, int zoom_side, bool full, int tile,
                         bool mirror) {
        qlcore::ViewOptions o;
        o.zoom = zoom;
        o.zoom_side = zoom_side;
        o.full = full;
        o.tile_side = tile;
        o.mirror = mirror;
        c.push_back({name, o});
    };
    add("usual", 1, 0, false, 0, false);
    add("usual + mirror", 1, 0, false, 0, true);
    add("usual + 1.5x", 1.5, 0, false, 0, false);
    add("usual + 2x", 2, 0, false, 0, false);
    add("usual + 2x (long side <= 2880)", 2, 2880, false, 0, false);
    add("usual + 1.5x + mirror", 1.5, 0, false, 0, true);
    add("usual + 2x + mirror", 2, 0, false, 0, true);
    add("usual + 2x (<= 2880) + mirror", 2, 2880, false, 0, true);
    add("usual + full", 1, 0, true, 0, false);
    add("usual + full tiles 1280", 1, 0, true, 1280, false);
    add("usual + full + mirror", 1, 0, true, 0, true);
    add("usual + 2x (<= 2880) + full", 2, 2880, true, 0, false);
    add("usual + 2x (<= 2880) + full + mirror", 2, 2880, true, 0, true);
    add("usual + 2x (<= 2880) + full tiles 1280 + mirror", 2, 2880, true, 1280, true);
    return c;
}

// The enlarged view capped by its pixels against the usual view's, at every
// size (the full-resolution view scaled down to the cap above 1920).
std::vector<Candidate> capped() {
    std::vector<Candidate> c = {candidates().front(), candidates()[11]};
    for (double px : {1.5, 2.0, 2.25, 2.5}) {
        qlcore::ViewOptions o;
        o.zoom = 2;
        o.full = true;
        o.max_pixels = px;
        char name[96];
        std::snprintf(name, sizeof name, "usual + 2x / full (<= %.2f x the usual pixels)", px);
        c.push_back({name, o});
    }
    return c;
}

struct Found {
    cv::Mat rows;  // frame pixels, score >= WEAK_SCORE
    double seconds = 0.0;
};

std::string key(const qlcore::View& v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%dx%d@%d,%d,%dx%d%s", v.size.width, v.size.height, v.tile.x,
                  v.tile.y, v.tile.width, v.tile.height, v.mirror ? "m" : "");
    return buf;
}

struct Tally {
    int faces = 0, found = 0, weak_only = 0, false_dets = 0, on_lures = 0;
    int weak = 0, weak_true = 0;
    double seconds = 0.0;
    void add(const Tally& t) {
        faces += t.faces, found += t.found, weak_only += t.weak_only;
        false_dets += t.false_dets, on_lures += t.on_lures, weak += t.weak;
        weak_true += t.weak_true, seconds += t.seconds;
    }
};

cv::Mat split(const cv::Mat& rows, bool strong) {
    cv::Mat out(0, 15, CV_32F);
    for (int i = 0; i < rows.rows; ++i)
        if ((rows.at<float>(i, 14) >= DET_SCORE) == strong) out.push_back(rows.row(i));
    return out;
}

Tally score_frame(const std::vector<Truth>& truth, const cv::Mat& strong, const cv::Mat& weak) {
    Tally t;
    const auto box = [](const cv::Mat& m, int i) {
        return cv::Rect2d(m.at<float>(i, 0), m.at<float>(i, 1), m.at<float>(i, 2),
                          m.at<float>(i, 3));
    };
    const auto on_face = [&](const cv::Rect2d& d) {
        for (const Truth& g : truth)
            if (!g.lure && face_at(d, g.box)) return true;
        return false;
    };
    const auto on_lure = [&](const cv::Rect2d& d) {
        const cv::Point2d c(d.x + d.width / 2, d.y + d.height / 2);
        for (const Truth& g : truth)
            if (g.lure && g.box.contains(c)) return true;
        return false;
    };
    for (const Truth& g : truth) {
        if (g.lure || g.visible < SCORED) continue;
        ++t.faces;
        bool hit = false, weak_hit = false;
        for (int i = 0; i < strong.rows; ++i)
            hit = hit || face_at(box(strong, i), g.box);
        for (int i = 0; i < weak.rows; ++i)
            weak_hit = weak_hit || face_at(box(weak, i), g.box);
        t.found += hit;
        t.weak_only += !hit && weak_hit;
    }
    for (int i = 0; i < strong.rows; ++i)
        if (!on_face(box(strong, i))) {
            ++t.false_dets;
            t.on_lures += on_lure(box(strong, i));
        }
    for (int i = 0; i < weak.rows; ++i) {
        ++t.weak;
        t.weak_true += on_face(box(weak, i));
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    int per_scene = 12;
    std::vector<double> ious = {qlcore::VIEW_MERGE_IOU, 0.45};
    std::string only;
    bool usual_only = false;
    bool capped_only = false;
    float weak_score = WEAK_SCORE;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc)
            per_scene = std::stoi(argv[++i]);
        else if (a == "--iou" && i + 1 < argc)
            ious = {std::stod(argv[++i])};
        else if (a == "--scenes" && i + 1 < argc)
            only = "," + std::string(argv[++i]) + ",";
        else if (a == "--weak" && i + 1 < argc)
            weak_score = std::stof(argv[++i]);
        else if (a == "--usual")
            usual_only = true;
        else if (a == "--capped")
            capped_only = true;
        else {
            std::fprintf(stderr,
                         "usage: qlviews [--frames N] [--iou X] [--scenes a,b] [--weak S] "
                         "[--usual] [--capped]\n");
            return 2;
        }
    }
    const std::vector<Sprite> sprites = load_sprites(PHOTOS, qltest::test_detector_model());
    qlcore::YuNetDetector det(qltest::test_detector_model().string(), "", {320, 320}, weak_score,
                              0.3f, 5000);
    std::vector<Scene> scenes = hard_scenes();
    scenes.push_back(mixed_fhd());
    if (!only.empty())
        std::erase_if(scenes, [&](const Scene& s) {
            return only.find("," + s.name + ",") == std::string::npos;
        });
    std::vector<Candidate> sets = capped_only ? capped() : candidates();
    if (usual_only) sets.resize(1);

    // tallies[iou][set][scene]
    std::map<double, std::vector<std::map<std::string, Tally>>> tallies;
    for (double iou : ious)
        tallies[iou].resize(sets.size());
    for (const Scene& s : scenes) {
        const Canvas canvas = make_canvas(s);
        const int n =
            std::min(s.frames, s.w > DET_MAX_SIDE ? std::max(1, per_scene / 2) : per_scene);
        std::fprintf(stderr, "%s: %d frames\n", s.name.c_str(), n);
        for (int k = 0; k < n; ++k) {
            const int f = n == 1 ? 0 : k * (s.frames - 1) / (n - 1);
            std::vector<Truth> truth;
            const cv::Mat frame = compose(s, sprites, canvas, f, truth);
            std::map<std::string, Found> cache;
            for (size_t c = 0; c < sets.size(); ++c) {
                const std::vector<qlcore::View> views =
                    qlcore::search_views(frame.size(), DET_MAX_SIDE, sets[c].o);
                std::vector<cv::Mat> strong, weak;
                double seconds = 0.0;
                for (const qlcore::View& v : views) {
                    auto it = cache.find(key(v));
                    if (it == cache.end()) {
                        const double t0 = now();
                        const cv::Mat pic = qlcore::view_picture(frame, v);
                        det.set_input_size(pic.size());
                        cv::Mat rows;
                        det.detect(pic, rows);
                        Found fo;
                        fo.rows = qlcore::rows_to_frame(rows, v);
                        fo.seconds = now() - t0;
                        it = cache.emplace(key(v), fo).first;
                    }
                    strong.push_back(split(it->second.rows, true));
                    weak.push_back(split(it->second.rows, false));
                    seconds += it->second.seconds;
                }
                for (double iou : ious) {
                    Tally t = score_frame(truth, qlcore::merge_rows(strong, iou),
                                          qlcore::merge_rows(weak, iou));
                    t.seconds = seconds;
                    tallies[iou][c][s.name].add(t);
                }
            }
        }
    }

    // Totals over every scene, with the time on the 1080p and the 4K clip.
    const auto ratio = [&](double iou, size_t c, const std::string& scene) {
        const double u = tallies[iou][0][scene].seconds;
        return u > 0 ? tallies[iou][c][scene].seconds / u : 0.0;
    };
    for (double iou : ious) {
        std::printf("\n### All scenes, merge IoU %.2f\n\n", iou);
        std::printf(
            "| view set | faces found / scored | found only by weak | false detections | "
            "weak candidates (true) | time vs usual, 1080p | time vs usual, 4K |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (size_t c = 0; c < sets.size(); ++c) {
            Tally all;
            for (const Scene& s : scenes)
                all.add(tallies[iou][c][s.name]);
            std::printf("| %s | %d / %d | %d | %d | %d (%d) | %.2f | %.2f |\n",
                        sets[c].name.c_str(), all.found, all.faces, all.weak_only, all.false_dets,
                        all.weak, all.weak_true, ratio(iou, c, "mixed_fhd"),
                        ratio(iou, c, "tiny_uhd"));
        }
    }
    for (double iou : ious) {
        std::printf("\n### Merge IoU %.2f\n\n", iou);
        std::printf(
            "| view set | scene | faces found / scored | found only by weak (0.25-0.42) | "
            "false detections (on hands) | weak candidates (true) | time vs usual |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (size_t c = 0; c < sets.size(); ++c) {
            Tally all;
            for (const Scene& s : scenes) {
                const Tally& t = tallies[iou][c][s.name];
                const Tally& u = tallies[iou][0][s.name];
                all.add(t);
                std::printf("| %s | %s | %d / %d | %d | %d (%d) | %d (%d) | %.2f |\n",
                            sets[c].name.c_str(), s.name.c_str(), t.found, t.faces, t.weak_only,
                            t.false_dets, t.on_lures, t.weak, t.weak_true,
                            u.seconds > 0 ? t.seconds / u.seconds : 0.0);
            }
            std::printf("| **%s** | all | **%d / %d** | %d | %d (%d) | %d (%d) | — |\n",
                        sets[c].name.c_str(), all.found, all.faces, all.weak_only, all.false_dets,
                        all.on_lures, all.weak, all.weak_true);
        }
    }
    return 0;
}
