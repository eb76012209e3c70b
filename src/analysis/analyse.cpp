#include "analysis/analyse.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "faces/models.h"
#include "geometry/face_row.h"
#include "media/console.h"
#include "media/frame_readers.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/numbers.h"

namespace qlcore {
namespace {

// The detector is handed frames already at search size, so it never shrinks them.
constexpr int NO_SHRINK = 1000000;
// Searched frames between two progress lines.
constexpr int64_t PROGRESS_EVERY = 5;

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

// The landmark evidence of one tracker's tracks, by track id.
class EvidenceLog {
  public:
    void add(const Track& t, const cv::Mat& rows, int i) {
        const size_t id = _make_room(t);
        const FaceRow row(rows.ptr<float>(i));
        std::vector<double>& drift = by_id_[id].drift;
        drift.push_back(drift.empty() ? NO_DRIFT
                                      : round_places(landmark_drift(FaceRow(last_[id].data()), row),
                                                     EVIDENCE_PLACES));
        std::copy(row.v, row.v + FACE_ROW_SIZE, last_[id].begin());
    }
    void add_lifted(const Track& t, const LiftedCheck& check) {
        FaceEvidence& e = by_id_[_make_room(t)];
        e.lifted.push_back(round_places(check.centred, EVIDENCE_PLACES));
        e.inside.push_back(round_places(check.inside, EVIDENCE_PLACES));
    }
    // Whether a lifted re-check of `t` already found a face: one is enough.
    bool lifted_found(const Track& t) const {
        const FaceEvidence* e = _at(t);
        return e && found_by_lifted(*e);
    }
    // Whether `t` was searched inside its box already: the costly search is
    // made once a track.
    bool looked_inside(const Track& t) const {
        const FaceEvidence* e = _at(t);
        return e && std::any_of(e->inside.begin(), e->inside.end(),
                                [](double v) { return v != NOT_LOOKED; });
    }
    // One entry per track of `tracker`, in its order.
    std::vector<FaceEvidence> take(size_t n_tracks) {
        by_id_.resize(n_tracks);
        return std::move(by_id_);
    }

  private:
    const FaceEvidence* _at(const Track& t) const {
        const size_t id = static_cast<size_t>(t.id);
        return id < by_id_.size() ? &by_id_[id] : nullptr;
    }
    size_t _make_room(const Track& t) {
        const size_t id = static_cast<size_t>(t.id);
        if (id >= by_id_.size()) {
            by_id_.resize(id + 1);
            last_.resize(id + 1);
        }
        return id;
    }

    std::vector<FaceEvidence> by_id_;
    std::vector<std::array<float, FACE_ROW_SIZE>> last_;  // the latest row of each track
};

// Re-checks row i of `rows` for its track when it deserves it. The thorough
// search (with a log) repeats a re-check that found no face on the face
// lifted, as evidence, until a lifted one finds it; the first of them also
// searches the whole box.
void _check_if_wanted(FaceDetector& detector, const cv::Mat& frame, const cv::Mat& rows, int i,
                      Track& t, double score, const SearchGeometry& g, EvidenceLog* log) {
    if (!_wants_check(t, FaceRow(rows.ptr<float>(i)).w() * g.up, score, g.verify_w)) return;
    t.checks.push_back(round_places(detector.verify(frame, rows.row(i)), 3));
    t.best_checked = score;
    if (log && t.checks.back() < RECHECK_EVIDENCE && !log->lifted_found(t))
        log->add_lifted(t, detector.verify_lifted(frame, rows.row(i), !log->looked_inside(t)));
}

class ReaderSource : public FrameSource {
  public:
    ReaderSource(const std::string& path, FrameSize size, int every, FrameSize source)
        : reader_(path, size, every, source) {}
    bool read(cv::Mat& frame) override { return reader_.read(frame); }
    void close() override { reader_.close(); }

  private:
    FFReader reader_;  // its destructor closes it on every way out, errors included
};

class ModelsDetector : public FaceDetector {
  public:
    explicit ModelsDetector(Models& models) : models_(models) {}
    cv::Mat detect(const cv::Mat& frame, int max_side) override {
        return models_.detect(frame, max_side);
    }
    double verify(const cv::Mat& frame, const cv::Mat& row) override {
        return models_.verify(frame, row);
    }
    LiftedCheck verify_lifted(const cv::Mat& frame, const cv::Mat& row, bool inside) override {
        return models_.verify_lifted(frame, row, inside);
    }
    cv::Mat embed(const cv::Mat& frame, const cv::Mat& row) override {
        return models_.embed(frame, row);
    }
    cv::Mat detect_down_to(const cv::Mat& frame, int max_side, double min_score) override {
        return models_.detect(frame, max_side, min_score);
    }

  private:
    Models& models_;
};

// One frame's detections from all views of the thorough search, in frame
// pixels: those at DET_SCORE or more into `faces`, the weaker into `weak`.
// `searched` frames came before this one.
void _detect_views(FaceDetector& detector, const cv::Mat& frame, int64_t searched,
                   const std::vector<View>& views, std::vector<ViewBuffers>& buffers,
                   double weak_score, cv::Mat& faces, cv::Mat& weak) {
    buffers.resize(views.size());
    std::vector<cv::Mat> found;
    found.reserve(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        const View& v = views[i];
        if (searched % v.every == 0)
            found.push_back(rows_to_frame(
                detector.detect_down_to(view_picture(frame, v, buffers[i]), NO_SHRINK, weak_score),
                v));
    }
    const cv::Mat merged = merge_rows(found, VIEW_MERGE_IOU);
    faces = cv::Mat(0, 15, CV_32F);
    weak = cv::Mat(0, 15, CV_32F);
    // The detector's own comparison, in single precision.
    const float strong = static_cast<float>(DET_SCORE);
    for (int i = 0; i < merged.rows; ++i)
        (FaceRow(merged.ptr<float>(i)).score() >= strong ? faces : weak).push_back(merged.row(i));
}

void _to_boxes(const cv::Mat& rows, double up, std::vector<Box>& boxes,
               std::vector<double>& scores) {
    boxes.clear();
    scores.clear();
    for (int i = 0; i < rows.rows; ++i) {
        const FaceRow r(rows.ptr<float>(i));
        boxes.push_back({r.x() * up, r.y() * up, r.w() * up, r.h() * up});
        scores.push_back(static_cast<double>(r.score()));
    }
}

}  // namespace

ThoroughSearch thorough_search(const Tuning& tuning) {
    ThoroughSearch t;
    t.det_max_side = tuning.det_max_side;
    t.weak_score = WEAK_DET_SCORE;
    return t;
}

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

void round_as_stored(SearchResult& result) {
    for (auto* list : {&result.tracks, &result.candidates})
        for (Track& t : *list) {
            for (Box& b : t.boxes)
                b = {round_places(b.x, BOX_PLACES), round_places(b.y, BOX_PLACES),
                     round_places(b.w, BOX_PLACES), round_places(b.h, BOX_PLACES)};
            for (double& s : t.scores)
                s = round_places(s, SCORE_PLACES);
            for (Sample& s : t.samples)
                s.sim = round_places(s.sim, SIM_PLACES);
        }
}

SearchResult search_frames(FrameSource& frames, FaceDetector& detector, const SearchGeometry& g,
                           int every, int64_t total, const cv::Mat& gallery,
                           const std::vector<int32_t>& owners,
                           const std::optional<ThoroughSearch>& thorough) {
    every = std::max(1, every);
    total = std::max<int64_t>(0, total);
    const bool recognise = gallery.rows > 0;

    Tracker tracker, weak_tracker;
    EvidenceLog evidence, weak_evidence;
    int64_t k = 0, fi = 0;
    const double t0 = now_seconds();
    cv::Mat frame, sims, faces, weak;
    std::vector<Box> boxes;
    std::vector<double> scores;
    std::vector<View> views;
    std::vector<ViewBuffers> view_buffers;
    while (frames.read(frame)) {
        check_interrupted();
        fi = k * every;
        ++k;
        if (thorough) {
            if (views.empty())
                views = search_views(frame.size(), thorough->det_max_side, thorough->views);
            _detect_views(detector, frame, k - 1, views, view_buffers, thorough->weak_score, faces,
                          weak);
            _to_boxes(weak, g.up, boxes, scores);
            const std::vector<Track*> weak_now = weak_tracker.update(fi, boxes, scores);
            for (int i = 0; i < weak.rows; ++i) {
                Track& t = *weak_now[i];
                weak_evidence.add(t, weak, i);
                // Re-checked like the tracks, once tracked long enough to matter.
                if (static_cast<int>(t.frames.size()) >= CANDIDATE_CHECK_FROM)
                    _check_if_wanted(detector, frame, weak, i, t, scores[i], g, &weak_evidence);
            }
        } else {
            faces = detector.detect(frame, NO_SHRINK);
        }
        _to_boxes(faces, g.up, boxes, scores);
        std::vector<Track*> now = tracker.update(fi, boxes, scores);
        for (int i = 0; i < faces.rows; ++i) {
            Track& t = *now[i];
            if (thorough) evidence.add(t, faces, i);
            _check_if_wanted(detector, frame, faces, i, t, scores[i], g,
                             thorough ? &evidence : nullptr);
        }
        if (recognise) {
            for (int i = 0; i < faces.rows; ++i) {
                Track& t = *now[i];
                const FaceRow r(faces.ptr<float>(i));
                if (std::min(r.w(), r.h()) < MIN_REC_SIZE) continue;
                if (t.n_rec >= REC_BUDGET && fi % REC_EVERY != 0) continue;
                cv::Mat vec = detector.embed(frame, faces.row(i));
                sims = gallery * vec.t();  // M x 1, single precision
                int best = 0;
                for (int m = 1; m < sims.rows; ++m)
                    if (sims.at<float>(m) > sims.at<float>(best)) best = m;
                t.samples.push_back({fi, static_cast<double>(sims.at<float>(best)),
                                     static_cast<int>(owners.at(best))});
                t.n_rec += 1;
            }
        }
        if (k % PROGRESS_EVERY == 0) progress("finding faces", fi + 1, total, t0);
    }
    frames.close();

    int64_t n = std::max(total, fi + 1);
    progress("finding faces", n, n, t0);
    log("");
    SearchResult res;
    res.tracks.assign(std::make_move_iterator(tracker.tracks.begin()),
                      std::make_move_iterator(tracker.tracks.end()));
    res.candidates.assign(std::make_move_iterator(weak_tracker.tracks.begin()),
                          std::make_move_iterator(weak_tracker.tracks.end()));
    if (thorough) {
        res.evidence = evidence.take(res.tracks.size());
        res.candidate_evidence = weak_evidence.take(res.candidates.size());
    }
    const int first_id = static_cast<int>(res.tracks.size());
    for (size_t i = 0; i < res.candidates.size(); ++i)
        res.candidates[i].id = first_id + static_cast<int>(i);
    res.n_frames = k > 0 ? n : 0;
    res.n_read = k > 0 ? fi + 1 : 0;
    round_as_stored(res);
    return res;
}

SearchResult analyse(const std::string& path, const ClipInfo& info, FrameSize size, Models& models,
                     const cv::Mat& gallery, const std::vector<int32_t>& owners,
                     const Tuning& tuning) {
    // The thorough search decodes full frames; its views scale them.
    const int decoded_side = tuning.thorough ? std::max(size.w, size.h) : tuning.det_max_side;
    const SearchGeometry g = search_geometry(size, decoded_side);
    const int every = std::max(1, tuning.det_every);
    ReaderSource frames(path, {g.dw, g.dh}, every, size);
    ModelsDetector detector(models);
    std::optional<ThoroughSearch> thorough;
    if (tuning.thorough) thorough = thorough_search(tuning);
    return search_frames(frames, detector, g, every, info.frames, gallery, owners, thorough);
}

}  // namespace qlcore
