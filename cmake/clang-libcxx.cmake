# Native build with clang++ and LLVM's C++ library (libc++, as on macOS and
# FreeBSD) instead of libstdc++. Debian: clang, libc++-dev, libc++abi-dev. Use:
#   cmake -S . -B build-libcxx -DCMAKE_TOOLCHAIN_FILE=cmake/clang-libcxx.cmake
# Every C++ library linked in (GoogleTest too) must be built the same way:
# Debian's libgtest-dev is built against libstdc++.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_CXX_FLAGS_INIT -stdlib=libc++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -stdlib=libc++)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -stdlib=libc++)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -stdlib=libc++)
