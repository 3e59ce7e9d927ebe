# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the posix
# threads flavour, which C++ threads need); the programs built run under
# wine, so ctest and gtest_discover_tests work as on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-ranlib CACHE FILEPATH "")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Headers, libraries and packages only from the MinGW-w64 sysroot and the
# trees listed before it; programs from the build machine.
# The static libraries built for it come first (CMAKE_FIND_ROOT_PATH given
# on the command line, as scripts/windows.sh does).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every program stands alone: the C++ and C runtimes and the threads library
# linked in, so that only Windows' own DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# The packages' own CMake files carry what their static libraries need
# (XML_STATIC, CURL_STATICLIB, the system libraries); the Find modules
# do not.
set(CMAKE_FIND_PACKAGE_PREFER_CONFIG ON)
