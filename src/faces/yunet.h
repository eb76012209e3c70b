// The YuNet face detector (2023 model) run on cv::dnn.
//
// OpenCV 4.6's FaceDetectorYN only understands the older YuNet output layout,
// so this class mirrors its interface and behaviour for the newer one: the
// input size is set before each call, faces scoring below the score threshold
// are dropped and the rest go through non-maximum suppression.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <string>
#include <vector>

namespace qlcore {

class YuNetDetector {
  public:
    // Throws cv::Exception when the model cannot be read.
    YuNetDetector(const std::string& model, const std::string& config, cv::Size input_size,
                  float score_threshold, float nms_threshold, int top_k);

    void set_input_size(cv::Size input_size);
    void set_score_threshold(float score_threshold) { score_threshold_ = score_threshold; }

    // Finds the faces of a BGR picture of exactly the input size. `faces`
    // becomes N x 15 CV_32F (empty when none). Returns 0 for an empty
    // picture, 1 otherwise; a picture of another size throws cv::Exception.
    int detect(const cv::Mat& image, cv::Mat& faces);

    // The network input for a picture of the input size: padded with zeros
    // on the right and bottom to multiples of 32, unscaled, BGR.
    cv::Mat make_blob(const cv::Mat& image) const;

    // The twelve raw outputs (cls, obj, bbox, kps; strides 8, 16, 32 each).
    std::vector<cv::Mat> forward(const cv::Mat& blob);

    cv::Size padded_size() const { return {pad_w_, pad_h_}; }
    cv::Size input_size() const { return {input_w_, input_h_}; }

  private:
    cv::dnn::Net net_;
    // Kept from call to call: the input blob of a 1080p picture is 25 MB,
    // and handing it back to the system every frame costs more than the copy.
    cv::Mat blob_;
    std::vector<cv::Mat> outputs_;
    int input_w_ = 0, input_h_ = 0;
    int pad_w_ = 0, pad_h_ = 0;
    float score_threshold_;
    float nms_threshold_;
    int top_k_;
};

// Writes a BGR CV_8UC3 picture into `blob` as the network's input: 1 x 3 x
// padded.height x padded.width floats, the picture at the top left and zeros
// around it; the same values as cv::dnn::blobFromImage of the padded picture.
// The blob's memory is reused when it has that shape already.
void fill_blob(const cv::Mat& image, cv::Size padded, cv::Mat& blob);

// Turns the twelve outputs for a padded input of `padded` pixels into face
// rows (x, y, w, h, five landmarks, score) in the order NMS keeps them.
cv::Mat decode_yunet(const std::vector<cv::Mat>& outputs, cv::Size padded, float score_threshold,
                     float nms_threshold, int top_k);

}  // namespace qlcore
