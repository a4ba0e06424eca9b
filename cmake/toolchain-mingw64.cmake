# Cross-building the Windows DLL with mingw-w64, for x86_64 by default:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
# -DVFB_MINGW_PREFIX=i686-w64-mingw32 builds the 32-bit DLL instead, whose
# structure layouts are those of 32-bit targets such as Windows CE on ARM.
set(CMAKE_SYSTEM_NAME Windows)

set(VFB_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Target triplet prefix of the mingw-w64 tools")
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${VFB_MINGW_PREFIX}")
set(CMAKE_C_COMPILER ${VFB_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VFB_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VFB_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VFB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built for Windows run under Wine when ctest starts them.
find_program(VFB_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VFB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VFB_WINE})
endif()
