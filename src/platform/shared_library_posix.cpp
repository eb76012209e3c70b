#include "platform/shared_library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qlcore {
namespace {

std::string _dl_reason() {
    const char* e = ::dlerror();
    return e ? e : "unknown error";
}

}  // namespace

// RTLD_NODELETE: the libraries it brings in (OpenCV's video and image
// modules, GStreamer) register exit handlers, which must outlive dlclose.
SharedLibrary::SharedLibrary(const std::filesystem::path& path) : path_(path.string()) {
    handle_ = ::dlopen(path_.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) throw std::runtime_error("cannot load " + path_ + ": " + _dl_reason());
}

SharedLibrary::~SharedLibrary() {
    if (handle_) ::dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const {
    ::dlerror();
    void* p = ::dlsym(handle_, name);
    if (!p) throw std::runtime_error("cannot load " + path_ + ": " + _dl_reason());
    return p;
}

}  // namespace qlcore
