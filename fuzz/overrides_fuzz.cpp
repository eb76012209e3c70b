// The user's overrides file: any text gives {} or "keep" and "hide" lists of
// ascending frames followed by box marks, and marks at any frame are applied
// without harm.
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
    const Overrides read =
        parse_overrides_text(std::string(reinterpret_cast<const char*>(data), size));
    const json& ov = read.marks;
    if (!ov.is_object() || ov.size() > 2) std::abort();
    if (!read.problem.empty() && ov.contains("keep")) std::abort();
    for (const char* key : {"keep", "hide"}) {
        if (!ov.contains(key)) continue;
        const json& marks = ov[key];
        if (!marks.is_array() || marks.empty()) std::abort();
        for (size_t i = 0; i < marks.size(); ++i) {
            if (marks[i].is_object()) {
                const json& box = marks[i]["box"];
                if (!marks[i]["frame"].is_number_integer() || box.size() != 4 ||
                    !(box[2].get<double>() > 0) || !(box[3].get<double>() > 0))
                    std::abort();
            } else if (!marks[i].is_number_integer() ||
                       (i > 0 && (!marks[i - 1].is_number_integer() || marks[i - 1] >= marks[i]))) {
                std::abort();
            }
        }
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
    apply_hides(live, ov);
    return 0;
}
