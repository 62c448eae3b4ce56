# Cross-build for s390x Linux (64-bit, big-endian) with Debian's cross compiler
# (g++-s390x-linux-gnu), run through qemu-user (qemu-s390x). Use:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
# Libraries and CMake packages built for this target are found only under the
# cross sysroot and under whatever else is put on CMAKE_FIND_ROOT_PATH
# (e.g. -DCMAKE_FIND_ROOT_PATH=/opt/gtest-s390x), never on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (gtest_discover_tests, ctest), and the tool the tests run, go
# through the emulator. -L makes it load the target's dynamic loader, which
# still reads the build machine's /etc/ld.so.cache; LD_LIBRARY_PATH puts the
# target's libraries first (i686-linux-gnu.cmake tells what goes wrong
# otherwise).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu -E LD_LIBRARY_PATH=/usr/s390x-linux-gnu/lib)
