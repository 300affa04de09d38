# Cross-building for 64-bit Windows with Debian's MinGW-w64 compilers.
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DCORVEX_WINDOWS_PREFIX=<the prefix tools/setup-windows.sh prints>
#
# The prefix holds libcurl, GoogleTest and nlohmann JSON for Windows, and the
# GCC driver rules that put the Universal C Runtime in place of msvcrt.dll.
# Every program and the DLL link the MinGW runtime (libgcc, libstdc++,
# winpthreads) statically, so they depend only on system DLLs, and take their
# C runtime from the UCRT, as programs built with MSVC do. Test programs run
# under Wine through CMAKE_CROSSCOMPILING_EMULATOR.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CORVEX_MINGW_TARGET x86_64-w64-mingw32)
# The -posix compilers: the win32-threads ones lack std::thread and std::mutex.
set(CMAKE_C_COMPILER ${CORVEX_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVEX_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVEX_MINGW_TARGET}-windres)

if(NOT CORVEX_WINDOWS_PREFIX AND DEFINED ENV{CORVEX_WINDOWS_PREFIX})
  set(CORVEX_WINDOWS_PREFIX "$ENV{CORVEX_WINDOWS_PREFIX}")
endif()
if(NOT CORVEX_WINDOWS_PREFIX OR NOT EXISTS "${CORVEX_WINDOWS_PREFIX}/ucrt-driver-rules.txt")
  message(FATAL_ERROR "Set CORVEX_WINDOWS_PREFIX to the prefix that tools/setup-windows.sh prepares")
endif()
# try_compile projects read this file again: hand them the prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVEX_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVEX_MINGW_TARGET} "${CORVEX_WINDOWS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C runtime is the UCRT: the prefix's driver rules link its import library
# in place of msvcrt.dll's. The headers stay those of msvcrt.dll, which the
# prebuilt MinGW runtime (libstdc++, winpthreads, mingwex) was compiled with,
# so that the types they share agree (defining _UCRT would change mbstate_t
# under libstdc++'s feet). winpthreads calls msvcrt.dll's _setjmp, which the
# UCRT names setjmp.
set(CORVEX_MINGW_LINK_FLAGS "-specs=${CORVEX_WINDOWS_PREFIX}/ucrt-driver-rules.txt -static -Wl,--defsym,_setjmp=setjmp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${CORVEX_MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CORVEX_MINGW_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CORVEX_MINGW_LINK_FLAGS}")

# The libcurl of the prefix is a static library.
set(CORVEX_CURL_STATIC ON CACHE BOOL "libcurl is a static library")

find_program(CORVEX_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CORVEX_WINE64 wine64)
if(CORVEX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVEX_WINE64})
endif()
