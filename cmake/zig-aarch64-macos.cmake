# Builds resweaver for macOS on Apple silicon, with Zig's clang, libc++ and linker:
#   cmake -S . -B build-macos-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig-aarch64-macos.cmake \
#     -DBUILD_TESTING=OFF -DZIG=<path to zig>
# ./scripts/test --macos builds it and checks the binary and its link command.
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(RESWEAVER_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
