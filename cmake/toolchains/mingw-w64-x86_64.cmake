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
