# Cross-build for 32-bit x86 Linux with Debian's cross compiler
# (g++-i686-linux-gnu), run through qemu-user (qemu-i386). Use:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
# Libraries and CMake packages built for this target are found only under the
# cross sysroot and under whatever else is put on CMAKE_FIND_ROOT_PATH
# (e.g. -DCMAKE_FIND_ROOT_PATH=/opt/gtest-i686), never on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (gtest_discover_tests, ctest), and the tool the tests run, go
# through the emulator. -L makes it load the target's dynamic loader, which
# still reads the build machine's /etc/ld.so.cache: that can name other
# libraries of the target's kind (on x86-64, /lib32 of libc6-i386, another
# glibc build, with which an i386 program hangs in the child of fork()).
# LD_LIBRARY_PATH comes first.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/i686-linux-gnu -E LD_LIBRARY_PATH=/usr/i686-linux-gnu/lib)
