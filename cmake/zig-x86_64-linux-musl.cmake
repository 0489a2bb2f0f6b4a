# Builds a statically linked resweaver for x86_64 Linux with musl, with Zig's clang and libc++:
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/zig-x86_64-linux-musl.cmake \
#     -DBUILD_TESTING=OFF -DZIG=<path to zig>
# The result runs on any x86_64 Linux; ./scripts/test --musl runs the tests of the binary on it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RESWEAVER_ZIG_TARGET x86_64-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/zig-toolchain.cmake)
