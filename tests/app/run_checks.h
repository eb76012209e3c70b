// Checks shared by the end-to-end runs of bad input and interruption.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_install.h"
#include "support/test_support.h"

namespace qlchecks {

namespace fs = std::filesystem;

inline std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_text(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// Work in progress the program names while it writes: the render's video
// and mux files, atomic writes' parts, the output folder's write test.
inline std::vector<fs::path> leftovers(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const char* mark : {".video-tmp.", ".mux-tmp.", ".part.", ".write-test"})
            if (name.find(mark) != std::string::npos) found.push_back(it->path());
    }
    return found;
}

// Files named `name` anywhere under `dir`.
inline std::vector<fs::path> find_named(const fs::path& dir, const std::string& name) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->path().filename() == name) found.push_back(it->path());
    return found;
}

// The text after "✗ failed: " on the first such line after the clip's
// "▶ name" header, or "" when that clip did not fail.
inline std::string failure_of(const std::string& out, const std::string& name) {
    size_t at = out.find("▶ " + name + "\n");
    if (at == std::string::npos) return "";
    size_t next = out.find("\n[", at);
    size_t fail = out.find("✗ failed: ", at);
    if (fail == std::string::npos || (next != std::string::npos && fail > next)) return "";
    fail += std::string("✗ failed: ").size();
    return out.substr(fail, out.find('\n', fail) - fail);
}

// Runs the test installation's program with a private home. As root, file
// permissions only count without the capabilities that override them, so
// the program runs without those.
inline qlcore::RunResult run_in(const fs::path& home, const std::vector<std::string>& args,
                                const std::optional<fs::path>& cwd = std::nullopt) {
    std::vector<std::string> argv;
    if (::geteuid() == 0) argv = {"setpriv", "--bounding-set", "-dac_override,-dac_read_search"};
    argv.push_back(qltest::test_install_program().string());
    argv.insert(argv.end(), args.begin(), args.end());
    return qltest::run_program(argv, {"QUILLET_HOME=" + home.string()}, cwd);
}

}  // namespace qlchecks
