# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads).
# The dependency prefix made by scripts/windows-deps is searched through
# QLCORE_WINDOWS_PREFIX (a cache entry or an environment variable), and
# nothing from the build machine's own /usr is ever picked up.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT QLCORE_WINDOWS_PREFIX AND DEFINED ENV{QLCORE_WINDOWS_PREFIX})
  set(QLCORE_WINDOWS_PREFIX "$ENV{QLCORE_WINDOWS_PREFIX}")
endif()
# try_compile projects read this file again; hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QLCORE_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QLCORE_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and the tests' own discovery run under Wine.
find_program(QLCORE_WINE NAMES wine wine64)
if(QLCORE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QLCORE_WINE})
endif()
