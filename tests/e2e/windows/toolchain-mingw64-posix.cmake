# The repository's mingw-w64 toolchain with the posix thread model compilers:
# GoogleTest needs std::mutex, which the win32 thread model's libstdc++ lacks.
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/toolchain-mingw64.cmake)
set(CMAKE_C_COMPILER ${VFB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VFB_MINGW_PREFIX}-g++-posix)
