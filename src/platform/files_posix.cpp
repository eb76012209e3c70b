#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/unique_fd.h"

namespace qlcore {

FileStatus file_status(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        throw fs::filesystem_error("cannot read the status of the file", p,
                                   std::error_code(errno, std::generic_category()));
    return {static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<uint64_t>(st.st_size)};
}

double mtime_precise(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        throw fs::filesystem_error("cannot read the status of the file", p,
                                   std::error_code(errno, std::generic_category()));
    return static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + p.string());
    return ss.str();
}

fs::path sibling_temp_path(const fs::path& p, const std::string& suffix) {
    static std::atomic<unsigned> counter{0};
    fs::path dir = p.parent_path();
    std::string name = "." + p.filename().string() + suffix + "." + std::to_string(::getpid()) +
                       "-" + std::to_string(counter++);
    return dir.empty() ? fs::path(name) : dir / name;
}

void write_file_atomic(const fs::path& p, const std::string& data) {
    fs::path tmp = sibling_temp_path(p, ".part");
    ScopedRemove guard(tmp);
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw std::runtime_error("cannot write " + p.string() + ": " + std::strerror(errno));
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
    if (::rename(tmp.c_str(), p.c_str()) != 0)
        throw std::runtime_error("cannot write " + p.string() + ": " + std::strerror(errno));
    guard.release();
}

ScopedRemove::~ScopedRemove() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove(path_, ec);
}

std::optional<fs::path> find_on_path(const std::string& name) {
    const char* env = std::getenv("PATH");
    if (!env) return std::nullopt;
    std::string all(env);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string dir = all.substr(start, end - start);
        if (dir.empty()) dir = ".";
        fs::path cand = fs::path(dir) / name;
        struct stat st {};
        if (::stat(cand.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(cand.c_str(), X_OK) == 0)
            return cand;
        start = end + 1;
    }
    return std::nullopt;
}

fs::path self_exe_path() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return fs::weakly_canonical(p);
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
