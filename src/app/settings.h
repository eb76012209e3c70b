// Program-wide settings: platform flags, folders, tuning constants.
#pragma once

#include <array>
#include <filesystem>
#include <string>

namespace qlcore {

// Platform flags are fixed per build; nothing is probed at run time.
#if defined(_WIN32)
inline constexpr bool WINDOWS = true;
#else
inline constexpr bool WINDOWS = false;
#endif
#if defined(__APPLE__)
inline constexpr bool MACOS = true;
#else
inline constexpr bool MACOS = false;
#endif

// Tuning constants. Doubles are stored exactly as written (0.363, not 0.36).
inline constexpr double DET_SCORE = 0.42;
inline constexpr double WEAK_SCORE = 0.6;
inline constexpr int WEAK_MIN_FRAMES = 5;
inline constexpr int MIN_REC_SIZE = 36;
inline constexpr double REVIEW_BAND = 0.07;
inline constexpr int MAX_GAP = 20;
inline constexpr int PAD_START = 6;
inline constexpr int PAD_END = 10;
inline constexpr int REC_BUDGET = 12;
inline constexpr int REC_EVERY = 6;
inline constexpr double BOX_SCALE_W = 1.45;
inline constexpr double BOX_SCALE_H = 1.65;
inline constexpr double BOX_SHIFT_UP = 0.1;
inline constexpr int BLOCKS_ACROSS = 6;
inline constexpr int SMOOTH = 2;
inline constexpr double FLASH_SCORE = 0.85;
inline constexpr double VERIFY_MIN_FRAC = 0.03;
inline constexpr double VERIFY_SKIP = 0.89;
inline constexpr double VERIFY_PASS = 0.62;
inline constexpr int VERIFY_BUDGET = 6;
inline constexpr std::array<int, 3> VERIFY_SIZES = {48, 80, 140};
inline constexpr double LOOKALIKE_MIN_FRAC = 0.06;
inline constexpr int LOOKALIKE_SHORT = 3;
inline constexpr int ENGINE_VERSION = 5;
inline constexpr int ANALYSIS_VERSION = 5;
inline constexpr std::array<const char*, 13> STANDARD_RATES = {
    "24000/1001", "24/1", "25/1",  "30000/1001",  "30/1",  "48/1", "50/1",
    "60000/1001", "60/1", "100/1", "120000/1001", "120/1", "240/1"};

// The three values a job may replace. They travel as a value through the calls
// that read them, so a run (or a test) changes them without touching globals.
inline constexpr double DEFAULT_KEEP_THRESHOLD = 0.363;
inline constexpr int DEFAULT_DET_MAX_SIDE = 1920;
inline constexpr int DEFAULT_DET_EVERY = 1;

struct Tuning {
    double keep_threshold = DEFAULT_KEEP_THRESHOLD;  // KEEP_THRESHOLD
    int det_max_side = DEFAULT_DET_MAX_SIDE;         // DET_MAX_SIDE
    int det_every = DEFAULT_DET_EVERY;               // DET_EVERY
};

// Folders and model files, resolved once at start-up.
struct Folders {
    std::filesystem::path app_dir;     // APP_DIR: folder of the real program file
    std::filesystem::path home_dir;    // HOME_DIR: QUILLET_HOME, else ~/Quillet
    std::filesystem::path people_dir;  // PEOPLE_DIR
    std::filesystem::path model_dir;   // MODEL_DIR
    std::filesystem::path det_model;   // DET_MODEL
    std::filesystem::path rec_model;   // REC_MODEL
};

inline constexpr const char* DET_MODEL_NAME = "face_detection_yunet_2023mar.onnx";
inline constexpr const char* REC_MODEL_NAME = "face_recognition_sface_2021dec.onnx";
inline constexpr std::array<const char*, 7> IMAGE_EXT = {".bmp", ".heic", ".heif", ".jpeg",
                                                         ".jpg", ".png",  ".webp"};

// Resolves the folders from the running program and the environment.
Folders resolve_folders();

// The folders of this process, resolved on first use.
const Folders& folders();

// True when `ext` (with the dot, any case) is a photo extension.
bool is_image_ext(const std::string& ext);

}  // namespace qlcore
