# mingw-w64-i686.cmake -- cross build for 32-bit Windows with Debian's MinGW-w64 toolchain.
# Programs run under Wine through tools/wine-run.sh, so that ctest and GoogleTest's test
# discovery work as on a native build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(HEDGEROW_MINGW_PREFIX i686-w64-mingw32)
# The posix-threads variant: GoogleTest needs std::mutex, which the win32-threads C++
# runtime of GCC 12 lacks. Its thread library is linked in statically (below).
set(CMAKE_C_COMPILER ${HEDGEROW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HEDGEROW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HEDGEROW_MINGW_PREFIX}-windres)
set(CMAKE_AR ${HEDGEROW_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${HEDGEROW_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_DLLTOOL ${HEDGEROW_MINGW_PREFIX}-dlltool CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${HEDGEROW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The support libraries of the C and C++ runtimes (libgcc, libstdc++, winpthread) go
# inside each image, so that the DLL and the programs import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
