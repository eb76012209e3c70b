#include "measure.h"

#include <algorithm>
#include <map>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <stdexcept>

#include "analysis/analyse.h"
#include "faces/models.h"
#include "media/frame_readers.h"
#include "media/probe.h"
#include "media/tools.h"
#include "mosaic/mosaic.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "tracking/box_path.h"
#include "tracking/face_evidence.h"
#include "tracking/verdicts.h"

namespace bench {

using qlcore::json;

namespace {

// A pixel counts as pixelated when the output differs from the source by at
// least this much on average over 5 x 5 pixels. The grain (sigma 4) gives
// about 3 inside a mosaic cell; the encoder alone stays near 1.
constexpr double PIXELATED_DIFF = 1.6;
// A face counts as covered in a frame when this share of its visible box is
// pixelated (for flicker).
constexpr double COVERED = 0.5;
// A face is on screen when this share of its box is in the frame and seen.
constexpr double ON_SCREEN = 0.5;
// A face-frame is exposed when less than this share of the face's visible box
// is pixelated; faces with less than SCORED of their box in view are left
// out (a sliver at the edge is no face to recognise).
constexpr double EXPOSED = 0.9;
constexpr double SCORED = 0.25;
// A lure counts as mosaicked in a frame when this share of it is pixelated.
constexpr double LURE_HIT = 0.25;

// Frames as 8-bit grey pictures, every decoded frame once.
class GrayReader : public qlcore::Pipe {
  public:
    GrayReader(const fs::path& path, int w, int h)
        : Pipe({qlcore::ffmpeg_bin(), "-hide_banner", "-loglevel", "error", "-i",
                qlcore::media_path(path.string()), "-map", "0:v:0", "-fps_mode", "passthrough",
                "-f", "rawvideo", "-pix_fmt", "gray", "-"},
               static_cast<size_t>(w) * h),
          w_(w),
          h_(h) {}
    bool read(cv::Mat& out) {
        out.create(h_, w_, CV_8U);
        return _read(out.data);
    }

  private:
    int w_, h_;
};

struct ProgramTrack {
    qlcore::Track track;
    std::string state;           // "mosaic", "keep" or the reason it was ignored
    bool failed_checks = false;  // mosaicked though every re-check failed
    bool candidate = false;      // a weak candidate of the thorough search
    std::optional<qlcore::FaceEvidence> evidence;
};

struct Detection {
    cv::Rect2d box;
    double score;
    int track = -1;
};

const Detection* _find(const std::vector<Detection>& list, const cv::Rect2d& truth) {
    const Detection* best = nullptr;
    for (const Detection& d : list)
        if (face_at(d.box, truth) && (!best || d.score > best->score)) best = &d;
    return best;
}

qlcore::Track _cached_track(const json& j) {
    qlcore::Track t;
    t.id = j.at("id").get<int>();
    const json& b = j.at("b");
    const json& s = j.at("s");
    for (size_t i = 0; i < j.at("f").size(); ++i)
        t.add(j.at("f")[i].get<int64_t>(),
              {b[i][0].get<double>(), b[i][1].get<double>(), b[i][2].get<double>(),
               b[i][3].get<double>()},
              s[i].get<double>());
    for (const json& c : j.at("c"))
        t.checks.push_back(c.get<double>());
    for (const json& r : j.at("r"))
        t.samples.push_back({r[0].get<int64_t>(), r[1].get<double>(), r[2].get<int>()});
    return t;
}

std::vector<ProgramTrack> _program_tracks(const Outputs& o, double long_side) {
    const json cache = qlcore::parse_json(qlcore::read_file(o.analysis));
    const json report = qlcore::parse_json(qlcore::read_file(o.report));
    std::map<int, bool> kept, flagged;
    for (const json& t : report.at("tracks")) {
        kept[t.at("track").get<int>()] = t.at("keep").get<bool>();
        flagged[t.at("track").get<int>()] = t.value("review", json()) == "failed-checks";
    }
    std::vector<ProgramTrack> out;
    for (const char* list : {"tracks", "candidates"}) {
        if (!cache.contains(list)) continue;
        const bool candidates = std::string(list) == "candidates";
        const char* ev_list = candidates ? "candidate_evidence" : "evidence";
        for (size_t i = 0; i < cache.at(list).size(); ++i) {
            ProgramTrack p;
            p.track = _cached_track(cache.at(list)[i]);
            p.candidate = candidates;
            if (cache.contains(ev_list)) {
                const json& e = cache.at(ev_list).at(i);
                // Builds before the lifted re-checks kept the drift alone.
                p.evidence = e.is_array()
                                 ? qlcore::FaceEvidence{e.get<std::vector<double>>(), {}, {}}
                                 : qlcore::FaceEvidence{e.at("drift").get<std::vector<double>>(),
                                                        e.at("lifted").get<std::vector<double>>(),
                                                        e.at("inside").get<std::vector<double>>()};
            }
            // The report lists the tracks the program showed or hid, whatever
            // mode judged them; the rest were ignored (or, for candidates,
            // dropped).
            if (kept.count(p.track.id)) {
                p.state = kept[p.track.id] ? "keep" : "mosaic";
                p.failed_checks = flagged[p.track.id];
            } else if (candidates)
                p.state = "dropped";
            else if (auto why = qlcore::ignored(p.track, long_side))
                p.state =
                    *why == qlcore::IgnoreReason::Flash ? "ignored (flash)" : "ignored (lookalike)";
            else
                p.state = "ignored";
            out.push_back(std::move(p));
        }
    }
    return out;
}

double _median_drift(const qlcore::FaceEvidence& e) {
    std::vector<double> d;
    for (double v : e.drift)
        if (v >= 0.0) d.push_back(v);
    if (d.empty()) return -1.0;
    std::nth_element(d.begin(), d.begin() + d.size() / 2, d.end());
    return d[d.size() / 2];
}

// One row per track for choosing the evidence thresholds: id, candidate,
// state, failed checks, detections on a face, detections, best score, median
// landmark drift (-1: none), best re-check (-1: none), re-checks, best
// lifted re-check at the centre and inside (-1: none).
json _evidence_rows(const std::vector<ProgramTrack>& tracks,
                    const std::map<int, std::pair<int, int>>* on_face) {
    json rows = json::array();
    for (const ProgramTrack& p : tracks) {
        if (!p.evidence) continue;
        double best = 0.0;
        for (double v : p.track.scores)
            best = std::max(best, v);
        json hits = nullptr;
        if (on_face) {
            const auto it = on_face->find(p.track.id);
            hits = it == on_face->end() ? 0 : it->second.first;
        }
        const auto& c = p.track.checks;
        const auto& l = p.evidence->lifted;
        const auto& in = p.evidence->inside;
        rows.push_back(json::array(
            {p.track.id, p.candidate, p.state, p.failed_checks, hits, p.track.frames.size(),
             qlcore::round_places(best, 3), qlcore::round_places(_median_drift(*p.evidence), 3),
             c.empty() ? -1.0 : *std::max_element(c.begin(), c.end()), c.size(),
             l.empty() ? -1.0 : *std::max_element(l.begin(), l.end()),
             in.empty() ? -1.0 : *std::max_element(in.begin(), in.end())}));
    }
    return rows;
}

double _mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v)
        s += x;
    return v.empty() ? 0.0 : s / v.size();
}

double _round(double v, int places) {
    return qlcore::round_places(v, places);
}

// Frames of a face that is on screen but uncovered between two covered
// frames of the same stretch on screen.
int _flicker(const std::vector<std::pair<int, bool>>& seen) {
    int count = 0;
    size_t i = 0;
    while (i < seen.size()) {
        size_t j = i;
        while (j + 1 < seen.size() && seen[j + 1].first == seen[j].first + 1)
            ++j;
        // Stretch [i, j]: uncovered frames strictly between covered ones.
        std::optional<size_t> first, last;
        for (size_t k = i; k <= j; ++k)
            if (seen[k].second) {
                if (!first) first = k;
                last = k;
            }
        if (first)
            for (size_t k = *first; k <= *last; ++k)
                if (!seen[k].second) ++count;
        i = j + 1;
    }
    return count;
}

}  // namespace

json measure_scene(const Scene& s, const std::vector<Sprite>& sprites, const Outputs& o,
                   qlcore::Models& models) {
    const double long_side = std::max(s.w, s.h);
    const std::vector<ProgramTrack> tracks = _program_tracks(o, long_side);
    const json cache = qlcore::parse_json(qlcore::read_file(o.analysis));
    const int64_t n_frames = cache.at("frames").get<int64_t>();

    // What the program planned, and what its own search found in the source.
    std::map<int, std::vector<cv::Rect>> plan;
    std::map<int, std::vector<Detection>> found;
    for (const ProgramTrack& p : tracks) {
        for (size_t i = 0; i < p.track.frames.size(); ++i) {
            const qlcore::Box& b = p.track.boxes[i];
            found[static_cast<int>(p.track.frames[i])].push_back(
                {cv::Rect2d(b.x, b.y, b.w, b.h), p.track.scores[i], p.track.id});
        }
        if (p.state != "mosaic") continue;
        for (const auto& [f, box] : qlcore::track_boxes(p.track, n_frames).entries) {
            const qlcore::MosaicRect r = qlcore::mosaic_rect(box, s.w, s.h);
            if (r.x1 - r.x0 >= 2 && r.y1 - r.y0 >= 2)
                plan[static_cast<int>(f)].push_back(cv::Rect(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0));
        }
    }

    const qlcore::ClipInfo info = qlcore::probe(o.video.string());
    const qlcore::SearchGeometry g =
        qlcore::search_geometry({s.w, s.h}, qlcore::DEFAULT_DET_MAX_SIDE);
    qlcore::FFReader search(o.video.string(), {g.dw, g.dh});
    GrayReader src_gray(o.source, s.w, s.h), out_gray(o.video, s.w, s.h);

    const cv::Rect whole(0, 0, s.w, s.h);
    int hidden_frames = 0, hidden_found = 0, kept_found = 0, kept_seen = 0;
    std::vector<double> coverage, planned_coverage, over, planned_over;
    std::vector<double> in_plan_diff, out_plan_diff;
    std::map<int, std::vector<std::pair<int, bool>>> seen;  // actor -> (frame, covered)
    std::map<int, std::vector<int>> detected;               // actor -> frames found in source
    json leaks = json::array();
    std::vector<int> kept_lost;  // frames where a kept face no longer shows as a face
    int scored = 0, exposed = 0, lure_frames = 0, lure_hit = 0;
    std::map<std::string, int> exposed_by_face;
    std::map<int, std::pair<int, int>> on_face;  // program track -> (detections on a face, all)
    std::map<int, int> under_face;               // program track -> detections over a face
    cv::Mat frame, a, b, diff, mask, owner;
    std::vector<Truth> truth;
    int f = 0;
    for (; f < s.frames; ++f) {
        if (!search.read(frame) || !src_gray.read(a) || !out_gray.read(b)) break;
        ground_truth(s, sprites, f, truth, owner);

        std::vector<Detection> now;
        const cv::Mat rows = models.detect(frame, 1000000);
        for (int i = 0; i < rows.rows; ++i) {
            const float* r = rows.ptr<float>(i);
            now.push_back({cv::Rect2d(r[0] * g.up, r[1] * g.up, r[2] * g.up, r[3] * g.up), r[14]});
        }

        cv::absdiff(a, b, diff);
        cv::Mat avg;
        cv::boxFilter(diff, avg, CV_32F, {5, 5});
        // The 5 x 5 average reaches one pixel past a mosaic's edge; an erosion
        // takes that ring back off.
        cv::erode(avg >= PIXELATED_DIFF, mask, cv::Mat());
        cv::Mat planned = cv::Mat::zeros(s.h, s.w, CV_8U);
        for (const cv::Rect& r : plan[f])
            planned(r & whole).setTo(255);
        if (!plan[f].empty()) {
            in_plan_diff.push_back(cv::mean(avg, planned)[0]);
            out_plan_diff.push_back(cv::mean(avg, ~planned)[0]);
        }

        for (const Detection& d : found[f]) {
            bool hit = false, under = false;
            for (const Truth& t : truth) {
                hit = hit || (!t.lure && face_at(d.box, t.box));
                under = under || (!t.lure && face_under(d.box, t.box));
            }
            on_face[d.track].first += hit;
            ++on_face[d.track].second;
            under_face[d.track] += under;
        }

        cv::Mat faces = cv::Mat::zeros(s.h, s.w, CV_8U);
        for (const Truth& t : truth) {
            const cv::Rect r = cv::Rect(t.box) & whole;
            if (r.empty()) continue;
            if (t.lure) {
                const cv::Mat vis = owner(r) == t.actor;
                const int n_vis = cv::countNonZero(vis);
                if (n_vis == 0) continue;
                ++lure_frames;
                if (cv::countNonZero(mask(r) & vis) >= LURE_HIT * n_vis) ++lure_hit;
                continue;
            }
            faces(r).setTo(255);
            const Detection* src = _find(found[f], t.box);
            const Detection* out = _find(now, t.box);
            if (src) detected[t.actor].push_back(f);
            if (t.kept) {
                if (src) {
                    ++kept_seen;
                    if (out)
                        ++kept_found;
                    else
                        kept_lost.push_back(f);
                }
                continue;
            }
            if (t.visible <= 0.0) continue;
            ++hidden_frames;
            if (src) ++hidden_found;
            const cv::Mat vis = owner(r) == t.actor;
            const int n_vis = cv::countNonZero(vis);
            double cov = 0.0, pcov = 0.0;
            if (n_vis > 0) {
                cov = cv::countNonZero(mask(r) & vis) / double(n_vis);
                pcov = cv::countNonZero(planned(r) & vis) / double(n_vis);
            }
            if (t.visible >= SCORED && n_vis > 0) {
                ++scored;
                if (cov < EXPOSED) {
                    ++exposed;
                    ++exposed_by_face[sprites.at(s.actors[t.actor].sprite).photo];
                }
            }
            if (t.visible >= ON_SCREEN) {
                coverage.push_back(cov);
                planned_coverage.push_back(pcov);
                seen[t.actor].push_back({f, cov >= COVERED});
            }
            if (out) {
                json leak = json::object();
                leak["frame"] = f;
                leak["face"] = sprites.at(s.actors[t.actor].sprite).photo;
                leak["score"] = _round(out->score, 3);
                leak["box"] = json::array({_round(t.box.x, 1), _round(t.box.y, 1),
                                           _round(t.box.width, 1), _round(t.box.height, 1)});
                leak["visible"] = _round(t.visible, 2);
                leak["coverage"] = _round(cov, 3);
                leak["planned_coverage"] = _round(pcov, 3);
                if (src) {
                    leak["program_track"] = src->track;
                    leak["program_verdict"] = tracks.at(src->track).state;
                } else {
                    leak["program_track"] = nullptr;
                    leak["program_verdict"] = "not found by the search";
                }
                leaks.push_back(std::move(leak));
            }
        }
        const double area = double(s.w) * s.h;
        over.push_back(cv::countNonZero(mask & ~faces) / area);
        planned_over.push_back(cv::countNonZero(planned & ~faces) / area);
    }

    int flicker = 0;
    for (const auto& [actor, list] : seen)
        flicker += _flicker(list);
    int longest_gap = 0;
    for (const auto& [actor, list] : detected)
        for (size_t i = 1; i < list.size(); ++i)
            longest_gap = std::max(longest_gap, list[i] - list[i - 1] - 1);
    int n_mosaic = 0, n_kept = 0, n_ignored = 0, n_false = 0, n_flagged = 0, n_flagged_face = 0;
    int n_nothing_under = 0;
    for (const ProgramTrack& p : tracks) {
        if (p.state == "mosaic") {
            ++n_mosaic;
            // Mostly off every face: a mosaic on something else.
            const auto [hits, all] = on_face[p.track.id];
            if (2 * hits < all) ++n_false;
            if (2 * under_face[p.track.id] < all) ++n_nothing_under;
            n_flagged += p.failed_checks;
            n_flagged_face += p.failed_checks && 2 * hits >= all;
        } else if (p.state == "keep")
            ++n_kept;
        else
            ++n_ignored;
    }

    json r = json::object();
    r["frames_measured"] = f;
    r["hidden_face_frames"] = hidden_frames;
    r["hidden_found_by_search"] = hidden_found;
    r["leaked_face_frames"] = leaks.size();
    r["coverage_mean"] = _round(_mean(coverage), 4);
    r["coverage_min"] =
        coverage.empty() ? 0.0 : _round(*std::min_element(coverage.begin(), coverage.end()), 4);
    r["coverage_full_share"] = _round(
        coverage.empty()
            ? 0.0
            : std::count_if(coverage.begin(), coverage.end(), [](double c) { return c >= 0.99; }) /
                  double(coverage.size()),
        4);
    r["planned_coverage_mean"] = _round(_mean(planned_coverage), 4);
    r["flicker_frames"] = flicker;
    r["kept_face_frames"] = kept_seen;
    r["kept_visible_share"] =
        kept_seen ? json(_round(double(kept_found) / kept_seen, 4)) : json(nullptr);
    r["kept_lost_frames"] = kept_lost;
    r["over_mosaic_mean"] = _round(_mean(over), 5);
    r["over_mosaic_max"] =
        over.empty() ? 0.0 : _round(*std::max_element(over.begin(), over.end()), 5);
    r["planned_over_mosaic_mean"] = _round(_mean(planned_over), 5);
    r["longest_detection_gap"] = longest_gap;
    r["tracks"] = json::object({{"mosaic", n_mosaic}, {"keep", n_kept}, {"ignored", n_ignored}});
    r["diff_in_plan"] = _round(_mean(in_plan_diff), 2);
    r["diff_outside_plan"] = _round(_mean(out_plan_diff), 2);
    r["scored_face_frames"] = scored;
    r["exposed_face_frames"] = exposed;
    r["exposed_by_face"] = exposed_by_face;
    r["false_mosaic_tracks"] = n_false;
    // Flagged "may not be a face", and how many of those were faces.
    r["failed_check_mosaics"] = n_flagged;
    r["failed_check_mosaics_on_faces"] = n_flagged_face;
    // The same counted by whether a face lies under the mosaic at all (a box
    // around two small faces, or far larger than its face, is over faces).
    r["mosaics_over_no_face"] = n_nothing_under;
    int n_weak = 0, n_weak_false = 0, n_weak_nothing_under = 0;
    for (const ProgramTrack& p : tracks)
        if (p.candidate && p.state == "mosaic") {
            ++n_weak;
            const auto [hits, all] = on_face[p.track.id];
            n_weak_false += 2 * hits < all;
            n_weak_nothing_under += 2 * under_face[p.track.id] < all;
        }
    r["weak_mosaics"] = n_weak;
    r["weak_mosaics_false"] = n_weak_false;
    r["weak_mosaics_over_no_face"] = n_weak_nothing_under;
    r["flagged"] = report_figures(o.report, n_frames);
    r["track_evidence"] = _evidence_rows(tracks, &on_face);
    r["lure_frames"] = lure_frames;
    r["lure_mosaic_frames"] = lure_hit;
    r["leaks"] = std::move(leaks);
    return r;
}

json report_figures(const fs::path& report_path, int64_t n_frames) {
    const json report = qlcore::parse_json(qlcore::read_file(report_path));
    std::map<std::string, int> by_colour;
    for (const json& m : report.at("markers"))
        ++by_colour[m.at("color").get<std::string>()];
    json r = json::object();
    r["markers"] = report.at("markers").size();
    r["markers_by_colour"] = by_colour;
    for (const char* review : {"weak-evidence", "failed-checks"}) {
        int64_t n = 0, spans = 0;
        std::vector<bool> touched(static_cast<size_t>(std::max<int64_t>(0, n_frames)), false);
        for (const json& t : report.at("tracks")) {
            if (t.value("review", json()) != review || t.at("keep").get<bool>()) continue;
            ++n;
            const int64_t a = t.at("start").get<int64_t>(), b = t.at("end").get<int64_t>();
            spans += b - a + 1;
            for (int64_t f = std::max<int64_t>(0, a); f <= b && f < n_frames; ++f)
                touched[static_cast<size_t>(f)] = true;
        }
        const int64_t hit = std::count(touched.begin(), touched.end(), true);
        r[review] = json::object(
            {{"mosaics", n},
             {"per_frame", n_frames ? qlcore::round_places(double(spans) / n_frames, 2) : 0.0},
             {"frames_touched", hit},
             {"share_of_frames",
              n_frames ? qlcore::round_places(double(hit) / n_frames, 3) : 0.0}});
    }
    return r;
}

json measure_footage(const Outputs& o, double long_side) {
    const std::vector<ProgramTrack> tracks = _program_tracks(o, long_side);
    const json cache = qlcore::parse_json(qlcore::read_file(o.analysis));
    json r = json::object();
    int n_mosaic = 0, n_weak = 0;
    for (const ProgramTrack& p : tracks) {
        n_mosaic += p.state == "mosaic";
        n_weak += p.candidate && p.state == "mosaic";
    }
    r["mosaic_tracks"] = n_mosaic;
    r["weak_mosaics"] = n_weak;
    r["flagged"] = report_figures(o.report, cache.at("frames").get<int64_t>());
    r["track_evidence"] = _evidence_rows(tracks, nullptr);
    return r;
}

}  // namespace bench
