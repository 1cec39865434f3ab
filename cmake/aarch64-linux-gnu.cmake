# Cross-building for the Raspberry Pi (arm64) with Debian's cross toolchain
# (crossbuild-essential-arm64) over the arm64 development packages that Debian's
# multiarch installs beside this machine's own. Programs built with it run here
# under qemu-user (CTest, test discovery and the tests' panel all use it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE /usr/bin/aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config of the arm64 packages")
find_program(PANEL_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PANEL_QEMU_AARCH64})
