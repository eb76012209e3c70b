// load_person on a folder of 20 photos: the first run examines every photo,
// the second must take everything from the cache.
#include <chrono>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "faces/models.h"
#include "faces/people.h"
#include "platform/files.h"
#include "support/test_install.h"
#include "support/test_support.h"

namespace {

double _now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

namespace fs = std::filesystem;

int main() {
    qltest::ScopedTempDir people;
    const fs::path dir = people / "ann";
    fs::create_directories(dir);
    const char* sources[] = {
        "obama.jpg",  "obama1.jpg",     "obama2.jpg",     "obama3.jpg",          "biden.jpg",
        "biden2.jpg", "obama-720p.jpg", "two_people.jpg", "obama_and_biden.jpg", "obama_small.jpg"};
    // Twenty distinct photos: each source as it is and at 80 %.
    int n = 0;
    for (const char* s : sources) {
        cv::Mat img = cv::imread(qltest::shared_photo(s).string());
        // Named first: "p" + to_string(n) gets a false -Wrestrict from g++ 12 at -O3.
        const std::string whole = std::to_string(n++), scaled = std::to_string(n++);
        cv::imwrite((dir / ("p" + whole + ".jpg")).string(), img);
        cv::Mat smaller;
        cv::resize(img, smaller, {}, 0.8, 0.8, cv::INTER_AREA);
        cv::imwrite((dir / ("p" + scaled + ".jpg")).string(), smaller);
    }

    qlcore::Models models(qltest::test_detector_model(), qltest::stand_in_recognizer());
    double t = _now_ms();
    cv::Mat first = qlcore::load_person(models, people.path(), "ann", false);
    const double cold = _now_ms() - t;
    const std::string cache = qlcore::read_file(dir / ".embeddings.json");

    t = _now_ms();
    cv::Mat second = qlcore::load_person(models, people.path(), "ann", false);
    const double warm = _now_ms() - t;
    const bool same = cache == qlcore::read_file(dir / ".embeddings.json") &&
                      first.rows == second.rows &&
                      (first.rows == 0 || cv::norm(first, second, cv::NORM_INF) == 0.0);

    std::printf("people_bench: load_person on %d photos (%d usable)\n", n, first.rows);
    std::printf("  first run (every photo examined)  %9.1f ms\n", cold);
    std::printf("  second run (from the cache)       %9.1f ms  (%.0fx faster; cache %s)\n", warm,
                cold / warm, same ? "unchanged" : "CHANGED");
    return same ? 0 : 1;
}
