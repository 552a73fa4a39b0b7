# Shared part of the MinGW-w64 toolchain files; TQ_MINGW_TRIPLE is set by the caller.
set(CMAKE_SYSTEM_NAME Windows)
# The -posix thread model is the one GoogleTest builds with (std::mutex).
set(CMAKE_C_COMPILER   ${TQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TQ_MINGW_TRIPLE}-windres)
set(CMAKE_ASM_COMPILER ${TQ_MINGW_TRIPLE}-gcc-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${TQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under the 64-bit Wine loader; /usr/bin/wine cannot start on a kernel without 32-bit support.
set(TQ_WINE_LOADER "/usr/lib/wine/wine64" CACHE FILEPATH "Wine loader that runs the cross-built tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${TQ_WINE_LOADER}" CACHE FILEPATH "Runs cross-built executables")
