// An earlier report beside a finished video: anything the skip test accepts
// must give the batch runner its results lines without an error.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "app/batch.h"
#include "clip/earlier_report.h"
#include "clip/output_paths.h"
#include "clip/overrides.h"
#include "clip/report.h"
#include "fuzz_files.h"

using namespace qlcore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto src = qlfuzz::scratch() / "A001.mov";
    static const auto done = qlfuzz::scratch() / "A001_mosaic.mov";
    static const bool made = [] {
        // The video is written after the source, so it counts as up to date.
        std::ofstream(src) << "source";
        std::ofstream(done) << "video";
        return true;
    }();
    (void)made;
    qlfuzz::write_bytes(report_path(done), data, size);
    const std::vector<std::string> names{"ann", "bob"};
    for (const json& ov : {json::object(), json::parse(R"({"keep":[12,40]})")}) {
        if (auto report = earlier_report(src, done, names, ov)) (void)result_lines(*report);
    }
    return 0;
}
