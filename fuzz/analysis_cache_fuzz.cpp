// The analysis cache as a damaged or hostile file might hold it, and what the
// clip processor then does with the tracks it accepts.
#include <cstddef>
#include <cstdint>

#include "clip/analysis_cache.h"
#include "fuzz_files.h"
#include "mosaic/mosaic.h"
#include "tracking/box_path.h"
#include "tracking/verdicts.h"

using namespace qlcore;

namespace {

// The key of the seed corpus's files, so inputs get past the key check.
const json& _key() {
    static const json key =
        json::parse(R"({"v":5,"size":1234,"mtime":1700000000,"names":["ann","bob"],)"
                    R"("gallery":[3,1.5],"det":[0.42,1920,1]})");
    return key;
}

// Box paths cost memory per frame of a track's span; a real clip's search
// bounds that, a fuzzed number does not.
constexpr int64_t MAX_SPAN = 100000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = qlfuzz::scratch() / "clip_mosaic.analysis.json";
    qlfuzz::write_bytes(path, data, size);
    auto loaded = load_analysis(path, _key());
    if (!loaded) return 0;
    const SearchResult* result = &loaded->search;
    const std::vector<std::string> names{"ann", "bob"};
    for (const Track& t : result->tracks) {
        (void)ignored(t, 1920.0);
        (void)decide(t, names, 0.363);
        if (t.frames.empty() || t.frames.back() - t.frames.front() > MAX_SPAN) continue;
        BoxPath p = track_boxes(t, std::min<int64_t>(result->n_frames, t.frames.back() + 50));
        for (const auto& [frame, box] : p.entries)
            (void)mosaic_rect(box, 1920, 1080);
    }
    return 0;
}
