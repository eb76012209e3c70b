#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/system.h"

namespace qlcore {
namespace {

std::vector<std::string> _split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string _lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

fs::path u8path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string u8string(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string platform_text(std::string_view lf_text, const Platform& platform) {
    if (!platform.windows) return std::string(lf_text);
    std::string out;
    out.reserve(lf_text.size() + lf_text.size() / 16);
    for (char c : lf_text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

void write_text_file_atomic(const fs::path& p, std::string_view lf_text) {
    write_file_atomic(p, platform_text(lf_text));
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + u8string(p));
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + u8string(p));
    return ss.str();
}

fs::path sibling_temp_path(const fs::path& p, const std::string& suffix) {
    // Writers on other machines may share the folder and the process id, so
    // the tag also holds a random part drawn once per process.
    static const uint64_t salt = [] {
        std::random_device rd;
        return (static_cast<uint64_t>(rd()) << 32) ^ rd();
    }();
    static std::atomic<unsigned> counter{0};
    char tag[40];
    std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(salt));
    fs::path dir = p.parent_path();
    // Appended, not "." + name: g++ 12 at -O3 warns falsely (-Wrestrict) on that.
    std::string name(1, '.');
    name += u8string(p.filename());
    name +=
        suffix + "." + std::to_string(process_id()) + "-" + tag + "-" + std::to_string(counter++);
    return dir.empty() ? u8path(name) : dir / u8path(name);
}

ScopedRemove::~ScopedRemove() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove(path_, ec);
}

std::vector<fs::path> program_candidates(const std::string& name, const std::string& path_list,
                                         const std::string& pathext, const Platform& platform) {
    std::vector<fs::path> out;
    if (path_list.empty()) return out;
    if (!platform.windows) {
        for (std::string dir : _split(path_list, ':')) {
            if (dir.empty()) dir.push_back('.');  // not = ".": a false -Wrestrict at -O3
            out.push_back(u8path(dir) / u8path(name));
        }
        return out;
    }
    // Extensions in lower case: the file system ignores case, and names
    // read better so.
    std::vector<std::string> exts;
    for (const std::string& e : _split(pathext.empty() ? ".COM;.EXE;.BAT;.CMD" : pathext, ';'))
        if (!e.empty()) exts.push_back(_lower(e));
    const size_t dot = name.rfind('.');
    const bool has_ext =
        dot != std::string::npos &&
        std::find(exts.begin(), exts.end(), _lower(name.substr(dot))) != exts.end();
    for (std::string dir : _split(path_list, ';')) {
        dir.erase(std::remove(dir.begin(), dir.end(), '"'), dir.end());
        if (dir.empty()) continue;
        const fs::path folder = u8path(dir);
        if (has_ext) out.push_back(folder / u8path(name));
        for (const std::string& e : exts)
            out.push_back(folder / u8path(name + e));
    }
    return out;
}

}  // namespace qlcore
