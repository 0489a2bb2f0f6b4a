# Shared by cmake/zig-aarch64-macos.cmake and cmake/zig-x86_64-macos.cmake: a macOS build with
# Zig's clang, its macOS headers and libSystem stubs, and its Mach-O linker.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "Left to Zig")
include(${CMAKE_CURRENT_LIST_DIR}/zig-toolchain.cmake)

# Zig 0.11's macOS headers lack <sys/xattr.h>, whose calls its libSystem stubs have: a stand-in
# that declares them as macOS does. Only this build sees it.
set(CMAKE_C_FLAGS_INIT "-isystem ${CMAKE_CURRENT_LIST_DIR}/zig-macos-include")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CMAKE_CURRENT_LIST_DIR}/zig-macos-include")

# CMake asks for Apple's install_name_tool, which rewrites the paths that Mach-O files hold to
# shared libraries; none of this build's own need it, so where it is missing, true stands in.
find_program(CMAKE_INSTALL_NAME_TOOL NAMES install_name_tool true)
