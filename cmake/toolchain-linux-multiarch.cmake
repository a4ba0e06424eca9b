# Cross-building for another Linux architecture with Debian's multiarch
# packages: the cross compiler g++-<triplet> and the target's libraries
# installed as <package>:<arch> into /usr/lib/<triplet>, so there is no
# separate sysroot. Included by toolchain-armhf.cmake and
# toolchain-aarch64.cmake, which set VFB_CROSS_TRIPLET and VFB_QEMU.
#
# Test programs run under qemu's user-mode emulation when ctest starts them.
# "-L /" makes the target's loader and libraries the multiarch ones of this
# root, the same the linker used (-L /usr/<triplet> mixes the cross
# toolchain's C library with them, and the programs crash); no binfmt
# registration is needed.
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${VFB_CROSS_TRIPLET}")
set(CMAKE_C_COMPILER ${VFB_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VFB_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VFB_CROSS_TRIPLET})

# No sysroot: CMake looks in lib/${VFB_CROSS_TRIPLET} of every prefix, so it
# finds the target's libraries and CMake packages and never the build
# machine's (those are in lib/<the build machine's triplet>).

# pkg-config (FindCURL asks it first) must describe the target's libcurl.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VFB_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

find_program(VFB_QEMU_PROGRAM NAMES ${VFB_QEMU} NO_CMAKE_FIND_ROOT_PATH)
if(VFB_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VFB_QEMU_PROGRAM} -L /)
endif()
