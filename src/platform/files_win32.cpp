#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/files.h"
#include "platform/win32.h"

namespace qlcore {
namespace {

// 100-nanosecond ticks between 1601-01-01 and 1970-01-01.
constexpr long long EPOCH_TICKS = 116444736000000000LL;

// Paths this long may reach MAX_PATH once a name is added (CreateDirectory's
// own limit is MAX_PATH - 12).
constexpr size_t LONG_PATH = MAX_PATH - 12;

WIN32_FILE_ATTRIBUTE_DATA _attributes(const fs::path& p) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(os_path(p).c_str(), GetFileExInfoStandard, &data))
        throw fs::filesystem_error(
            "cannot read the status of the file", p,
            std::error_code(static_cast<int>(::GetLastError()), std::system_category()));
    return data;
}

long long _ticks(const FILETIME& t) {
    ULARGE_INTEGER u;
    u.LowPart = t.dwLowDateTime;
    u.HighPart = t.dwHighDateTime;
    return static_cast<long long>(u.QuadPart) - EPOCH_TICKS;
}

std::string _last_error() {
    return windows_error_text(::GetLastError());
}

std::optional<std::wstring> _env(const wchar_t* name) {
    const DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::wstring();
    }
    std::wstring value(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(name, value.data(), n);
    value.resize(got);
    return value;
}

}  // namespace

fs::path os_path(const fs::path& p) {
    const std::wstring& wide = p.native();
    if (wide.size() < LONG_PATH) return p;
    // Made absolute first: the system resolves a relative path against the
    // current folder only in its ordinary form.
    std::error_code ec;
    const fs::path full = p.is_absolute() ? p : fs::absolute(p, ec);
    return ec ? p : fs::path(extended_length_path(full.native()));
}

std::vector<FolderEntry> folder_entries(const fs::path& dir) {
    std::vector<FolderEntry> out;
    WIN32_FIND_DATAW found;
    const std::wstring pattern = os_path(dir).native() + L"\\*";
    HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link: what it leads to decides.
            const DWORD attrs = ::GetFileAttributesW(os_path(dir / name).c_str());
            folder = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
        }
        out.push_back({narrow(name), folder});
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return out;
}

FileStatus file_status(const fs::path& p) {
    const WIN32_FILE_ATTRIBUTE_DATA d = _attributes(p);
    const long long ticks = _ticks(d.ftLastWriteTime);
    // Whole seconds, the fraction dropped toward minus infinity as on POSIX.
    const long long secs = ticks >= 0 ? ticks / 10000000 : -((-ticks + 9999999) / 10000000);
    return {secs, (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow};
}

double mtime_precise(const fs::path& p) {
    return static_cast<double>(_ticks(_attributes(p).ftLastWriteTime)) / 1e7;
}

void write_file_atomic(const fs::path& p, const std::string& data) {
    const fs::path tmp = sibling_temp_path(p, ".part");
    // CREATE_NEW: never write into a file someone else is writing.
    HANDLE h = ::CreateFileW(os_path(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot write " + u8string(p) + ": " + _last_error());
    ScopedRemove guard(tmp);
    size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        DWORD w = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        ok = ::WriteFile(h, data.data() + done, want, &w, nullptr) && w > 0;
        done += w;
    }
    // Flushed so a power cut after the rename cannot leave an empty file.
    if (ok) ok = ::FlushFileBuffers(h);
    std::string why = ok ? "" : _last_error();
    if (!::CloseHandle(h) && ok) {
        ok = false;
        why = _last_error();
    }
    if (!ok) throw std::runtime_error("cannot write " + u8string(p) + ": " + why);
    if (const Replaced r = replace_file(tmp, p); !r.ok)
        throw std::runtime_error("cannot write " + u8string(p) + ": " +
                                 (r.in_use ? "it is open in another program" : r.reason));
    guard.release();
}

Replaced replace_file(const fs::path& from, const fs::path& to, double patience_seconds) {
    const ULONGLONG give_up = ::GetTickCount64() + static_cast<ULONGLONG>(patience_seconds * 1000);
    DWORD pause = 50;
    const fs::path source = os_path(from), target = os_path(to);
    for (;;) {
        if (::MoveFileExW(source.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return {true, false, ""};
        const DWORD error = ::GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (error == ERROR_ACCESS_DENIED) {
            // Also what a read-only file or a folder gives, which no wait mends.
            const DWORD attrs = ::GetFileAttributesW(target.c_str());
            held = attrs == INVALID_FILE_ATTRIBUTES ||
                   !(attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
        }
        if (!held || ::GetTickCount64() >= give_up) return {false, held, windows_error_text(error)};
        ::Sleep(pause);
        pause = std::min<DWORD>(pause * 2, 500);
    }
}

namespace {

std::wstring _short_form(const std::wstring& wide) {
    const DWORD n = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return wide;
    std::wstring shortened(n, L'\0');
    const DWORD got = ::GetShortPathNameW(wide.c_str(), shortened.data(), n);
    if (got == 0 || got >= n) return wide;
    shortened.resize(got);
    return shortened;
}

bool _ascii(const std::wstring& s) {
    for (wchar_t c : s)
        if (c > 0x7f) return false;
    return true;
}

}  // namespace

std::string narrow_path(const fs::path& p) {
    std::wstring wide = p.wstring();
    // Only a name outside ASCII is shortened, and only its folder where the
    // file's own name is ASCII: libraries tell formats by the extension,
    // which a short name cuts to three letters.
    if (!_ascii(wide)) {
        const std::wstring file = p.filename().wstring();
        wide = _ascii(file) && p.has_parent_path()
                   ? (fs::path(_short_form(p.parent_path().wstring())) / file).wstring()
                   : _short_form(wide);
    }
    // In the ANSI code page, which is what narrow file functions decode.
    return narrow(wide, CP_ACP);
}

NarrowName::NarrowName(const fs::path& p) {
    const std::wstring file = p.filename().wstring();
    if (_ascii(p.wstring()) || !_ascii(file) || !p.has_parent_path()) {
        name_ = narrow_path(p);
        return;
    }
    std::wstring here(32768, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(here.size()), here.data());
    if (n == 0 || n >= here.size() || !::SetCurrentDirectoryW(p.parent_path().wstring().c_str())) {
        name_ = narrow_path(p);
        return;
    }
    here.resize(n);
    restore_ = fs::path(here);
    name_ = narrow(file, CP_ACP);
}

NarrowName::~NarrowName() {
    if (!restore_.empty()) ::SetCurrentDirectoryW(restore_.wstring().c_str());
}

std::string system_text_to_utf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int len = static_cast<int>(bytes.size());
    const int n =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), len, nullptr, 0);
    if (n > 0) {
        std::wstring wide(static_cast<size_t>(n), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, wide.data(), n);
        return narrow(wide);
    }
    // Character by character, so only what the code page cannot read
    // becomes U+FFFD, and the one name holding it fails on its own.
    std::wstring wide;
    for (size_t i = 0; i < bytes.size();) {
        const size_t one =
            ::IsDBCSLeadByte(static_cast<BYTE>(bytes[i])) && i + 1 < bytes.size() ? 2 : 1;
        wchar_t w[2];
        const int got = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data() + i,
                                              static_cast<int>(one), w, 2);
        if (got > 0)
            wide.append(w, static_cast<size_t>(got));
        else
            wide.push_back(L'\xFFFD');
        i += one;
    }
    return narrow(wide);
}

std::optional<fs::path> find_on_path(const std::string& name) {
    const std::optional<std::wstring> path = _env(L"PATH");
    if (!path) return std::nullopt;
    const std::string pathext = narrow(_env(L"PATHEXT").value_or(L""));
    for (const fs::path& cand : program_candidates(name, narrow(*path), pathext, this_platform())) {
        const DWORD attrs = ::GetFileAttributesW(os_path(cand).c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return cand;
    }
    return std::nullopt;
}

fs::path self_exe_path() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(buf), ec);
    return ec ? fs::path(buf) : p;
}

fs::path user_home() {
    if (auto profile = _env(L"USERPROFILE"); profile && !profile->empty())
        return fs::path(*profile);
    auto drive = _env(L"HOMEDRIVE"), home = _env(L"HOMEPATH");
    if (drive && home && !home->empty()) return fs::path(*drive + *home);
    return ".";
}

std::optional<std::string> get_env(const char* name) {
    auto v = _env(widen(name).c_str());
    if (!v) return std::nullopt;
    return narrow(*v);
}

}  // namespace qlcore
