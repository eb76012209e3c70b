#include "app/startup.h"

#include <cstdlib>
#include <opencv2/core/utils/logger.hpp>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace qlcore {

void init_environment() {
    if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
#if defined(_WIN32)
        _putenv_s("OPENCV_LOG_LEVEL", "ERROR");
#else
        setenv("OPENCV_LOG_LEVEL", "ERROR", 0);
#endif
        // The library may have read the variable while it was loaded, before
        // main; tell it directly as well.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    }
}

void utf8_console() {
#if defined(_WIN32)
    SetConsoleOutputCP(CP_UTF8);
#endif
    // POSIX consoles take the program's UTF-8 bytes unchanged.
}

void keep_awake() {
    if (!WINDOWS) return;
#if defined(_WIN32)
    SetThreadExecutionState(static_cast<EXECUTION_STATE>(KEEP_AWAKE_FLAGS));
#endif
}

}  // namespace qlcore
