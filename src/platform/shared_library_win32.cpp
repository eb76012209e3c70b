#include "platform/shared_library.h"

#include <windows.h>

#include <stdexcept>

#include "platform/files.h"
#include "platform/win32.h"

namespace qlcore {

SharedLibrary::SharedLibrary(const std::filesystem::path& path) : path_(u8string(path)) {
    handle_ = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle_)
        throw std::runtime_error("cannot load " + path_ + ": " +
                                 windows_error_text(::GetLastError()));
}

SharedLibrary::~SharedLibrary() {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::symbol(const char* name) const {
    FARPROC p = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (!p)
        throw std::runtime_error("cannot load " + path_ + ": " +
                                 windows_error_text(::GetLastError()));
    return reinterpret_cast<void*>(p);
}

}  // namespace qlcore
