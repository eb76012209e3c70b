#include "analysis/analyse.h"

#include <algorithm>
#include <cmath>

#include "faces/models.h"
#include "media/console.h"
#include "media/frame_readers.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

// Whether the face deserves a multi-zoom re-check; the order of the tests
// matters only for cost, each is cheap.
bool _wants_check(const Track& t, double width_frame_px, double score, double verify_w) {
    if (width_frame_px < verify_w) return false;
    if (score >= VERIFY_SKIP) return false;
    if (static_cast<int>(t.checks.size()) >= VERIFY_BUDGET) return false;
    if (!(score > t.best_checked)) return false;
    if (!t.checks.empty() && *std::max_element(t.checks.begin(), t.checks.end()) >= VERIFY_PASS)
        return false;
    return true;
}

}  // namespace

SearchGeometry search_geometry(FrameSize size, int det_max_side) {
    SearchGeometry g;
    double W = size.w, H = size.h;
    g.sc = std::min(1.0, det_max_side / std::max(W, H));
    g.dw = static_cast<int>(2 * round_half_even(W * g.sc / 2));
    g.dh = static_cast<int>(2 * round_half_even(H * g.sc / 2));
    g.up = W / g.dw;
    g.verify_w = VERIFY_MIN_FRAC * std::max(W, H);
    return g;
}

SearchResult analyse(const std::string& path, const ClipInfo& info, FrameSize size, Models& models,
                     const cv::Mat& gallery, const std::vector<int32_t>& owners,
                     const Tuning& tuning) {
    const SearchGeometry g = search_geometry(size, tuning.det_max_side);
    const int every = std::max(1, tuning.det_every);
    const int64_t total = std::max<int64_t>(0, info.frames);
    const bool recognise = gallery.rows > 0;

    FFReader reader(path, {g.dw, g.dh}, info, every);
    Tracker tracker;
    int64_t k = 0, fi = 0;
    const double t0 = now_seconds();
    cv::Mat frame, sims;
    std::vector<Box> boxes;
    std::vector<double> scores;
    // The reader's destructor closes it on every way out, errors included.
    while (reader.read(frame)) {
        check_interrupted();
        fi = k * every;
        ++k;
        cv::Mat faces = models.detect(frame, 1000000);
        boxes.clear();
        scores.clear();
        for (int i = 0; i < faces.rows; ++i) {
            const float* r = faces.ptr<float>(i);
            boxes.push_back({r[0] * g.up, r[1] * g.up, r[2] * g.up, r[3] * g.up});
            scores.push_back(static_cast<double>(r[14]));
        }
        std::vector<Track*> now = tracker.update(fi, boxes, scores);

        for (int i = 0; i < faces.rows; ++i) {
            Track& t = *now[i];
            const float* r = faces.ptr<float>(i);
            double s = scores[i];
            if (_wants_check(t, r[2] * g.up, s, g.verify_w)) {
                t.checks.push_back(round_places(models.verify(frame, faces.row(i)), 3));
                t.best_checked = s;
            }
        }
        if (recognise) {
            for (int i = 0; i < faces.rows; ++i) {
                Track& t = *now[i];
                const float* r = faces.ptr<float>(i);
                if (std::min(r[2], r[3]) < MIN_REC_SIZE) continue;
                if (t.n_rec >= REC_BUDGET && fi % REC_EVERY != 0) continue;
                cv::Mat vec = models.embed(frame, faces.row(i));
                sims = gallery * vec.t();  // M x 1, single precision
                int best = 0;
                for (int m = 1; m < sims.rows; ++m)
                    if (sims.at<float>(m) > sims.at<float>(best)) best = m;
                t.samples.push_back({fi, static_cast<double>(sims.at<float>(best)),
                                     static_cast<int>(owners.at(best))});
                t.n_rec += 1;
            }
        }
        if (k % 5 == 0) progress("finding faces", fi + 1, total, t0);
    }
    reader.close();

    int64_t n = std::max(total, fi + 1);
    progress("finding faces", n, n, t0);
    log("");
    SearchResult res;
    res.tracks.assign(std::make_move_iterator(tracker.tracks.begin()),
                      std::make_move_iterator(tracker.tracks.end()));
    res.n_frames = k > 0 ? n : 0;
    res.n_read = k > 0 ? fi + 1 : 0;
    return res;
}

}  // namespace qlcore
