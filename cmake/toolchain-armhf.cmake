# 32-bit ARM Linux (Debian armhf), tests under qemu-arm:
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# scripts/test-armhf.sh installs what it needs, builds and runs the suites.
set(VFB_CROSS_TRIPLET arm-linux-gnueabihf)
set(VFB_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-multiarch.cmake)
