# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (GCC, posix
# thread flavour, so that std::thread and std::jthread work). libstdc++,
# libgcc and winpthread are linked in statically: the programs then import
# only system DLLs and the speech runtime's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VCT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VCT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VCT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VCT_MINGW_TRIPLET}-windres)
set(CMAKE_ASM_COMPILER ${VCT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_DLLTOOL ${VCT_MINGW_TRIPLET}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${VCT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The third-party libraries of the client library and the tools (libsoxr,
# libsndfile, ICU) are built for Windows by scripts/windows-deps.sh into
# <build>/deps and found there through pkg-config, never the build machine's
# own .pc files. The prefix is also a root path, so that the libraries
# pkg-config names are found where it says they are. Not in the projects of
# CMake's compiler checks: they read this file too, in the same process, with
# a build directory of their own.
get_property(vct_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT vct_in_try_compile)
  if(NOT VCT_WINDOWS_DEPS)
    set(VCT_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps")
  endif()
  set(ENV{PKG_CONFIG_LIBDIR} "${VCT_WINDOWS_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
  list(APPEND CMAKE_FIND_ROOT_PATH "${VCT_WINDOWS_DEPS}")
endif()
