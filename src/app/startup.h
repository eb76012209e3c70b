// What happens before any command runs.
#pragma once

#include "platform/system.h"  // KEEP_AWAKE_FLAGS

namespace qlcore {

// Sets OPENCV_LOG_LEVEL to "ERROR" when unset (an empty value is left
// alone) and makes the already-loaded library follow it.
void init_environment();

// Switches stdout and stderr to UTF-8 with replacement; a no-op where the
// console already takes UTF-8 bytes as they are.
void utf8_console();

// Keeps the computer awake during a batch (Windows only).
void keep_awake();

}  // namespace qlcore
