#include "speed.h"

#include "media/rates.h"

#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>

#include "analysis/analyse.h"
#include "encode/encoders.h"
#include "encode/render.h"
#include "faces/models.h"
#include "media/frame_readers.h"
#include "media/probe.h"
#include "media/tools.h"
#include "platform/numbers.h"
#include "platform/subprocess.h"
#include "tracking/box_path.h"
#include "tracking/verdicts.h"

namespace bench {

using qlcore::json;

namespace {

constexpr const char* CODEC = "prores";  // the program's default

double _r(double v, int places = 2) {
    return qlcore::round_places(v, places);
}

bool log_has(const fs::path& log, const std::string& text) {
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (line.find(text) != std::string::npos) return true;
    return false;
}

json _pair(double frames, double seconds, double limit_seconds) {
    json j = json::object();
    j["fps"] = _r(frames / seconds);
    j["limit_fps"] = _r(frames / limit_seconds);
    j["ratio"] = _r(limit_seconds / seconds, 3);  // share of the limit's speed reached
    j["seconds"] = _r(seconds, 3);
    j["limit_seconds"] = _r(limit_seconds, 3);
    return j;
}

}  // namespace

json measure_speed(const fs::path& clip, const fs::path& dir, qlcore::Models& models,
                   const Measured& end_to_end, const std::vector<std::string>& rerun,
                   const std::vector<std::string>& env, const fs::path& output) {
    const std::string path = clip.string();
    const qlcore::ClipInfo info = qlcore::probe(path);
    const qlcore::FrameSize size = qlcore::frame_size(path);
    const qlcore::Tuning tuning;
    const qlcore::SearchGeometry g = qlcore::search_geometry(size, tuning.det_max_side);

    // Search pass, nobody to keep (as in the end-to-end run).
    double t = now();
    const qlcore::SearchResult found =
        qlcore::analyse(path, info, size, models, cv::Mat(0, 128, CV_32F), {}, tuning);
    const double search_s = now() - t;
    const double n = static_cast<double>(found.n_frames);

    t = now();
    {
        qlcore::FFReader reader(path, {g.dw, g.dh}, 1, size);
        cv::Mat frame;
        while (reader.read(frame))
            models.detect(frame, 1000000);
    }
    const double detect_s = now() - t;

    // Render pass with the plan the program would make: every live track.
    qlcore::MosaicPlan plan;
    const double long_side = std::max(size.w, size.h);
    for (const qlcore::Track& tr : found.tracks) {
        if (qlcore::ignored(tr, long_side)) continue;
        for (const auto& [f, box] : qlcore::track_boxes(tr, found.n_frames).entries)
            plan[f].push_back(box);
    }
    const qlcore::Args enc = qlcore::encoder_candidates(CODEC, info, size).front();
    t = now();
    const std::string pass_out = (dir / "render-pass.mov").string();
    const int64_t written =
        qlcore::encode_pass({path, pass_out, plan, found.n_frames, -1, size, info}, pass_out, enc);
    const double render_s = now() - t;

    json reruns = measure_reruns(clip, dir, rerun, env, output);
    const double transcode_s = reruns["transcode_seconds"].get<double>();

    json j = json::object();
    j["size"] = std::to_string(size.w) + "x" + std::to_string(size.h);
    j["bits"] = info.bits;
    j["frames"] = found.n_frames;
    j["search_size"] = std::to_string(g.dw) + "x" + std::to_string(g.dh);
    j["encoder"] = enc.at(1);
    j["search"] = _pair(n, search_s, detect_s);
    j["render"] = _pair(static_cast<double>(written), render_s, transcode_s);
    const double minutes = n / qlcore::rate_value(info.rate) / 60.0;
    j["end_to_end_seconds"] = _r(end_to_end.seconds, 3);
    j["seconds_per_minute"] = _r(end_to_end.seconds / minutes, 1);
    j["peak_kib_program"] = end_to_end.self_kib;
    j["peak_kib_largest_process"] = end_to_end.child_kib;
    j["peak_kib_own"] = end_to_end.own_kib;
    j.update(reruns);
    j["rerun_seconds_per_minute"] = _r(reruns["rerun_seconds"].get<double>() / minutes, 1);
    // End to end against what it cannot avoid: the bare search and a
    // transcode (one cold run, so a single sample).
    j["end_to_end_vs_limit"] = _r(end_to_end.seconds / (detect_s + transcode_s), 3);
    json cold = json::object();
    for (const auto& [step, sec] : end_to_end.steps)
        cold[step] = _r(sec, 3);
    j["steps_cold"] = cold;
    return j;
}

json measure_reruns(const fs::path& clip, const fs::path& dir,
                    const std::vector<std::string>& rerun, const std::vector<std::string>& env,
                    const fs::path& output, int pairs) {
    const std::string path = clip.string();
    const qlcore::ClipInfo info = qlcore::probe(path);
    const qlcore::FrameSize size = qlcore::frame_size(path);
    const qlcore::Args enc = qlcore::encoder_candidates(CODEC, info, size).front();
    qlcore::Args cmd = {qlcore::ffmpeg_bin(),     "-hide_banner", "-loglevel", "error", "-y", "-i",
                        qlcore::media_path(path), "-map",         "0:v:0"};
    cmd.insert(cmd.end(), enc.begin(), enc.end());
    const qlcore::Args colour = qlcore::color_args(info);
    cmd.insert(cmd.end(), colour.begin(), colour.end());
    cmd.insert(cmd.end(), {"-an", (dir / "transcode.mov").string()});
    const auto transcode = [&] {
        const double t1 = now();
        if (qlcore::run_capture(cmd).status != 0)
            throw std::runtime_error("transcode failed: " + path);
        return now() - t1;
    };

    // Reruns with changed overrides: the search comes from the cache. A mark
    // at a frame past the end changes nothing but the overrides themselves,
    // and a new one each time makes each rerun redo the clip. Each rerun is
    // paired with a transcode, the two in alternating order, so the load of
    // the shared machine falls on both alike.
    const fs::path overrides = fs::path(output).replace_extension(".overrides.json");
    std::vector<double> rerun_s, trans_s, ratios;
    std::map<std::string, std::vector<double>> cached_steps;
    bool reused = true;
    for (int i = 0; i < pairs; ++i) {
        std::ofstream(overrides) << "{\"keep\": [" << 99999999 - i << "]}\n";
        const fs::path log = dir / ("rerun-" + std::to_string(i) + ".log");
        double tr = 0.0;
        if (i % 2) tr = transcode();
        const Measured again = run_measured(rerun, env, log);
        if (i % 2 == 0) tr = transcode();
        if (again.status != 0) throw std::runtime_error("the rerun failed: see " + log.string());
        reused = reused && log_has(log, "reusing earlier face search");
        rerun_s.push_back(again.seconds);
        trans_s.push_back(tr);
        ratios.push_back(again.seconds / tr);
        for (const auto& [step, sec] : again.steps)
            cached_steps[step].push_back(sec);
    }
    json j = json::object();
    j["rerun_pairs"] = pairs;
    j["rerun_seconds"] = _r(median(rerun_s), 3);
    j["transcode_seconds"] = _r(median(trans_s), 3);
    j["rerun_reused_search"] = reused;
    // The median of the pairs' ratios: each pair ran under the same load.
    j["rerun_vs_transcode"] = _r(median(ratios), 3);
    j["rerun_vs_transcode_pairs"] = json::array();
    for (double r : ratios)
        j["rerun_vs_transcode_pairs"].push_back(_r(r, 3));
    json cached = json::object();
    for (const auto& [step, secs] : cached_steps)
        cached[step] = _r(median(secs), 3);
    j["steps_cached"] = cached;
    return j;
}

}  // namespace bench
