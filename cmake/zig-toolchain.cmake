# Shared by the cmake/zig-*.cmake toolchain files: builds with Zig's clang (`zig cc`, `zig c++`)
# for the target that the including file sets in RESWEAVER_ZIG_TARGET, after setting
# CMAKE_SYSTEM_NAME and CMAKE_SYSTEM_PROCESSOR. Zig brings the target's C library headers,
# libc++ and linker, so nothing else is needed on the build machine. Tested with Zig 0.11.
#
# Zig is taken from -DZIG=<path to the zig executable>, from the environment variable ZIG, or
# from PATH. CMake takes a compiler as one executable without arguments, so this file writes two
# small wrapper scripts, cc and c++, that call `zig cc -target ...` and `zig c++ -target ...`, into
# <build>/zig-<target>/. Zig keeps the target's C library and libc++, which it compiles on first
# use (a minute or two), in -DRESWEAVER_ZIG_CACHE=<folder>, by default beside the wrappers; a
# folder shared by several builds compiles them once.

if(NOT RESWEAVER_ZIG_TARGET)
  message(FATAL_ERROR "cmake/zig-toolchain.cmake is included by a cmake/zig-<target>.cmake file")
endif()

# try_compile() projects read this file again, with CMAKE_BINARY_DIR set to their own scratch
# folder, in the same CMake process: the first, top-level reading passes the wrappers' folder on
# through the environment.
set(wrappers "$ENV{RESWEAVER_ZIG_WRAPPERS_${RESWEAVER_ZIG_TARGET}}")
if(NOT wrappers)
  if(NOT ZIG)
    set(ZIG "$ENV{ZIG}")
  endif()
  if(NOT ZIG)
    find_program(ZIG zig)
  endif()
  if(NOT ZIG OR NOT EXISTS "${ZIG}")
    message(FATAL_ERROR "Zig not found: pass -DZIG=<path to the zig executable>")
  endif()
  set(ZIG "${ZIG}" CACHE FILEPATH "The zig executable that compiles and links")
  set(wrappers "${CMAKE_BINARY_DIR}/zig-${RESWEAVER_ZIG_TARGET}")
  set(RESWEAVER_ZIG_CACHE "${wrappers}/cache" CACHE PATH "Zig's cache of compiled libraries")
  foreach(language cc c++)
    # CMake passes -Wl,-v when it detects the compiler's ABI; Zig's Mach-O linker refuses it.
    set(script "#!/bin/sh\n"
      "# Written by cmake/zig-toolchain.cmake: the compiler that CMake calls.\n"
      "for arg do\n"
      "  shift\n"
      "  [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"\n"
      "done\n"
      "ZIG_GLOBAL_CACHE_DIR='${RESWEAVER_ZIG_CACHE}' ZIG_LOCAL_CACHE_DIR='${RESWEAVER_ZIG_CACHE}' \\\n"
      "  exec '${ZIG}' ${language} -target ${RESWEAVER_ZIG_TARGET} \"$@\"\n")
    string(CONCAT script ${script})
    # Written only when it changes, so that a reconfigure rebuilds nothing.
    if(EXISTS "${wrappers}/${language}")
      file(READ "${wrappers}/${language}" old)
    else()
      set(old "")
    endif()
    if(NOT old STREQUAL script)
      file(WRITE "${wrappers}/new/${language}" "${script}")
      file(COPY "${wrappers}/new/${language}" DESTINATION "${wrappers}" FILE_PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      file(REMOVE_RECURSE "${wrappers}/new")
    endif()
  endforeach()
  set(ENV{RESWEAVER_ZIG_WRAPPERS_${RESWEAVER_ZIG_TARGET}} "${wrappers}")
endif()

set(CMAKE_C_COMPILER "${wrappers}/cc")
set(CMAKE_CXX_COMPILER "${wrappers}/c++")

# Nothing of the build machine's: headers and libraries come from Zig.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
