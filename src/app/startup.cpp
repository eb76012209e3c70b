#include "app/startup.h"

#include <opencv2/core/utils/logger.hpp>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace qlcore {

void init_environment() {
    if (!get_env("OPENCV_LOG_LEVEL")) {
        set_env_default("OPENCV_LOG_LEVEL", "ERROR");
        // The library may have read the variable while it was loaded, before
        // main; tell it directly as well.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    }
}

void utf8_console() {
    console_utf8();
}

void keep_awake() {
    if (!WINDOWS) return;
    keep_system_awake();
}

}  // namespace qlcore
