#include "clip/output_paths.h"

#include <fstream>

#include "platform/files.h"

namespace qlcore {
namespace {

fs::path _with_extension(const fs::path& out, const char* ext) {
    fs::path p = out;
    p.replace_extension(ext);
    return p;
}

// Creates the folder and proves that a file can be written into it.
bool _writable_folder(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return false;
    // Private to this process: clips processed at once on several machines
    // often share their output folder.
    fs::path probe = sibling_temp_path(dir / ".write-test", "");
    {
        std::ofstream f(probe, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f << "x";
        f.close();
        if (!f) {
            fs::remove(probe, ec);
            return false;
        }
    }
    return fs::remove(probe, ec) && !ec;
}

}  // namespace

fs::path report_path(const fs::path& out) {
    return _with_extension(out, ".json");
}
fs::path overrides_path(const fs::path& out) {
    return _with_extension(out, ".overrides.json");
}
fs::path analysis_path(const fs::path& out) {
    return _with_extension(out, ".analysis.json");
}

fs::path output_path(const fs::path& src, const std::optional<fs::path>& out_dir,
                     const fs::path& home_dir) {
    fs::path dir;
    if (out_dir) {
        dir = out_dir->empty() ? fs::path(".") : *out_dir;
    } else {
        dir = src.parent_path() / "Quillet";
        // Read-only cards and folders without rights fall back to the home folder.
        if (!_writable_folder(dir)) dir = home_dir / "output";
    }
    fs::create_directories(dir);
    return dir / u8path(u8string(src.stem()) + "_mosaic.mov");
}

}  // namespace qlcore
