// File system helpers: status, atomic replacement, program search.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qlcore {

namespace fs = std::filesystem;

struct FileStatus {
    int64_t mtime = 0;  // whole seconds since the epoch, fraction dropped
    uint64_t size = 0;  // bytes
};

// Status of an existing file; throws std::filesystem::filesystem_error.
FileStatus file_status(const fs::path& p);

// Modification time in seconds with its fraction, for "newer than" tests.
double mtime_precise(const fs::path& p);

// Whole file as bytes; throws std::runtime_error when it cannot be read.
std::string read_file(const fs::path& p);

// Writes `data` to a temporary file beside `p` and renames it onto `p`, so a
// reader sees the old file or the new one, never half of one. Throws
// std::runtime_error with the reason on failure; the temporary is removed.
void write_file_atomic(const fs::path& p, const std::string& data);

// A path in `p`'s folder for work in progress: `p` with `suffix` appended
// before a unique tag. Used by atomic writes.
fs::path sibling_temp_path(const fs::path& p, const std::string& suffix);

// Removes the file at the path when the owner goes away, unless released.
class ScopedRemove {
  public:
    explicit ScopedRemove(fs::path p) : path_(std::move(p)) {}
    ~ScopedRemove();
    ScopedRemove(const ScopedRemove&) = delete;
    ScopedRemove& operator=(const ScopedRemove&) = delete;
    const fs::path& path() const { return path_; }
    void release() { path_.clear(); }

  private:
    fs::path path_;
};

// First executable file named `name` along PATH (the OS's own search).
std::optional<fs::path> find_on_path(const std::string& name);

// The running program's file, absolute with symbolic links resolved.
fs::path self_exe_path();

// The user's home folder.
fs::path user_home();

// The environment variable's value, or nothing when unset.
std::optional<std::string> get_env(const char* name);

}  // namespace qlcore
