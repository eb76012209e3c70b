// The face detector and recogniser.
#pragma once

#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>

namespace qlcore {

class YuNetDetector;  // faces/yunet.h
class Recognizer;     // faces/models.cpp

// FaceRow: 15 floats - box x, y, w, h; five landmarks (x, y); score.
// detect() returns N x 15 CV_32F (0 x 15 when nothing is found).
class Models {
public:
    // Loads the models from MODEL_DIR; stops the program with "Model files
    // missing in <dir>. Re-run the installer." when one is missing.
    Models();
    Models(const std::filesystem::path& det_model, const std::filesystem::path& rec_model);
    ~Models();
    Models(const Models&) = delete;
    Models& operator=(const Models&) = delete;

    cv::Mat detect(const cv::Mat& frame, int max_side = 1920);
    double verify(const cv::Mat& frame, const cv::Mat& face_row);
    // 1 x 128 CV_32F of unit length.
    cv::Mat embed(const cv::Mat& frame, const cv::Mat& face_row);

private:
    std::unique_ptr<YuNetDetector> det_, ver_;
    std::unique_ptr<Recognizer> rec_;
};

// Index of the largest face (width x height; the first on a tie), -1 for none.
int largest_face(const cv::Mat& faces);

}  // namespace qlcore
