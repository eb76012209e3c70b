#include "faces/models.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect/face.hpp>

#include <algorithm>
#include <cmath>

#include "faces/yunet.h"
#include "geometry/tuning.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/platform.h"

namespace qlcore {

namespace fs = std::filesystem;

// SFace through OpenCV's own wrapper, which 4.6 runs as it is.
class Recognizer {
  public:
    explicit Recognizer(const std::string& model) : sf_(cv::FaceRecognizerSF::create(model, "")) {}
    cv::Ptr<cv::FaceRecognizerSF> sf_;
};

namespace {

constexpr float DET_NMS = 0.3f;
constexpr int DET_TOP_K = 5000;
constexpr size_t SIZED_NETS = 4;
constexpr float VER_SCORE = 0.3f;
constexpr float VER_NMS = 0.3f;
constexpr int VER_TOP_K = 50;
constexpr double VERIFY_CROP = 2.2;
constexpr double VERIFY_CENTRE_TOL = 0.4;
constexpr double INSIDE_TOL = 0.5;  // a centre anywhere in the box
constexpr double VERIFY_MIN_FACE = 4.0;
constexpr int VERIFY_MIN_SIDE = 8;
constexpr double EMBED_GUARD = 1e-9;
void _require_models(const fs::path& det_model, const fs::path& rec_model) {
    for (const auto& p : {det_model, rec_model}) {
        std::error_code ec;
        if (!fs::exists(p, ec))
            stop_with("Model files missing in " + u8string(p.parent_path()) +
                      ". Re-run the installer.\n" +
                      models_install_hint(p.parent_path(), this_platform()));
    }
}

}  // namespace

// The .deb leaves the models out, and so does the Windows zip: the stop
// names what adds them there. fetch-models.ps1 lies beside the program,
// whose folder holds the models folder.
std::string models_install_hint(const fs::path& model_dir, const Platform& platform) {
    if (platform.windows)
        return "Install them by running qlcore's setup again, or with: powershell "
               "-ExecutionPolicy Bypass -File \"" +
               u8string(model_dir.parent_path() / "fetch-models.ps1") + "\"";
    return "Install them with: qlcore-fetch-models (in a source checkout: scripts/fetch-models)";
}

Models::Models(const fs::path& det_model, const fs::path& rec_model) : det_model_(det_model) {
    _require_models(det_model, rec_model);
    const cv::Size placeholder(320, 320);
    {
        const NarrowName det(det_model);
        det_ = std::make_unique<YuNetDetector>(det.str(), "", placeholder,
                                               static_cast<float>(DET_SCORE), DET_NMS, DET_TOP_K);
        ver_ = std::make_unique<YuNetDetector>(det.str(), "", placeholder, VER_SCORE, VER_NMS,
                                               VER_TOP_K);
    }
    const NarrowName rec(rec_model);
    rec_ = std::make_unique<Recognizer>(rec.str());
}

Models::~Models() = default;

cv::Mat Models::detect(const cv::Mat& frame, int max_side) {
    return _detect(frame, max_side, DET_SCORE, false);
}

cv::Mat Models::detect(const cv::Mat& frame, int max_side, double min_score) {
    return _detect(frame, max_side, min_score, true);
}

YuNetDetector& Models::_sized(cv::Size size) {
    for (const auto& d : sized_)
        if (d->input_size() == size) return *d;
    // A few sizes at most (the views of one clip); beyond that, share one.
    if (sized_.size() >= SIZED_NETS) return *det_;
    const NarrowName det(det_model_);
    sized_.push_back(std::make_unique<YuNetDetector>(
        det.str(), "", size, static_cast<float>(DET_SCORE), DET_NMS, DET_TOP_K));
    return *sized_.back();
}

cv::Mat Models::_detect(const cv::Mat& frame, int max_side, double min_score, bool sized) {
    const int h = frame.rows, w = frame.cols;
    const double s = std::min(1.0, static_cast<double>(max_side) / std::max(h, w));
    cv::Mat search = frame;
    if (s < 1.0) {
        const cv::Size size(static_cast<int>(round_half_even(w * s)),
                            static_cast<int>(round_half_even(h * s)));
        cv::resize(frame, shrunk_, size, 0, 0, cv::INTER_AREA);
        search = shrunk_;
    }
    YuNetDetector& det = sized ? _sized(search.size()) : *det_;
    det.set_input_size(search.size());
    det.set_score_threshold(static_cast<float>(min_score));
    cv::Mat found;
    det.detect(search, found);
    if (found.empty() || found.rows == 0) return cv::Mat(0, 15, CV_32F);

    cv::Mat rows = found.clone();
    if (s < 1.0) {
        const float sf = static_cast<float>(s);
        for (int i = 0; i < rows.rows; ++i) {
            float* r = rows.ptr<float>(i);
            for (int c = 0; c < 14; ++c)
                r[c] /= sf;
        }
    }
    return rows;
}

double Models::verify(const cv::Mat& frame, const cv::Mat& face_row) {
    CV_Assert(face_row.type() == CV_32F && face_row.total() >= 15);
    const int H = frame.rows, W = frame.cols;
    const FaceRow q(face_row.ptr<float>(0));
    const double w = q.w(), h = q.h();
    if (w < VERIFY_MIN_FACE || h < VERIFY_MIN_FACE) return 0.0;

    const double cx = q.x() + w / 2.0, cy = q.y() + h / 2.0;
    const double side = std::max(w, h) * VERIFY_CROP;
    const int x0 = static_cast<int>(std::max(0.0, cx - side / 2.0));
    const int y0 = static_cast<int>(std::max(0.0, cy - side / 2.0));
    const int x1 = static_cast<int>(std::min(static_cast<double>(W), cx + side / 2.0));
    const int y1 = static_cast<int>(std::min(static_cast<double>(H), cy + side / 2.0));
    if (x1 <= x0 || y1 <= y0) return 0.0;
    const cv::Mat crop = frame(cv::Range(y0, y1), cv::Range(x0, x1));
    double total = 0.0;
    for (int size : VERIFY_SIZES)
        total += _scan(crop, cx - x0, cy - y0, w, h, size, VERIFY_CENTRE_TOL);
    return total / static_cast<double>(VERIFY_SIZES.size());
}

LiftedCheck Models::verify_lifted(const cv::Mat& frame, const cv::Mat& face_row, bool inside) {
    CV_Assert(face_row.type() == CV_32F && face_row.total() >= 15);
    const FaceRow q(face_row.ptr<float>(0));
    const double w = q.w(), h = q.h();
    if (w < VERIFY_MIN_FACE || h < VERIFY_MIN_FACE) return {};
    const double side = std::max(w, h) * VERIFY_CROP;
    lifted_ = lifted_face(frame, face_row, side);
    // Down to LIFT_SCORE: a dim face lifted still scores low, clutter lower
    // still (BENCHMARKS.md). The usual floor comes back however this ends,
    // as the next clip's re-checks share the detector.
    struct LowFloor {
        YuNetDetector& det;
        explicit LowFloor(YuNetDetector& d) : det(d) {
            det.set_score_threshold(static_cast<float>(LIFT_SCORE));
        }
        ~LowFloor() { det.set_score_threshold(VER_SCORE); }
        LowFloor(const LowFloor&) = delete;
        LowFloor& operator=(const LowFloor&) = delete;
    } low_floor(*ver_);
    LiftedCheck found;
    // A face of the box's own size: from so low a score, clutter gives faces
    // about half the box's width (BENCHMARKS.md).
    for (int size : VERIFY_SIZES)
        found.centred += _scan(lifted_, side / 2.0, side / 2.0, w, h, size, VERIFY_CENTRE_TOL,
                               LIFT_SIZE_MIN, LIFT_SIZE_MAX);
    found.centred /= static_cast<double>(VERIFY_SIZES.size());
    // The inside search costs a detector run of about 900 x 900; a face
    // found at the centre already shows what it would.
    if (inside && found.centred < LIFTED_EVIDENCE)
        found.inside = _scan(lifted_, side / 2.0, side / 2.0, w, h, LIFT_INSIDE_SIDE, INSIDE_TOL);
    return found;
}

// The best re-check score of a face in `crop` whose centre lies within
// `tolerance` box sizes of (fx, fy), the box (w x h) zoomed to `size` wide;
// 0 when the zoomed crop is too small to search.
double Models::_scan(const cv::Mat& crop, double fx, double fy, double w, double h, int size,
                     double tolerance, double min_w, double max_w) {
    const double z = size / w;
    cv::resize(crop, zoomed_, cv::Size(), z, z, z < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    if (zoomed_.rows < VERIFY_MIN_SIDE || zoomed_.cols < VERIFY_MIN_SIDE) return 0.0;
    ver_->set_input_size(zoomed_.size());
    cv::Mat found;
    ver_->detect(zoomed_, found);
    double best = 0.0;
    for (int i = 0; i < found.rows; ++i) {
        const float* f = found.ptr<float>(i);
        const double qx = (f[0] + f[2] / 2.0) / z;
        const double qy = (f[1] + f[3] / 2.0) / z;
        const double fw = f[2] / z;
        if (std::abs(qx - fx) < w * tolerance && std::abs(qy - fy) < h * tolerance &&
            fw >= min_w * w && fw <= max_w * w)
            best = std::max(best, static_cast<double>(f[14]));
    }
    return best;
}

cv::Mat lifted_face(const cv::Mat& frame, const cv::Mat& face_row, double side) {
    const FaceRow q(face_row.ptr<float>(0));
    const double cx = q.x() + q.w() / 2.0, cy = q.y() + q.h() / 2.0;
    // Turned about the box's centre by the eyes' slope, the right eye (on
    // the picture's left) first, and moved so that centre is the crop's.
    const double roll = std::atan2(double(q.landmark_y(1)) - q.landmark_y(0),
                                   double(q.landmark_x(1)) - q.landmark_x(0)) *
                        180.0 / CV_PI;
    cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(float(cx), float(cy)), roll, 1.0);
    m.at<double>(0, 2) += side / 2.0 - cx;
    m.at<double>(1, 2) += side / 2.0 - cy;
    const int n = std::max(1, static_cast<int>(std::lround(side)));
    cv::Mat turned;
    cv::warpAffine(frame, turned, m, cv::Size(n, n), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    // The face's own lightness spread to LIFT_SPREAD around mid-grey; never
    // flattened, and a gain of at most LIFT_GAIN_MAX so noise stays noise.
    const cv::Size inner(std::max(1, static_cast<int>(std::lround(LIFT_INNER * q.w()))),
                         std::max(1, static_cast<int>(std::lround(LIFT_INNER * q.h()))));
    const cv::Rect box =
        cv::Rect({(n - inner.width) / 2, (n - inner.height) / 2}, inner) & cv::Rect(0, 0, n, n);
    if (box.empty()) return turned;
    cv::Mat grey;
    cv::cvtColor(turned(box), grey, cv::COLOR_BGR2GRAY);
    cv::Scalar mean, spread;
    cv::meanStdDev(grey, mean, spread);
    const double gain = std::clamp(LIFT_SPREAD / std::max(spread[0], 1e-6), 1.0, LIFT_GAIN_MAX);
    cv::Mat out;
    turned.convertTo(out, -1, gain, 128.0 - gain * mean[0]);
    return out;
}

cv::Mat Models::embed(const cv::Mat& frame, const cv::Mat& face_row) {
    cv::Mat aligned, feature;
    rec_->sf_->alignCrop(frame, face_row, aligned);
    rec_->sf_->feature(aligned, feature);
    cv::Mat vec;
    feature.reshape(1, 1).convertTo(vec, CV_32F);
    const double length = cv::norm(vec, cv::NORM_L2);
    // Each value divided in double: Mat's /= would multiply by a rounded
    // single-precision reciprocal and move last bits.
    float* v = vec.ptr<float>();
    for (int i = 0; i < vec.cols; ++i)
        v[i] = static_cast<float>(v[i] / (length + EMBED_GUARD));
    return vec;
}

int largest_face(const cv::Mat& faces) {
    int best = -1;
    float best_area = 0.f;
    for (int i = 0; i < faces.rows; ++i) {
        const float* r = faces.ptr<float>(i);
        const float area = r[2] * r[3];
        if (best < 0 || area > best_area) {
            best = i;
            best_area = area;
        }
    }
    return best;
}

}  // namespace qlcore
