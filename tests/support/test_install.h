// A test installation: a copy of the built program with a "models" folder
// beside it holding the real face detector and a stand-in recogniser under
// the real recogniser's file name. End-to-end tests that need the models run
// the program from here:
//
//     auto r = qltest::run_qlcore({"people"}, env, std::nullopt,
//                                 qltest::test_install_program());
//
// The stand-in tells one photo from another but knows nothing of identity, so
// a test that needs "this is the kept person" uses crops of the enrolled photo
// itself. It is never placed where the product looks for its models.
#pragma once

#include <filesystem>

namespace qltest {

namespace fs = std::filesystem;

// The real YuNet detector: from shared_dir()/models, else from the "models"
// folder next to the built program (scripts/fetch-models puts it there).
// Throws std::runtime_error saying what is missing when neither has it.
fs::path test_detector_model();

// The folder of the test installation, built on first use and shared by
// concurrent test processes; rebuilt when the program has changed.
fs::path test_install_dir();

// The program of the test installation.
fs::path test_install_program();

// The stand-in recogniser inside the test installation.
fs::path stand_in_recognizer();

}  // namespace qltest
