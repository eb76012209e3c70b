#include "support/test_install.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "faces/models.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace qltest {

namespace {

// Holds an exclusive lock on a file for as long as it lives, so only one test
// process at a time builds the installation.
class FileLock {
  public:
    explicit FileLock(const fs::path& p)
        : fd_(::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0) throw std::runtime_error("cannot open lock file " + p.string());
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) throw std::runtime_error("cannot lock " + p.string());
        }
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_;
};

fs::path _build_dir() {
    return QLCORE_BUILD_DIR;
}

std::string _file_stamp(const fs::path& p) {
    return p.string() + " " + std::to_string(fs::file_size(p)) + " " +
           std::to_string(fs::last_write_time(p).time_since_epoch().count());
}

fs::path _generator() {
    return source_dir() / "tests" / "support" / "make_test_recognizer.py";
}

// What the installation is made of; a change to any of it means a rebuild.
std::string _stamp() {
    return _file_stamp(qlcore_program()) + "\n" + _file_stamp(QLCORE_OPENCV_IO_FILE) + "\n" +
           _file_stamp(test_detector_model()) + "\n" + _file_stamp(_generator()) + "\n";
}

std::string _read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void _make_install(const fs::path& dir) {
    fs::create_directories(dir / "models");
    fs::copy_file(qlcore_program(), dir / "qlcore", fs::copy_options::overwrite_existing);
    const fs::path module(QLCORE_OPENCV_IO_FILE);
    fs::copy_file(module, dir / module.filename(), fs::copy_options::overwrite_existing);
    fs::copy_file(test_detector_model(), dir / "models" / qlcore::DET_MODEL_NAME,
                  fs::copy_options::overwrite_existing);
    const fs::path rec = dir / "models" / qlcore::REC_MODEL_NAME;
    auto r = run_program({"/usr/bin/python3", _generator().string(), rec.string()});
    if (r.status != 0 || !fs::exists(rec))
        throw std::runtime_error("could not generate the stand-in recogniser with " +
                                 _generator().string() + ": " + r.err);
}

fs::path _ensure_install() {
    const fs::path root = _build_dir() / "test-install";
    FileLock lock(_build_dir() / "test-install.lock");
    const std::string stamp = _stamp();
    const bool ready =
        fs::exists(root / "qlcore") && fs::exists(root / "models" / qlcore::REC_MODEL_NAME) &&
        fs::exists(root / "models" / qlcore::DET_MODEL_NAME) && _read_text(root / "stamp") == stamp;
    if (ready) return root;

    // Built aside and renamed into place, so the folder is never half made.
    const std::string tag = std::to_string(::getpid());
    const fs::path fresh = _build_dir() / ("test-install.new-" + tag);
    const fs::path old = _build_dir() / ("test-install.old-" + tag);
    fs::remove_all(fresh);
    _make_install(fresh);
    qlcore::write_file_atomic(fresh / "stamp", stamp);
    if (fs::exists(root)) fs::rename(root, old);
    fs::rename(fresh, root);
    std::error_code ec;
    fs::remove_all(old, ec);
    return root;
}

}  // namespace

fs::path test_detector_model() {
    const fs::path shared = shared_dir() / "models" / qlcore::DET_MODEL_NAME;
    if (fs::exists(shared)) return shared;
    const fs::path installed = qlcore_program().parent_path() / "models" / qlcore::DET_MODEL_NAME;
    if (fs::exists(installed)) return installed;
    throw std::runtime_error(std::string("the face detector model ") + qlcore::DET_MODEL_NAME +
                             " is in neither " + shared.parent_path().string() + " nor " +
                             installed.parent_path().string() +
                             "; run scripts/fetch-models (or copy the file there) first");
}

fs::path test_install_dir() {
    static std::once_flag once;
    static fs::path dir;
    std::call_once(once, [] { dir = _ensure_install(); });
    return dir;
}

fs::path test_install_program() {
    return test_install_dir() / "qlcore";
}

fs::path stand_in_recognizer() {
    return test_install_dir() / "models" / qlcore::REC_MODEL_NAME;
}

}  // namespace qltest
