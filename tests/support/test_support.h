// Shared test helpers: temporary folders, generated clips, running the
// built program.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/subprocess.h"

namespace qltest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its
// contents when the owner goes away.
class ScopedTempDir {
  public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// The shared folder with models and photos (QLCORE_SHARED overrides).
fs::path shared_dir();
fs::path shared_photo(const std::string& name);  // a file in testdata/faces
fs::path source_dir();                           // the repository
fs::path qlcore_program();                       // the built program

// A clip generated with ffmpeg's lavfi sources.
struct ClipSpec {
    int width = 320;
    int height = 240;
    std::string rate = "25";
    int frames = 10;
    std::string pix_fmt = "yuv420p";
    std::string codec = "libx264";  // "-c:v" value
    bool audio = false;
    std::string timecode;             // e.g. "01:00:00:00"; empty: none
    std::string source = "testsrc2";  // lavfi video source name
    std::vector<std::string> extra;   // more output options before the path
};

// Writes the clip to `out` (its extension picks the container) and returns
// the path; fails the calling test with ffmpeg's message when it cannot.
fs::path make_clip(const fs::path& out, const ClipSpec& spec = {});

// A clip showing a still picture (a photo file) for `frames` frames.
fs::path make_still_clip(const fs::path& out, const fs::path& picture, int frames,
                         const std::string& rate = "25", const std::string& size = "");

// Runs a program with extra environment entries ("NAME=value"; "NAME=" to
// set empty, "-NAME" to unset) in `cwd`, capturing its output.
qlcore::RunResult run_program(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env = {},
                              const std::optional<fs::path>& cwd = std::nullopt);

// Runs the built qlcore with a private QUILLET_HOME unless env sets one.
qlcore::RunResult run_qlcore(const std::vector<std::string>& args,
                             const std::vector<std::string>& env = {},
                             const std::optional<fs::path>& cwd = std::nullopt,
                             const std::optional<fs::path>& program = std::nullopt);

// Number of frames ffprobe counts in the first video stream.
int count_frames(const fs::path& clip);

// The names of the entries of `dir`, sorted.
std::vector<std::string> names_in(const fs::path& dir);

// ffprobe's JSON report of a file (streams and format).
std::string probe_json(const fs::path& clip);

// Overwrites the last video packet's data (not its length field): the
// decoder complains and drops that frame while the container still counts
// it, as with a camera file that overstates its count.
void spoil_last_frame(const fs::path& clip);

}  // namespace qltest
