# Builds resweaver for macOS on Intel, with Zig's clang, libc++ and linker:
#   cmake -S . -B build-macos-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig-x86_64-macos.cmake \
#     -DBUILD_TESTING=OFF -DZIG=<path to zig>
# ./scripts/test --macos builds it and checks the binary and its link command.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RESWEAVER_ZIG_TARGET x86_64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
