// The face detector and recogniser.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "geometry/face_row.h"
#include "platform/platform.h"

namespace qlcore {

class YuNetDetector;  // faces/yunet.h
class Recognizer;     // faces/models.cpp

// The model files' names inside the installation's "models" folder.
inline constexpr const char* DET_MODEL_NAME = "face_detection_yunet_2023mar.onnx";
inline constexpr const char* REC_MODEL_NAME = "face_recognition_sface_2021dec.onnx";

// Faces the detector scores below this are not reported.
inline constexpr double DET_SCORE = 0.42;
// The thorough search also keeps detections from this score up, as weak
// candidates (chosen by measurement on dim faces and hands: BENCHMARKS.md).
inline constexpr double WEAK_DET_SCORE = 0.2;
// The face widths, in pixels, a re-check zooms the face to.
inline constexpr std::array<int, 3> VERIFY_SIZES = {48, 80, 140};

// The line after the missing-models stop: what puts the models into
// `model_dir` on `platform`.
std::string models_install_hint(const std::filesystem::path& model_dir, const Platform& platform);

// The `side` x `side` square centred on the face's box, turned by the slope
// of its eye landmarks and with the box's lightness spread stretched (the
// frame's edge repeated beyond it).
cv::Mat lifted_face(const cv::Mat& frame, const cv::Mat& face_row, double side);

// FaceRow: 15 floats - box x, y, w, h; five landmarks (x, y); score.
// detect() returns N x 15 CV_32F (0 x 15 when nothing is found).
class Models {
  public:
    // Loads the two model files; stops the program with "Model files
    // missing in <dir>. Re-run the installer." when one is missing.
    Models(const std::filesystem::path& det_model, const std::filesystem::path& rec_model);
    ~Models();
    Models(const Models&) = delete;
    Models& operator=(const Models&) = delete;

    cv::Mat detect(const cv::Mat& frame, int max_side = 1920);
    // The same down to min_score instead of DET_SCORE. Rows at DET_SCORE or
    // more are those detect() finds: a weaker row never suppresses one. Each
    // picture size gets a network of its own, as a search that switches sizes
    // every frame would otherwise have the network reshaped every time.
    cv::Mat detect(const cv::Mat& frame, int max_side, double min_score);
    // The face's re-check score, 0..1: the face detector run again on a crop
    // around it zoomed to each of VERIFY_SIZES, the best score near its
    // centre averaged.
    double verify(const cv::Mat& frame, const cv::Mat& face_row);
    // The same on lifted_face's crop, for faces too dim or too tilted for
    // the detector to confirm as the frame shows them: scores from
    // LIFT_SCORE up; where that finds less than LIFTED_EVIDENCE and
    // `inside`, once more with the box zoomed to LIFT_INSIDE_SIDE for the
    // best face anywhere inside it (a weak box far larger than the face it
    // holds).
    LiftedCheck verify_lifted(const cv::Mat& frame, const cv::Mat& face_row, bool inside = true);
    // 1 x 128 CV_32F of unit length.
    cv::Mat embed(const cv::Mat& frame, const cv::Mat& face_row);

  private:
    cv::Mat _detect(const cv::Mat& frame, int max_side, double min_score, bool sized);
    YuNetDetector& _sized(cv::Size size);
    double _scan(const cv::Mat& crop, double fx, double fy, double w, double h, int size,
                 double tolerance, double min_w = 0.0, double max_w = 1e9);

    std::filesystem::path det_model_;
    std::unique_ptr<YuNetDetector> det_, ver_;
    std::vector<std::unique_ptr<YuNetDetector>> sized_;  // one input size each
    std::unique_ptr<Recognizer> rec_;
    // Pictures made on every call, kept so their memory is not handed back
    // to the system and faulted in again the next time.
    cv::Mat shrunk_, zoomed_, lifted_;
};

// Index of the largest face (width x height; the first on a tie), -1 for none.
int largest_face(const cv::Mat& faces);

}  // namespace qlcore
