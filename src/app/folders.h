// The folders of this installation and this user, resolved once at start-up.
// Only the command layer knows them; it hands paths down as arguments.
#pragma once

#include <filesystem>

namespace qlcore {

struct Folders {
    std::filesystem::path app_dir;     // APP_DIR: folder of the real program file
    std::filesystem::path home_dir;    // HOME_DIR: QUILLET_HOME, else ~/Quillet
    std::filesystem::path people_dir;  // PEOPLE_DIR
    std::filesystem::path model_dir;   // MODEL_DIR
    std::filesystem::path det_model;   // DET_MODEL
    std::filesystem::path rec_model;   // REC_MODEL
};

// Resolves the folders from the running program and the environment.
Folders resolve_folders();

// The folders of this process, resolved on first use.
const Folders& folders();

}  // namespace qlcore
