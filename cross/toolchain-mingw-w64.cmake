# 64-bit Windows with Debian's MinGW-w64 compilers. The posix-thread variant, since the code uses
# std::thread and std::mutex; the runtime is linked statically, so that the programs and DLLs run
# on a bare Windows (or wine) without MinGW's own DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
