#include "faces/yunet.h"

#include <algorithm>
#include <cmath>
#include <opencv2/core/check.hpp>
#include <opencv2/imgproc.hpp>

namespace qlcore {

namespace {

constexpr int DIVISOR = 32;
constexpr int STRIDES[3] = {8, 16, 32};
const std::vector<std::string> OUTPUT_NAMES = {"cls_8",   "cls_16", "cls_32", "obj_8",
                                               "obj_16",  "obj_32", "bbox_8", "bbox_16",
                                               "bbox_32", "kps_8",  "kps_16", "kps_32"};

int _padded(int side) {
    return ((side - 1) / DIVISOR + 1) * DIVISOR;
}

float _clamp01(float v) {
    return std::min(1.f, std::max(0.f, v));
}

}  // namespace

YuNetDetector::YuNetDetector(const std::string& model, const std::string& config,
                             cv::Size input_size, float score_threshold, float nms_threshold,
                             int top_k)
    : score_threshold_(score_threshold), nms_threshold_(nms_threshold), top_k_(top_k) {
    net_ = cv::dnn::readNet(model, config);
    CV_Assert(!net_.empty());
    set_input_size(input_size);
}

void YuNetDetector::set_input_size(cv::Size input_size) {
    input_w_ = input_size.width;
    input_h_ = input_size.height;
    pad_w_ = _padded(input_w_);
    pad_h_ = _padded(input_h_);
}

cv::Mat YuNetDetector::make_blob(const cv::Mat& image) const {
    cv::Mat blob;
    fill_blob(image, padded_size(), blob);
    return blob;
}

std::vector<cv::Mat> YuNetDetector::forward(const cv::Mat& blob) {
    std::vector<cv::Mat> outputs;
    net_.setInput(blob);
    net_.forward(outputs, OUTPUT_NAMES);
    return outputs;
}

void fill_blob(const cv::Mat& image, cv::Size padded, cv::Mat& blob) {
    CV_Assert(image.type() == CV_8UC3 && image.cols <= padded.width && image.rows <= padded.height);
    const int shape[4] = {1, 3, padded.height, padded.width};
    blob.create(4, shape, CV_32F);
    const size_t plane = static_cast<size_t>(padded.width) * padded.height;
    float* planes[3] = {blob.ptr<float>(), blob.ptr<float>() + plane,
                        blob.ptr<float>() + 2 * plane};
    const int w = image.cols, h = image.rows;
    for (int y = 0; y < padded.height; ++y) {
        const size_t at = static_cast<size_t>(y) * padded.width;
        float* p0 = planes[0] + at;
        float* p1 = planes[1] + at;
        float* p2 = planes[2] + at;
        // The padding is written every time: a reused blob may hold a wider
        // or taller picture from before.
        const int filled = y < h ? w : 0;
        if (filled > 0) {
            const uchar* src = image.ptr<uchar>(y);
            for (int x = 0; x < w; ++x) {
                p0[x] = src[3 * x];
                p1[x] = src[3 * x + 1];
                p2[x] = src[3 * x + 2];
            }
        }
        for (float* p : {p0, p1, p2})
            std::fill(p + filled, p + padded.width, 0.f);
    }
}

int YuNetDetector::detect(const cv::Mat& image, cv::Mat& faces) {
    if (image.empty()) return 0;
    CV_CheckEQ(image.size(), cv::Size(input_w_, input_h_),
               "Size does not match. Call set_input_size(size) before detect");
    fill_blob(image, padded_size(), blob_);
    net_.setInput(blob_);
    net_.forward(outputs_, OUTPUT_NAMES);
    faces = decode_yunet(outputs_, padded_size(), score_threshold_, nms_threshold_, top_k_);
    return 1;
}

cv::Mat decode_yunet(const std::vector<cv::Mat>& outputs, cv::Size padded, float score_threshold,
                     float nms_threshold, int top_k) {
    CV_Assert(outputs.size() == 12);
    cv::Mat faces(0, 15, CV_32F);
    cv::Mat face(1, 15, CV_32F);
    float* f = face.ptr<float>(0);
    for (int i = 0; i < 3; ++i) {
        const int stride = STRIDES[i];
        const int cols = padded.width / stride;
        const int rows = padded.height / stride;
        const size_t cells = static_cast<size_t>(rows) * cols;
        const cv::Mat& cls = outputs[i];
        const cv::Mat& obj = outputs[i + 3];
        const cv::Mat& bbox = outputs[i + 6];
        const cv::Mat& kps = outputs[i + 9];
        // A model that does not match the padded size would be read past its end.
        CV_Assert(cls.isContinuous() && obj.isContinuous() && bbox.isContinuous() &&
                  kps.isContinuous());
        CV_Assert(cls.total() >= cells && obj.total() >= cells && bbox.total() >= cells * 4 &&
                  kps.total() >= cells * 10);
        const float* cls_v = cls.ptr<float>();
        const float* obj_v = obj.ptr<float>();
        const float* bbox_v = bbox.ptr<float>();
        const float* kps_v = kps.ptr<float>();
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const size_t idx = static_cast<size_t>(r) * cols + c;
                const float score = std::sqrt(_clamp01(cls_v[idx]) * _clamp01(obj_v[idx]));
                if (score < score_threshold) continue;
                const float* b = bbox_v + idx * 4;
                const float cx = (c + b[0]) * stride;
                const float cy = (r + b[1]) * stride;
                const float w = std::exp(b[2]) * stride;
                const float h = std::exp(b[3]) * stride;
                f[0] = cx - w / 2.f;
                f[1] = cy - h / 2.f;
                f[2] = w;
                f[3] = h;
                const float* k = kps_v + idx * 10;
                for (int n = 0; n < 5; ++n) {
                    f[4 + 2 * n] = (k[2 * n] + c) * stride;
                    f[5 + 2 * n] = (k[2 * n + 1] + r) * stride;
                }
                f[14] = score;
                faces.push_back(face);
            }
        }
    }
    // As in OpenCV's own decoder, a single candidate skips the suppression.
    if (faces.rows <= 1) return faces;

    std::vector<cv::Rect> boxes;
    std::vector<float> scores;
    boxes.reserve(faces.rows);
    scores.reserve(faces.rows);
    for (int i = 0; i < faces.rows; ++i) {
        const float* row = faces.ptr<float>(i);
        boxes.emplace_back(int(row[0]), int(row[1]), int(row[2]), int(row[3]));
        scores.push_back(row[14]);
    }
    std::vector<int> keep;
    cv::dnn::NMSBoxes(boxes, scores, score_threshold, nms_threshold, keep, 1.f, top_k);
    cv::Mat kept(0, 15, CV_32F);
    for (int idx : keep)
        kept.push_back(faces.row(idx));
    return kept;
}

}  // namespace qlcore
