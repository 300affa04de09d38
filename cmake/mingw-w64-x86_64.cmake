# Cross-building for 64-bit Windows: clang 14 in MinGW mode with lld, on
# Debian's MinGW-w64 headers, C++ library and runtime.
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DCORVEX_WINDOWS_PREFIX=<the prefix tools/setup-windows.sh prints>
#
# The prefix holds libcurl, GoogleTest and nlohmann JSON for Windows; a
# project that needs none of them (a program on the installed package) may
# leave it out. Every program and DLL links the MinGW runtime (libgcc,
# libstdc++, winpthreads) statically, so it depends only on system DLLs, and
# takes its C runtime from the UCRT, as programs built with MSVC do. Objects
# carry CodeView debug information: a DLL's symbols go to a PDB beside it.
# Test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CORVEX_MINGW_TARGET x86_64-w64-mingw32)
set(CORVEX_LLVM_BIN /usr/lib/llvm-14/bin)
# From LLVM's own folder, clang finds ld.lld beside it.
set(CMAKE_C_COMPILER ${CORVEX_LLVM_BIN}/clang)
set(CMAKE_CXX_COMPILER ${CORVEX_LLVM_BIN}/clang++)
set(CMAKE_C_COMPILER_TARGET ${CORVEX_MINGW_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${CORVEX_MINGW_TARGET})
set(CMAKE_RC_COMPILER ${CORVEX_LLVM_BIN}/llvm-windres)
set(CMAKE_AR ${CORVEX_LLVM_BIN}/llvm-ar)
set(CMAKE_RANLIB ${CORVEX_LLVM_BIN}/llvm-ranlib)
set(CMAKE_OBJCOPY ${CORVEX_LLVM_BIN}/llvm-objcopy)
set(CMAKE_DLLTOOL ${CORVEX_LLVM_BIN}/llvm-dlltool)
# The DLL's checks read objdump -p in the GNU layout.
set(CMAKE_OBJDUMP ${CORVEX_MINGW_TARGET}-objdump)
set(CMAKE_SYSROOT /usr/${CORVEX_MINGW_TARGET})

if(NOT CORVEX_WINDOWS_PREFIX AND DEFINED ENV{CORVEX_WINDOWS_PREFIX})
  set(CORVEX_WINDOWS_PREFIX "$ENV{CORVEX_WINDOWS_PREFIX}")
endif()
# try_compile projects read this file again: hand them the prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVEX_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT} ${CORVEX_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The libcurl of the prefix is a static library.
set(CORVEX_CURL_STATIC ON CACHE BOOL "libcurl is a static library")

# Debian's MinGW-w64 GCC (posix threads: std::thread and std::mutex) keeps its
# C++ headers and libraries in a versioned folder that clang does not look
# for.
file(GLOB CORVEX_MINGW_GCC_DIR LIST_DIRECTORIES true /usr/lib/gcc/${CORVEX_MINGW_TARGET}/*-posix)
if(NOT CORVEX_MINGW_GCC_DIR)
  message(FATAL_ERROR "No /usr/lib/gcc/${CORVEX_MINGW_TARGET}/*-posix: install g++-mingw-w64-x86-64-posix")
endif()
list(GET CORVEX_MINGW_GCC_DIR 0 CORVEX_MINGW_GCC_DIR)
set(CORVEX_MINGW_CXX_HEADERS ${CORVEX_MINGW_GCC_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CORVEX_MINGW_CXX_HEADERS} -isystem ${CORVEX_MINGW_CXX_HEADERS}/${CORVEX_MINGW_TARGET} -isystem ${CORVEX_MINGW_CXX_HEADERS}/backward")
# CodeView, not DWARF, whenever the build type asks for debug information
# (when compiling only: a link warns of it as unused). Thread-local variables
# stay native, clang's default here: CodeView cannot name emulated ones.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-gcodeview>)

# Linking: lld; GCC's runtime libraries from their folder, all of them static
# (libgcc, libstdc++, winpthreads as the posix compilers link it); the UCRT's
# import library in place of msvcrt.dll's, which clang then leaves out. The
# C headers stay those of msvcrt.dll, which the prebuilt MinGW runtime
# (libstdc++, winpthreads, mingwex) was compiled with, so that the types they
# share agree (defining _UCRT would change mbstate_t under libstdc++'s feet).
# winpthreads calls msvcrt.dll's _setjmp, which the UCRT names setjmp.
set(CORVEX_MINGW_LINK_FLAGS "-fuse-ld=lld -L${CORVEX_MINGW_GCC_DIR} -static -pthread -lucrt -Wl,-Xlink=-alternatename:_setjmp=setjmp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${CORVEX_MINGW_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CORVEX_MINGW_LINK_FLAGS}")
# A DLL's CodeView symbols and lines go to a PDB beside it, which the DLL
# names without the build's folder.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CORVEX_MINGW_LINK_FLAGS} -Wl,--pdb= -Wl,-Xlink=-pdbaltpath:%_PDB%")

find_program(CORVEX_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CORVEX_WINE64 wine64)
if(CORVEX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVEX_WINE64})
endif()
