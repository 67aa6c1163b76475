# mingw-w64-x86_64.cmake -- cross build for 64-bit Windows with Debian's MinGW-w64 toolchain.
# Programs run under 64-bit Wine through tools/wine-run.sh (it reads their PE header), which
# needs nothing of the kernel beyond what every x86-64 Linux machine has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HEDGEROW_MINGW_PREFIX x86_64-w64-mingw32)
# The posix-threads variant, as in the 32-bit build: GoogleTest needs std::mutex.
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

# The support libraries of the C and C++ runtimes go inside each image, as in the 32-bit build.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
