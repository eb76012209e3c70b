
#include <cmath>
#include <cstdio>

#include "faces/enroll.h"
#include "faces/models.h"
#include "faces/people.h"
#include "geometry/face_row.h"
#include "geometry/tuning.h"
#include "media/console.h"
#include "media/jpeg.h"
#include "media/opencv_io.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/numbers.h"

namespace qlcore {

namespace {

constexpr double FALLBACK_FPS = 30.0;
constexpr float MIN_ENROLL_FACE = 80.f;
constexpr float MIN_ENROLL_SCORE = 0.85f;
constexpr double CROP_MARGIN = 0.6;
constexpr int JPEG_QUALITY = 92;
constexpr long long PROGRESS_EVERY = 30;

// Frames between samples: never 0, even for a tiny or nonsensical interval.
long long _sample_step(double fps, double every) {
    const double frames = fps * every;
    if (!std::isfinite(frames) || frames < 1.0) return 1;
    return std::max<long long>(1, round_half_even(std::min(frames, 1e15)));
}

std::string _photo_name(const std::string& stem, long long fi) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%06lld", fi);
    return stem + "_" + digits + ".jpg";
}

// The face box with a margin, cut at the frame's edges; empty when nothing
// of it lies inside the frame.
cv::Mat _face_crop(const cv::Mat& frame, FaceRow row) {
    const int x = static_cast<int>(row.x()), y = static_cast<int>(row.y());
    const int w = static_cast<int>(row.w()), h = static_cast<int>(row.h());
    const int pad = static_cast<int>(CROP_MARGIN * std::max(w, h));
    const int x0 = std::max(0, x - pad), x1 = std::min(frame.cols, x + w + pad);
    const int y0 = std::max(0, y - pad), y1 = std::min(frame.rows, y + h + pad);
    if (x1 <= x0 || y1 <= y0) return {};
    return frame(cv::Range(y0, y1), cv::Range(x0, x1));
}

bool _write_jpeg(const fs::path& path, const cv::Mat& crop) {
    return !crop.empty() && write_jpeg_file(path, crop, JPEG_QUALITY);
}

}  // namespace

long long enroll_from_video(Models& models, const fs::path& folder, const std::string& video,
                            double every, long long max) {
    VideoFile cap(video);
    double fps = cap.fps();
    if (!(fps > 0.0) || !std::isfinite(fps)) fps = FALLBACK_FPS;
    const long long step = _sample_step(fps, every);
    const double count = cap.frame_count();
    const long long total = count > 0.0 && std::isfinite(count) ? static_cast<long long>(count) : 0;

    const fs::path clip = u8path(video);
    const std::string stem = u8string(clip.stem());
    long long saved = 0, fi = 0;
    const double t0 = now_seconds();
    cv::Mat reference;  // the first saved face; every later photo must look like it

    log("Pulling the largest face every " + shortest(every) + "s from " +
        u8string(clip.filename()) + " into " + u8string(folder));
    cv::Mat frame;
    while (saved < max) {
        check_interrupted();
        if (!cap.read(frame) || frame.empty()) break;
        if (fi % step == 0) {
            const cv::Mat faces = models.detect(frame);
            const int i = largest_face(faces);
            if (i >= 0) {
                const FaceRow row(faces.ptr<float>(i));
                if (std::min(row.w(), row.h()) >= MIN_ENROLL_FACE &&
                    row.score() >= MIN_ENROLL_SCORE) {
                    const cv::Mat vec = models.embed(frame, faces.row(i));
                    const float likeness = reference.empty() ? 1.f : float(reference.dot(vec));
                    const bool alike = reference.empty() ||
                                       static_cast<double>(likeness) >= DEFAULT_KEEP_THRESHOLD;
                    if (alike) {
                        const fs::path out = folder / u8path(_photo_name(stem, fi));
                        if (_write_jpeg(out, _face_crop(frame, row))) {
                            if (reference.empty()) reference = vec.clone();
                            ++saved;
                        } else {
                            log("\n  ⚠ could not write " + u8string(out));
                        }
                    }
                }
            }
        }
        ++fi;
        if (fi % PROGRESS_EVERY == 0) progress("scanning", fi, total, t0);
    }
    log("");
    return saved;
}

}  // namespace qlcore
