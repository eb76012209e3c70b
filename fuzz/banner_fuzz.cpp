// ffmpeg's input banner: any text yields a ClipInfo without failing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    qlcore::ClipInfo info;
    qlcore::parse_banner(text, info);
    return 0;
}
