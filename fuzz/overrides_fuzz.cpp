// The user's overrides file: any text gives {} or {"keep": [ascending frames]},
// and marks at any frame are applied without harm.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "clip/earlier_report.h"
#include "clip/marks.h"
#include "clip/overrides.h"
#include "clip/report.h"

using namespace qlcore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    json ov = parse_overrides(std::string(reinterpret_cast<const char*>(data), size));
    if (!ov.is_object() || ov.size() > 1) std::abort();
    if (ov.contains("keep")) {
        const json& keep = ov["keep"];
        if (!keep.is_array() || keep.empty()) std::abort();
        for (size_t i = 0; i < keep.size(); ++i)
            if (!keep[i].is_number_integer() || (i > 0 && keep[i - 1] >= keep[i])) std::abort();
    }
    std::vector<JudgedTrack> live(2);
    live[0].id = 0;
    live[0].path.start = 0;
    live[0].path.end = 1;
    live[0].path.entries = {{0, {10, 10, 40, 40}}, {1, {12, 10, 40, 40}}};
    live[1].id = 1;
    live[1].path.start = 1;
    live[1].path.end = 1;
    live[1].path.entries = {{1, {100, 10, 60, 60}}};
    apply_marks(live, ov);
    return 0;
}
