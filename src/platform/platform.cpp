#include "platform/platform.h"

#include "platform/system.h"

namespace qlcore {

Platform this_platform() {
    Platform p;
    p.macos = MACOS;
    p.windows = WINDOWS;
    if (p.macos) p.machine = machine_name();
    return p;
}

}  // namespace qlcore
