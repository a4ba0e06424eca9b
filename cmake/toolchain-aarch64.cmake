# 64-bit ARM Linux (Debian arm64), tests under qemu-aarch64; needs
# g++-aarch64-linux-gnu and the :arm64 packages that scripts/test-armhf.sh
# installs for armhf:
#   cmake -S . -B build-aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
set(VFB_CROSS_TRIPLET aarch64-linux-gnu)
set(VFB_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-multiarch.cmake)
