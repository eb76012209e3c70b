// What the search reads: pictures from a frame source and faces from a
// detector. Production wraps the ffmpeg reader and the models; tests give
// fakes, so the search's rules are tested without ffmpeg or a model.
#pragma once

#include <opencv2/core.hpp>

#include "geometry/face_row.h"

namespace qlcore {

// BGR pictures at search size, one per searched frame, in order.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // The next picture into `frame`; false at the end.
    virtual bool read(cv::Mat& frame) = 0;
    // Ends the reading; the search calls it once the last picture is read.
    virtual void close() {}
};

// The three model calls of the search, with the meaning of Models' own.
class FaceDetector {
  public:
    virtual ~FaceDetector() = default;
    // N x 15 CV_32F face rows (FaceRow) in the picture's pixels.
    virtual cv::Mat detect(const cv::Mat& frame, int max_side) = 0;
    // The same down to min_score; a detector without weaker rows gives
    // detect()'s.
    virtual cv::Mat detect_down_to(const cv::Mat& frame, int max_side, double /*min_score*/) {
        return detect(frame, max_side);
    }
    // The multi-zoom confidence of one face row.
    virtual double verify(const cv::Mat& frame, const cv::Mat& face_row) = 0;
    // The same on the face turned level and its lightness stretched, and
    // where `inside` a search of the whole box; a detector without it
    // confirms nothing so.
    virtual LiftedCheck verify_lifted(const cv::Mat& /*frame*/, const cv::Mat& /*face_row*/,
                                      bool /*inside*/) {
        return {};
    }
    // 1 x 128 CV_32F embedding of unit length.
    virtual cv::Mat embed(const cv::Mat& frame, const cv::Mat& face_row) = 0;
};

}  // namespace qlcore
