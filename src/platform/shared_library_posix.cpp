#include "platform/shared_library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qlcore {
namespace {

// dlerror's text, without the file name it often starts with.
std::string _dl_reason(const std::string& path) {
    const char* e = ::dlerror();
    std::string reason = e ? e : "unknown error";
    if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
    return reason;
}

}  // namespace

// RTLD_NODELETE: the libraries it brings in (OpenCV's video and image
// modules, GStreamer) register exit handlers, which must outlive dlclose.
SharedLibrary::SharedLibrary(const std::filesystem::path& path) : path_(path.string()) {
    handle_ = ::dlopen(path_.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) throw std::runtime_error("cannot load " + path_ + ": " + _dl_reason(path_));
}

SharedLibrary::~SharedLibrary() {
    if (handle_) ::dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const {
    ::dlerror();
    void* p = ::dlsym(handle_, name);
    if (!p) throw std::runtime_error("cannot load " + path_ + ": " + _dl_reason(path_));
    return p;
}

}  // namespace qlcore
