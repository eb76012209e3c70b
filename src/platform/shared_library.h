// A shared library opened at run time, for code the program needs only on
// some runs and should not pay to load on every start.
#pragma once

#include <filesystem>
#include <string>

namespace qlcore {

class SharedLibrary {
  public:
    // Throws std::runtime_error ("cannot load <path>: <reason>").
    explicit SharedLibrary(const std::filesystem::path& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The address of an exported symbol; throws std::runtime_error when the
    // library has none of that name.
    void* symbol(const char* name) const;

  private:
    void* handle_ = nullptr;
    std::string path_;
};

}  // namespace qlcore
