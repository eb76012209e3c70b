// ffprobe's JSON report: any text must either fill a ClipInfo or throw.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "media/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    qlcore::ClipInfo info;
    try {
        qlcore::parse_probe_json(text, info);
    } catch (const std::exception&) {
    }
    return 0;
}
