// File system helpers: status, atomic replacement, program search.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qlcore {

namespace fs = std::filesystem;

// Every std::string in the program holds UTF-8. These convert at the edge to
// and from paths: on Windows a plain fs::path(std::string) would read the
// bytes in the ANSI code page, and .string() would fail on a name outside it.
fs::path u8path(std::string_view utf8);
std::string u8string(const fs::path& p);

// The path for libraries that open files by a narrow name (OpenCV's model
// and image readers): as it is on POSIX; on Windows its short form, which
// is ASCII where the volume keeps short names.
std::string narrow_path(const fs::path& p);

// A narrow name by which such a library reaches the file `p` while this
// lives. On Windows a folder named outside the ANSI code page may have no
// short form (exFAT, ReFS, Dev Drives, volumes with short names off): the
// folder is then made current through the wide API for the while and the
// file named alone. Elsewhere, and for plain names, it is narrow_path(p).
class NarrowName {
  public:
    explicit NarrowName(const fs::path& p);
    ~NarrowName();
    NarrowName(const NarrowName&) = delete;
    NarrowName& operator=(const NarrowName&) = delete;
    const std::string& str() const { return name_; }

  private:
    std::string name_;
    fs::path restore_;  // the folder that was current, when this changed it
};

// Whether `bytes` is well-formed UTF-8: no overlong forms, surrogates or
// values past U+10FFFF, which the wide conversions refuse.
bool valid_utf8(std::string_view bytes);

// A text file written by another program, as UTF-8: as it is when it is
// valid UTF-8 (a byte-order mark dropped), otherwise read in the system's
// ANSI code page, so files saved by an editor or an older script in the
// user's own code page read as well; what the code page cannot read becomes
// U+FFFD. Elsewhere the system's encoding is UTF-8 and names are bytes, so
// text that is not UTF-8 stays as it is.
std::string text_as_utf8(std::string_view bytes);

// Text in the system's ANSI code page as UTF-8 (unchanged where there is
// none: POSIX).
std::string system_text_to_utf8(std::string_view bytes);

// An absolute Windows path in the form Win32 file calls take past 260
// characters: "\\?\" before a drive path, "\\?\UNC\" in place of a share's
// leading "\\". The system takes such a name literally, so what it would
// otherwise do is done here: "/" becomes "\", empty and "." parts go, ".."
// takes the part before it away, and trailing dots and blanks of a part are
// dropped. Relative paths and names already in a device form come back as
// they are.
std::wstring extended_length_path(std::wstring_view path);

// The path to hand to file calls: on Windows an absolute path long enough
// to meet the old 260-character limit in its extended-length form; else `p`.
fs::path os_path(const fs::path& p);

// Text as the platform's text files hold it: each LF becomes CR LF on
// Windows. Readers of the program's text files take either.
std::string platform_text(std::string_view lf_text, const Platform& platform = this_platform());

struct FileStatus {
    int64_t mtime = 0;  // whole seconds since the epoch, fraction dropped
    uint64_t size = 0;  // bytes
};

// One entry of a folder.
struct FolderEntry {
    std::string name;     // UTF-8
    bool folder = false;  // a folder, or a link to one
};

// The entries of a folder, "." and ".." left out, in no particular order;
// none when it cannot be read. On Windows through the system itself: the C
// runtime lists the current folder instead of one whose path passes 260
// characters.
std::vector<FolderEntry> folder_entries(const fs::path& dir);

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

// How a rename onto a file went.
struct Replaced {
    bool ok = false;
    // Another program holds the target open (Windows: a sharing, lock or
    // access error that outlasted the retries).
    bool in_use = false;
    std::string reason;  // the system's words when not ok
};

// How long a rename onto a file held open is tried again: antivirus, search
// indexing and sync clients hold new files for a moment.
inline constexpr double REPLACE_PATIENCE_SECONDS = 5.0;

// Renames `from` onto `to`, replacing a file there. On Windows a file that
// another program holds open cannot be replaced: the rename is tried again
// for `patience_seconds` before it gives up with in_use.
Replaced replace_file(const fs::path& from, const fs::path& to,
                      double patience_seconds = REPLACE_PATIENCE_SECONDS);

// write_file_atomic of platform_text(lf_text).
void write_text_file_atomic(const fs::path& p, std::string_view lf_text);

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

// The files the system's own program search tries for `name`, in order, given
// the PATH and PATHEXT values: folders apart by ':' (an empty one is the
// current folder); on Windows by ';', with quotes dropped, empty ones
// skipped, and each of PATHEXT's extensions tried that names a program
// proper, .com or .exe, never a script cmd.exe would run (the name as it is
// first when it already ends in one of them).
std::vector<fs::path> program_candidates(const std::string& name, const std::string& path_list,
                                         const std::string& pathext, const Platform& platform);

// First executable file named `name` along PATH (the OS's own search).
std::optional<fs::path> find_on_path(const std::string& name);

// The running program's file, absolute with symbolic links resolved.
fs::path self_exe_path();

// The user's home folder.
fs::path user_home();

// The environment variable's value, or nothing when unset.
std::optional<std::string> get_env(const char* name);

}  // namespace qlcore
