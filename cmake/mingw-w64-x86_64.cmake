# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model,
# so std::thread and std::mutex work), tests run under Wine.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# CTest starts every test program through CMAKE_CROSSCOMPILING_EMULATOR: Wine
# with its debug channels off and its own prefix under the build directory
# (scripts/wine-prefix.sh initialises it once, before the tests run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KSVW_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${KSVW_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KSVW_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KSVW_MINGW_TRIPLE}-windres REQUIRED)

# Libraries and headers come from the MinGW sysroot only; programs (code
# generators) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KSVW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine. Debian's `wine` wrapper picks the 32- or 64-bit loader; a 64-bit
# program needs only wine64, so no i386 packages are required.
find_program(KSVW_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KSVW_WINE)
  # The prefix lives beside the build so that runs never touch ~/.wine and a
  # fresh build directory starts clean. CMAKE_BINARY_DIR is the top build
  # directory here (this file is read first by the top-level project()).
  if(NOT DEFINED KSVW_WINEPREFIX)
    set(KSVW_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for running tests")
  endif()
  # env(1) sets the variables for Wine alone: no debug output, no prompt to
  # install Mono or Gecko if the prefix has to be created on the fly, and no
  # display (console test programs do not need one; GUI tests wrap ctest in
  # scripts/with-xvfb.sh, which sets DISPLAY and is passed through).
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" "WINEPREFIX=${KSVW_WINEPREFIX}"
      ${KSVW_WINE})
else()
  message(WARNING "wine not found: the Windows tests cannot run (scripts/setup.sh installs it)")
endif()
