#include "clip/clip_processor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "analysis/analyse.h"
#include "clip/analysis_cache.h"
#include "clip/earlier_report.h"
#include "clip/output_paths.h"
#include "clip/overrides.h"
#include "clip/report.h"
#include "clip/review_cards.h"
#include "clip/weak_candidates.h"
#include "encode/render.h"
#include "media/console.h"
#include "media/probe.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/step_timer.h"
#include "tracking/box_path.h"
#include "tracking/verdicts.h"

namespace qlcore {
namespace {

// Sources that no tool could read, said plainly before anything is made
// for them (ffmpeg would only fail to decode a first frame).
void _check_source(const std::string& src) {
    std::error_code ec;
    if (fs::is_directory(u8path(src), ec))
        throw MediaError("cannot read " + src + ": it is a folder");
    std::ifstream in(u8path(src), std::ios::binary);
    if (!in) throw MediaError("cannot read " + src + ": " + std::strerror(errno));
    if (in.peek() == std::ifstream::traits_type::eof())
        throw MediaError("cannot read " + src + ": the file is empty");
}

// The cached search when it still holds, else a fresh one (then cached).
SearchResult _search(const std::string& src, const fs::path& done, const ClipInfo& info,
                     FrameSize size, Models& models, const Gallery& gallery, const Tuning& tuning) {
    fs::path cache = analysis_path(done);
    json key = analysis_key(u8path(src), gallery.names, gallery.gallery, tuning);
    if (auto cached = timed("cache read", [&] { return load_analysis(cache, key); })) {
        log("  reusing earlier face search (" + std::to_string(cached->tracks.size()) + " tracks)");
        return std::move(*cached);
    }
    SearchResult found = timed("search", [&] {
        return analyse(src, info, size, models, gallery.gallery, gallery.owners, tuning);
    });
    timed("cache write", [&] { save_analysis(cache, key, found); });
    return found;
}

IgnoredTrack _ignored_track(const Track& t, IgnoreReason reason, int64_t n_frames) {
    IgnoredTrack g;
    g.id = t.id;
    g.path = track_boxes(t, n_frames);
    g.reason = reason;
    g.n_detections = static_cast<int64_t>(t.frames.size());
    g.n_samples = static_cast<int64_t>(t.samples.size());
    // Scores as the cache stores them, so a rerun from it says the same.
    for (size_t i = 0; i < t.scores.size() && i < t.frames.size(); ++i)
        if (const double s = round_places(t.scores[i], 3); i == 0 || s > g.best_score) {
            g.best_score = s;
            g.best_frame = t.frames[i];
        }
    return g;
}

}  // namespace

json process_clip(const std::string& src, Models& models, const Gallery& gallery,
                  const std::optional<fs::path>& out_dir, const std::string& codec,
                  const Tuning& tuning, const fs::path& home_dir, HideStyle style,
                  bool review_page) {
    log("\n▶ " + u8string(u8path(src).filename()));
    _check_source(src);
    fs::path done = output_path(u8path(src), out_dir, home_dir);
    json overrides = load_overrides(done);
    if (auto earlier =
            earlier_report(u8path(src), done, gallery.names, overrides, style, tuning.thorough)) {
        log("  already done earlier — skipping (delete its _mosaic file to redo it)");
        return std::move(*earlier);
    }

    const auto [info, size] = probe_with_size(src);
    SearchResult search = _search(src, done, info, size, models, gallery, tuning);
    // A search that read nothing is cached too, so a rerun fails the same way.
    if (search.n_frames == 0) throw MediaError("no frames could be read");

    std::optional<StepTimer> verdicts_timer(std::in_place, "verdicts");
    double long_side = static_cast<double>(std::max(size.w, size.h));
    std::vector<JudgedTrack> live;
    std::vector<IgnoredTrack> let_go;
    for (const Track& t : search.tracks) {
        if (auto reason = ignored(t, long_side, tuning.thorough)) {
            let_go.push_back(_ignored_track(t, *reason, search.n_frames));
            continue;
        }
        live.push_back({t.id, track_boxes(t, search.n_frames),
                        decide(t, gallery.names, tuning.keep_threshold)});
    }

    // Only the thorough search has candidates.
    std::vector<JudgedTrack> weak = weak_tracks(search.candidates, live, search.n_frames);
    std::move(weak.begin(), weak.end(), std::back_inserter(live));
    apply_marks(live, overrides);
    std::vector<JudgedTrack> hidden = apply_hides(let_go, overrides);
    int64_t n_flash = 0;
    for (const auto& t : let_go)
        n_flash += t.reason == IgnoreReason::Flash;
    const int64_t n_look = static_cast<int64_t>(let_go.size()) - n_flash;
    std::optional<ReviewPlan> review;
    if (review_page)
        review = plan_review(search.tracks, live, hidden, let_go, size, info, search.candidates);
    Assembly assembly = assemble(std::move(live), std::move(hidden), let_go);
    log(summary_line(assembly.kept, assembly.mosaicked, n_flash, n_look));

    verdicts_timer.reset();

    fs::path out = output_path(u8path(src), out_dir, home_dir);
    render(src, u8string(out), assembly.plan, search.n_frames, size, info, codec, search.n_read,
           style, review ? &review->thumbs.shots : nullptr);
    // Only after the video is in place, so a report never vouches for a
    // video that is not there.
    std::optional<StepTimer> report_timer(std::in_place, "report");
    json report = build_report(src, u8string(out), search.n_frames, gallery.names, overrides,
                               assembly, style, tuning.thorough);
    try {
        write_text_file_atomic(report_path(out), report_text(report));
    } catch (...) {
        // A video without its report is redone by the next run anyway; gone,
        // it cannot pass for a finished one in the meantime.
        std::error_code ec;
        fs::remove(out, ec);
        remove_review_page(out);
        throw;
    }
    report_timer.reset();
    timed("review page", [&] {
        save_review_page(
            out, review ? &*review : nullptr,
            {src, u8string(out), local_time_text(), gallery.names, mode_name(tuning),
             hide_style_name(style), assembly.kept, assembly.mosaicked, n_flash, n_look});
    });
    log("  ✓ saved " + u8string(out));
    if (!assembly.markers.empty())
        log("  " + std::to_string(assembly.markers.size()) +
            " spot(s) flagged for a quick look (they become markers in Resolve)");
    return report;
}

}  // namespace qlcore
