#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/files.h"
#include "platform/unique_fd_posix.h"

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace qlcore {
namespace {

// The modification time of a stat result; the field has another name on macOS.
const struct timespec& _mtime_of(const struct stat& st) {
#if defined(__APPLE__)
    return st.st_mtimespec;
#else
    return st.st_mtim;
#endif
}

}  // namespace

std::vector<FolderEntry> folder_entries(const fs::path& dir) {
    std::vector<FolderEntry> out;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code kind;
        out.push_back({u8string(it->path().filename()), it->is_directory(kind)});
    }
    return out;
}

FileStatus file_status(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        throw fs::filesystem_error("cannot read the status of the file", p,
                                   std::error_code(errno, std::generic_category()));
    return {static_cast<int64_t>(_mtime_of(st).tv_sec), static_cast<uint64_t>(st.st_size)};
}

double mtime_precise(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        throw fs::filesystem_error("cannot read the status of the file", p,
                                   std::error_code(errno, std::generic_category()));
    const struct timespec& t = _mtime_of(st);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

void write_file_atomic(const fs::path& p, const std::string& data) {
    fs::path tmp = sibling_temp_path(p, ".part");
    // O_EXCL: never write into a file someone else is writing.
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw std::runtime_error("cannot write " + p.string() + ": " + std::strerror(errno));
    ScopedRemove guard(tmp);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t w = ::write(fd.get(), data.data() + done, data.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            int e = errno;
            throw std::runtime_error("cannot write " + p.string() + ": " + std::strerror(e));
        }
        done += static_cast<size_t>(w);
    }
    // fsync so a power cut after the rename cannot leave an empty file.
    // A failed fsync leaves the descriptor to its owner, which closes it.
    if (::fsync(fd.get()) != 0 || fd.reset() != 0)
        throw std::runtime_error("cannot write " + p.string() + ": " + std::strerror(errno));
    if (const Replaced r = replace_file(tmp, p); !r.ok)
        throw std::runtime_error("cannot write " + p.string() + ": " + r.reason);
    guard.release();
}

Replaced replace_file(const fs::path& from, const fs::path& to, double) {
    // Nothing here holds a file against a rename: one try says it all.
    if (::rename(from.c_str(), to.c_str()) == 0) return {true, false, ""};
    return {false, false, std::strerror(errno)};
}

fs::path os_path(const fs::path& p) {
    return p;
}

std::string system_text_to_utf8(std::string_view bytes) {
    return std::string(bytes);
}

std::string narrow_path(const fs::path& p) {
    return p.string();
}

NarrowName::NarrowName(const fs::path& p) : name_(narrow_path(p)) {}
NarrowName::~NarrowName() = default;

std::optional<fs::path> find_on_path(const std::string& name) {
    const char* env = std::getenv("PATH");
    if (!env) return std::nullopt;
    for (const fs::path& cand : program_candidates(name, env, "", this_platform())) {
        struct stat st {};
        if (::stat(cand.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(cand.c_str(), X_OK) == 0)
            return cand;
    }
    return std::nullopt;
}

fs::path self_exe_path() {
    std::error_code ec;
#if defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);  // asks for the size it needs
    std::string buf(size, '\0');
    if (_NSGetExecutablePath(buf.data(), &size) != 0) return {};
    fs::path p = fs::canonical(fs::path(buf.c_str()), ec);
    if (!ec) return p;
#else
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return fs::weakly_canonical(p);
#endif
    return {};
}

fs::path user_home() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
}

std::optional<std::string> get_env(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

}  // namespace qlcore
