// The model installer: checked files only, nothing partial left behind.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/files.h"
#include "support/test_install.h"
#include "support/test_support.h"

using qltest::run_program;
using qltest::ScopedTempDir;
namespace fs = std::filesystem;

namespace {

qlcore::RunResult fetch(const std::vector<std::string>& args) {
    std::vector<std::string> argv{(qltest::source_dir() / "scripts" / "fetch-models").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv);
}

int entries(const fs::path& dir) {
    int n = 0;
    for (auto& e : fs::directory_iterator(dir))
        (void)e, ++n;
    return n;
}

}  // namespace

TEST(FetchModels, CopiesAVerifiedModelAndRefusesAWrongOne) {
    ScopedTempDir from, dest;
    fs::copy_file(qltest::test_detector_model(), from / "face_detection_yunet_2023mar.onnx");
    auto r = fetch({"--from", from.path().string(), "--dest", dest.path().string()});
    // The recogniser is not in `from`: the run says so and fails, but the
    // detector that checked out is installed.
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("face_recognition_sface_2021dec.onnx: not found"), std::string::npos);
    EXPECT_NE(r.err.find("Model files missing in"), std::string::npos);
    EXPECT_EQ(qlcore::file_status(dest / "face_detection_yunet_2023mar.onnx").size, 232589u);
    EXPECT_EQ(entries(dest.path()), 1);

    ScopedTempDir bad, dest2;
    std::ofstream(bad / "face_detection_yunet_2023mar.onnx") << "not the model";
    auto b = fetch({"--from", bad.path().string(), "--dest", dest2.path().string()});
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(b.err.find("refused, checksum mismatch"), std::string::npos) << b.err;
    EXPECT_EQ(entries(dest2.path()), 0) << "a refused file must never be installed";
}

TEST(FetchModels, UnknownArgumentIsAUsageError) {
    EXPECT_EQ(fetch({"--bogus"}).status, 2);
}
