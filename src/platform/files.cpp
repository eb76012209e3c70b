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

bool valid_utf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // the first continuation byte's range
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;  // overlong
            if (c == 0xED) hi = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;  // overlong
            if (c == 0xF4) hi = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (n - i < len) return false;
        if (s[i + 1] < lo || s[i + 1] > hi) return false;
        for (size_t k = 2; k < len; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
        i += len;
    }
    return true;
}

std::string text_as_utf8(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (valid_utf8(bytes)) return std::string(bytes);
    return system_text_to_utf8(bytes);
}

std::wstring extended_length_path(std::wstring_view path) {
    std::wstring p(path);
    std::replace(p.begin(), p.end(), L'/', L'\\');
    if (p.rfind(L"\\\\?\\", 0) == 0 || p.rfind(L"\\\\.\\", 0) == 0) return std::wstring(path);
    std::wstring root, rest;
    const auto letter = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    };
    if (p.size() >= 3 && letter(p[0]) && p[1] == L':' && p[2] == L'\\') {
        root = L"\\\\?\\" + p.substr(0, 2);
        rest = p.substr(2);
    } else if (p.rfind(L"\\\\", 0) == 0) {
        // \\server\share: both names belong to the root.
        const size_t server_end = p.find(L'\\', 2);
        if (server_end == std::wstring::npos || server_end == 2) return std::wstring(path);
        size_t share_end = p.find(L'\\', server_end + 1);
        if (share_end == std::wstring::npos) share_end = p.size();
        if (share_end == server_end + 1) return std::wstring(path);
        root = L"\\\\?\\UNC\\" + p.substr(2, share_end - 2);
        rest = p.substr(share_end);
    } else {
        return std::wstring(path);
    }
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        std::wstring part = rest.substr(start, end - start);
        start = end + 1;
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
            part.pop_back();
        if (!part.empty()) parts.push_back(std::move(part));
    }
    std::wstring out = root;
    for (const std::wstring& part : parts)
        out += L"\\" + part;
    if (parts.empty()) out += L"\\";
    return out;
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
    std::ifstream in(os_path(p), std::ios::binary);
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
    fs::remove(os_path(path_), ec);
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
    // read better so. Only programs proper: a .bat or .cmd runs through
    // cmd.exe, which parses its arguments again, so a clip named
    // "a&calc.mov" would run a command.
    std::vector<std::string> exts;
    for (const std::string& e : _split(pathext, ';'))
        if (const std::string low = _lower(e); low == ".com" || low == ".exe")
            if (std::find(exts.begin(), exts.end(), low) == exts.end()) exts.push_back(low);
    if (exts.empty()) exts = {".com", ".exe"};
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
