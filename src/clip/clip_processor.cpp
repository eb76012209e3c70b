#include "clip/clip_processor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "analysis/analyse.h"
#include "clip/analysis_cache.h"
#include "clip/earlier_report.h"
#include "clip/judgement.h"
#include "clip/output_paths.h"
#include "clip/overrides.h"
#include "clip/report.h"
#include "clip/review_cards.h"
#include "encode/encoders.h"
#include "encode/render.h"
#include "media/console.h"
#include "media/probe.h"
#include "media/rates.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/step_timer.h"

namespace qlcore {
namespace {

// Sources that no tool could read, said plainly before anything is made
// for them (ffmpeg would only fail to decode a first frame).
void _check_source(const std::string& src, const fs::path& src_path) {
    std::error_code ec;
    if (fs::is_directory(src_path, ec)) throw MediaError("cannot read " + src + ": it is a folder");
    std::ifstream in(src_path, std::ios::binary);
    if (!in) throw MediaError("cannot read " + src + ": " + std::strerror(errno));
    if (in.peek() == std::ifstream::traits_type::eof())
        throw MediaError("cannot read " + src + ": the file is empty");
}

// The clip, the cached search when it still holds (with the clip as probed
// for it, so an unchanged clip is not probed again), else a fresh one (then
// cached with the probe).
struct ClipSearch {
    ProbedClip clip;
    SearchResult search;
};

ClipSearch _search(const std::string& src, const fs::path& src_path, const fs::path& done,
                   Models& models, const Gallery& gallery, const Tuning& tuning) {
    fs::path cache = analysis_path(done);
    json key = analysis_key(src_path, gallery.names, gallery.gallery, tuning);
    auto cached = timed("cache read", [&] { return load_analysis(cache, key); });
    ClipSearch out;
    out.clip = cached && cached->clip ? std::move(*cached->clip) : probe_with_size(src);
    if (cached) {
        log("  reusing earlier face search (" + std::to_string(cached->search.tracks.size()) +
            " tracks)");
        out.search = std::move(cached->search);
        return out;
    }
    out.search = timed("search", [&] {
        return analyse(src, out.clip.info, out.clip.size, models, gallery.gallery, gallery.owners,
                       tuning);
    });
    timed("cache write", [&] { save_analysis(cache, key, out.search, out.clip); });
    return out;
}

}  // namespace

json process_clip(const std::string& src, Models& models, const Gallery& gallery,
                  const std::optional<fs::path>& out_dir, const std::string& codec,
                  const Tuning& tuning, const fs::path& home_dir, HideStyle style,
                  bool review_page) {
    const fs::path src_path = u8path(src);
    log("\n▶ " + u8string(src_path.filename()));
    _check_source(src, src_path);
    // Made and write-tested once; the render writes here.
    const fs::path out = output_path(src_path, out_dir, home_dir);
    const Overrides marks = read_overrides(out);
    if (!marks.problem.empty()) log(overrides_warning(overrides_path(out), marks.problem));
    const json& overrides = marks.marks;
    if (auto earlier = earlier_report(src_path, out, gallery.names, overrides, style, tuning)) {
        log("  already done earlier — skipping (delete its _mosaic file to redo it)");
        return std::move(*earlier);
    }

    // An ffmpeg that cannot write the codec would fail only after the search.
    require_codec(codec);
    auto [clip, search] = _search(src, src_path, out, models, gallery, tuning);
    const auto& [info, size] = clip;
    // A search that read nothing is cached too, so a rerun fails the same way.
    if (search.n_frames == 0) throw MediaError("no frames could be read");

    std::optional<StepTimer> verdicts_timer(std::in_place, "verdicts");
    const Judgement judgement =
        judge(search, size, gallery.names, overrides, tuning, rate_value(info.rate));
    std::optional<ReviewPlan> review;
    if (review_page) review = plan_review(judgement, search.tracks, search.candidates, size, info);
    for (const std::string& w : judgement.warnings)
        log(w);
    log(summary_line(judgement));
    if (auto weak = weak_evidence_line(judgement, search.n_frames)) log(*weak);
    verdicts_timer.reset();

    render({src, u8string(out), mosaic_plan(judgement), search.n_frames, search.n_read, size, info,
            style, review ? &review->thumbs.shots : nullptr},
           codec);
    // Only after the video is in place, so a report never vouches for a
    // video that is not there.
    std::optional<StepTimer> report_timer(std::in_place, "report");
    json report = build_report(src, u8string(out), search.n_frames, gallery.names, overrides,
                               judgement, style, tuning);
    try {
        write_text_file_atomic(report_path(out), report_text(report));
    } catch (...) {
        // The video is complete and stays: without its report the next run
        // redoes it anyway. Only an earlier report that cannot be removed
        // either would vouch for it, so then the video goes.
        std::error_code ec;
        fs::remove(report_path(out), ec);
        if (ec) fs::remove(out, ec);
        remove_review_page(out);
        throw;
    }
    report_timer.reset();
    timed("review page", [&] {
        save_review_page(out, review ? &*review : nullptr,
                         {src, u8string(out), local_time_text(), gallery.names, mode_name(tuning),
                          hide_style_name(style), judgement.kept, judgement.mosaicked,
                          judgement.n_flash, judgement.n_look, dump_compact(overrides)});
    });
    log("  ✓ saved " + u8string(out));
    if (const size_t n = report["markers"].size(); n > 0)
        log("  " + std::to_string(n) +
            " spot(s) flagged for a quick look (they become markers in Resolve)");
    return report;
}

}  // namespace qlcore
