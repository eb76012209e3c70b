// Which operating system this build is for; nothing is probed at run time.
#pragma once

namespace qlcore {

#if defined(_WIN32)
inline constexpr bool WINDOWS = true;
#else
inline constexpr bool WINDOWS = false;
#endif
#if defined(__APPLE__)
inline constexpr bool MACOS = true;
#else
inline constexpr bool MACOS = false;
#endif

}  // namespace qlcore
