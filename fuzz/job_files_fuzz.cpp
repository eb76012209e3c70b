// Job folder files as a Windows or hostile script might write them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    qlcore::RunPlan plan;
    for (const auto& line : qlcore::split_lines(text))
        qlcore::apply_option_line(plan, line);
    (void)qlcore::trimmed_lines(text);
    return 0;
}
