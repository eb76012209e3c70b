// A person folder's ".embeddings.json": any text gives an object, and only
// unit-length rows of 128 numbers are ever trusted.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "faces/people.h"

using namespace qlcore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    json cache = parse_embedding_cache(std::string(reinterpret_cast<const char*>(data), size));
    if (!cache.is_object()) std::abort();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        auto row = cached_embedding(it.value());
        if (!row) continue;
        if (row->rows != 1 || row->cols != 128 || row->type() != CV_32F) std::abort();
        if (std::fabs(cv::norm(*row) - 1.0) > 1e-2) std::abort();
    }
    return 0;
}
