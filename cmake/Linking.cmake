# How the tool is linked. A run over a small project is mostly process start-up, and most of that
# is the dynamic loader (./scripts/bench, "Linking"):
# - RESWEAVER_STATIC_RUNTIME links the C++ runtime in, with the parts the tool never calls left
#   out (--gc-sections): the loader no longer binds libstdc++, and a run over 10 files takes a
#   third less time. Distributions that want the shared C++ runtime turn it off.
# - RESWEAVER_STATIC_LIBC links libc in as well, as a static position-independent executable (it
#   keeps address-space randomisation): no loader at all, another quarter less at 10 files, which
#   brings the tool to the floor's time there. It is what a build from source gets on Linux. A
#   Debian package takes libc shared, so that libc's security updates reach the tool (lintian
#   refuses a statically linked binary): configure such a build with -DRESWEAVER_STATIC_LIBC=OFF;
#   CPack refuses to package a fully static tool as a .deb.
# Neither applies to sanitizer or fuzzer builds, nor to Windows (a static .exe there anyway), nor to
# macOS, whose linker takes -dead_strip for --gc-sections and whose C++ runtime is the system's.
set(RESWEAVER_LINKED_LIBC_IN OFF)
# The standard library decides what can be linked in: libstdc++ has -static-libstdc++, libc++
# (macOS's, or clang's -stdlib=libc++ elsewhere) has no such flag.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
  #include <cstddef>
  #ifndef _LIBCPP_VERSION
  #error not libc++
  #endif
  int main() { return 0; }" RESWEAVER_WITH_LIBCXX)
if(APPLE)
  # Apple's linker: -dead_strip leaves out what the tool never calls. The C++ runtime and libc are
  # the system's own shared libraries there, and nothing is linked statically.
  if(NOT RESWEAVER_SANITIZE AND NOT RESWEAVER_FUZZ)
    target_link_options(resweaver PRIVATE -Wl,-dead_strip)
  endif()
elseif(RESWEAVER_STATIC_RUNTIME AND NOT WIN32 AND NOT RESWEAVER_SANITIZE AND NOT RESWEAVER_FUZZ
       AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  if(RESWEAVER_STATIC_LIBC AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # Static PIEs need the C library's support (glibc 2.27 and later, musl) and its static archive
    # (Fedora's glibc-static, for one, is not installed by default): try one that uses what the
    # tool uses, and run it where it can run.
    include(CheckCXXSourceRuns)
    set(CMAKE_REQUIRED_FLAGS "-std=c++17 -fPIE")
    set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
    set(static_pie_probe "
      #include <cstdio>
      #include <filesystem>
      int main(int argc, char** argv) {
        std::filesystem::path path(argv[0]);
        std::printf(\"%d\", static_cast<int>(path.filename().string().size()) + argc);
        return 0;
      }")
    if(CMAKE_CROSSCOMPILING)
      check_cxx_source_compiles("${static_pie_probe}" RESWEAVER_STATIC_PIE_LINKS)
    else()
      check_cxx_source_runs("${static_pie_probe}" RESWEAVER_STATIC_PIE_LINKS)
    endif()
    unset(CMAKE_REQUIRED_FLAGS)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(RESWEAVER_STATIC_PIE_LINKS)
      set(RESWEAVER_LINKED_LIBC_IN ON)
    else()
      message(STATUS "resweaver: no static PIE here (libc's static archive missing?); libc stays "
        "shared")
    endif()
  endif()
  if(RESWEAVER_LINKED_LIBC_IN)
    # Not with -static-libstdc++: that flag asks for libm and libc shared again after libstdc++,
    # which in a static PIE gives a binary without a loader that crashes at its first libc call.
    set_target_properties(resweaver_core resweaver PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_options(resweaver PRIVATE -static-pie -Wl,--gc-sections)
  elseif(RESWEAVER_WITH_LIBCXX)
    target_link_options(resweaver PRIVATE -Wl,--gc-sections)
  else()
    target_link_options(resweaver PRIVATE -static-libstdc++ -static-libgcc -Wl,--gc-sections)
  endif()
endif()
