// The detector on a 1920x1080 frame: the bare network forward pass against
// the whole detect call, so the cost of padding, decoding and suppression
// shows. Target: decoding and NMS add at most 5 % to the forward pass.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "faces/yunet.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace {

double _now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double _median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const int runs = 15;
    cv::Mat photo = cv::imread(qltest::shared_photo("obama_and_biden.jpg").string());
    if (photo.empty()) {
        std::fprintf(stderr, "cannot read the test photo\n");
        return 1;
    }
    cv::Mat frame;
    cv::resize(photo, frame, {1920, 1080}, 0, 0, cv::INTER_AREA);

    qlcore::YuNetDetector det(qltest::test_detector_model().string(), "", frame.size(), 0.42f, 0.3f,
                              5000);
    const cv::Mat blob = det.make_blob(frame);
    cv::Mat faces;
    det.detect(frame, faces);  // warm-up: the network sets itself up on the first run
    std::vector<cv::Mat> outputs = det.forward(blob);

    std::vector<double> forward_ms, detect_ms, decode_ms, blob_ms;
    for (int i = 0; i < runs; ++i) {
        double t = _now_ms();
        outputs = det.forward(blob);
        forward_ms.push_back(_now_ms() - t);

        t = _now_ms();
        det.detect(frame, faces);
        detect_ms.push_back(_now_ms() - t);

        t = _now_ms();
        cv::Mat fresh = det.make_blob(frame);
        blob_ms.push_back(_now_ms() - t);

        t = _now_ms();
        for (int k = 0; k < 10; ++k)
            faces = qlcore::decode_yunet(outputs, det.padded_size(), 0.42f, 0.3f, 5000);
        decode_ms.push_back((_now_ms() - t) / 10);
    }
    const double fwd = _median(forward_ms), all = _median(detect_ms), dec = _median(decode_ms);
    const double prep = _median(blob_ms);
    std::printf("detect_bench: 1920x1080 frame, %d faces, median of %d runs\n", faces.rows, runs);
    std::printf("  bare forward pass      %8.2f ms\n", fwd);
    std::printf(
        "  decode + NMS           %8.3f ms  (%.2f %% of the forward pass; target <= 5 %%)\n", dec,
        100.0 * dec / fwd);
    std::printf(
        "  whole detect call      %8.2f ms  (%+.2f %% over the forward pass, padding and "
        "blob included)\n",
        all, 100.0 * (all - fwd) / fwd);
    std::printf("  padding + blob         %8.2f ms\n", prep);
    std::printf("  detect - blob - forward %7.2f ms  (%+.2f %% of the forward pass)\n",
                all - prep - fwd, 100.0 * (all - prep - fwd) / fwd);
    return 0;
}
