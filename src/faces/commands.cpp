#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "app/commands.h"
#include "app/settings.h"
#include "faces/models.h"
#include "faces/people.h"
#include "media/capture.h"
#include "media/console.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/numbers.h"

namespace qlcore {

namespace {

constexpr double _FALLBACK_FPS = 30.0;
constexpr float _MIN_ENROLL_FACE = 80.f;
constexpr float _MIN_ENROLL_SCORE = 0.85f;
constexpr double _CROP_MARGIN = 0.6;
constexpr int _JPEG_QUALITY = 92;
constexpr long long _PROGRESS_EVERY = 30;

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
cv::Mat _face_crop(const cv::Mat& frame, const float* row) {
    const int x = static_cast<int>(row[0]), y = static_cast<int>(row[1]);
    const int w = static_cast<int>(row[2]), h = static_cast<int>(row[3]);
    const int pad = static_cast<int>(_CROP_MARGIN * std::max(w, h));
    const int x0 = std::max(0, x - pad), x1 = std::min(frame.cols, x + w + pad);
    const int y0 = std::max(0, y - pad), y1 = std::min(frame.rows, y + h + pad);
    if (x1 <= x0 || y1 <= y0) return {};
    return frame(cv::Range(y0, y1), cv::Range(x0, x1));
}

bool _write_jpeg(const fs::path& path, const cv::Mat& crop) {
    if (crop.empty()) return false;
    try {
        return cv::imwrite(path.string(), crop, {cv::IMWRITE_JPEG_QUALITY, _JPEG_QUALITY});
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace

int cmd_enroll(const CliArgs& args) {
    const std::string name = trim(args.name);
    if (auto why = person_name_error(name)) {
        std::cout.flush();
        std::cerr << *why << std::endl;
        return 1;
    }
    const fs::path folder = folders().people_dir / name;
    fs::create_directories(folder);

    Models models;
    cv::VideoCapture cap = open_video(args.from_video);
    double fps = cap.get(cv::CAP_PROP_FPS);
    if (!(fps > 0.0) || !std::isfinite(fps)) fps = _FALLBACK_FPS;
    const long long step = _sample_step(fps, args.every);
    const double count = cap.get(cv::CAP_PROP_FRAME_COUNT);
    const long long total = count > 0.0 && std::isfinite(count) ? static_cast<long long>(count) : 0;

    const fs::path clip(args.from_video);
    const std::string stem = clip.stem().string();
    long long saved = 0, fi = 0;
    const double t0 = now_seconds();
    cv::Mat reference;  // the first saved face; every later photo must look like it

    log("Pulling the largest face every " + shortest(args.every) + "s from " +
        clip.filename().string() + " into " + folder.string());
    cv::Mat frame;
    while (saved < args.max) {
        check_interrupted();
        if (!cap.read(frame) || frame.empty()) break;
        if (fi % step == 0) {
            const cv::Mat faces = models.detect(frame);
            const int i = largest_face(faces);
            const float* row = i >= 0 ? faces.ptr<float>(i) : nullptr;
            if (row && std::min(row[2], row[3]) >= _MIN_ENROLL_FACE &&
                row[14] >= _MIN_ENROLL_SCORE) {
                const cv::Mat vec = models.embed(frame, faces.row(i));
                const float likeness = reference.empty() ? 1.f : float(reference.dot(vec));
                const bool alike =
                    reference.empty() || static_cast<double>(likeness) >= DEFAULT_KEEP_THRESHOLD;
                if (alike) {
                    const fs::path out = folder / _photo_name(stem, fi);
                    if (_write_jpeg(out, _face_crop(frame, row))) {
                        if (reference.empty()) reference = vec.clone();
                        ++saved;
                    } else {
                        log("\n  ⚠ could not write " + out.string());
                    }
                }
            }
        }
        ++fi;
        if (fi % _PROGRESS_EVERY == 0) progress("scanning", fi, total, t0);
    }
    log("");
    cap.release();

    log("Saved " + std::to_string(saved) + " face photo(s) for " + name + ".");
    log("Open the folder and delete any photo that is NOT them — that matters more than having "
        "many.");
    return saved > 0 ? 0 : 1;
}

int cmd_people(const CliArgs&) {
    const std::vector<std::string> people = list_people();
    if (people.empty()) {
        log("No people yet. Make a folder per person in " + folders().people_dir.string() +
            " and drop in a few clear photos.");
        return 0;
    }
    Models models;
    for (const std::string& name : people)
        load_person(models, name, true);
    return 0;
}

}  // namespace qlcore
