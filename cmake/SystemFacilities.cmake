# What the POSIX system at hand offers, found by feature checks rather than by its name, so that
# Linux (glibc and musl), macOS and the BSDs each get the calls they have. Sets
# RESWEAVER_FACILITY_SOURCES (the files chosen per facility) and RESWEAVER_FACILITY_DEFINITIONS
# (RESWEAVER_HAVE_... for the small inline helpers of posix_facilities.h and the walk).
#
# RESWEAVER_PORTABLE turns every Linux-only facility off, so that a Linux build runs the code that
# macOS and the BSDs run: the readdir() walk, no /proc, no extended attributes, no large pages and
# no fallocate().
include(CheckCXXSourceCompiles)
include(CheckCXXSymbolExists)
include(CheckStructHasMember)

set(RESWEAVER_FACILITY_SOURCES)
set(RESWEAVER_FACILITY_DEFINITIONS)

# Each check's result is cached under its own name; the portable build ignores the Linux ones.
macro(resweaver_facility name linux_only)
  if(${name} AND NOT (${linux_only} AND RESWEAVER_PORTABLE))
    list(APPEND RESWEAVER_FACILITY_DEFINITIONS ${name}=1)
    set(resweaver_use_${name} ON)
  else()
    set(resweaver_use_${name} OFF)
  endif()
endmacro()

# Listing a folder: getdents64() on Linux, readdir() everywhere.
check_cxx_symbol_exists(getdents64 dirent.h RESWEAVER_HAVE_GETDENTS64)
resweaver_facility(RESWEAVER_HAVE_GETDENTS64 ON)
if(resweaver_use_RESWEAVER_HAVE_GETDENTS64)
  list(APPEND RESWEAVER_FACILITY_SOURCES src/folder_listing.cc src/folder_listing_getdents.cc)
else()
  list(APPEND RESWEAVER_FACILITY_SOURCES src/folder_listing.cc src/folder_listing_readdir.cc)
endif()
check_struct_has_member("struct dirent" d_type dirent.h RESWEAVER_HAVE_D_TYPE LANGUAGE CXX)
resweaver_facility(RESWEAVER_HAVE_D_TYPE OFF)

# Extended attributes: Linux's calls, macOS's (with a position and options), or none.
check_cxx_source_compiles("
  #include <sys/xattr.h>
  int main() {
    char b[8];
    return static_cast<int>(flistxattr(0, b, 8) + fgetxattr(0, \"u\", b, 8)) +
           fsetxattr(0, \"u\", b, 8, 0) + fremovexattr(0, \"u\");
  }" RESWEAVER_HAVE_LINUX_XATTR)
check_cxx_source_compiles("
  #include <sys/xattr.h>
  int main() {
    char b[8];
    return static_cast<int>(flistxattr(0, b, 8, 0) + fgetxattr(0, \"u\", b, 8, 0, 0)) +
           fsetxattr(0, \"u\", b, 8, 0, 0) + fremovexattr(0, \"u\", 0);
  }" RESWEAVER_HAVE_DARWIN_XATTR)
resweaver_facility(RESWEAVER_HAVE_LINUX_XATTR ON)
resweaver_facility(RESWEAVER_HAVE_DARWIN_XATTR OFF)
if(resweaver_use_RESWEAVER_HAVE_LINUX_XATTR)
  list(APPEND RESWEAVER_FACILITY_SOURCES src/extended_attributes_linux.cc)
elseif(resweaver_use_RESWEAVER_HAVE_DARWIN_XATTR)
  list(APPEND RESWEAVER_FACILITY_SOURCES src/extended_attributes_darwin.cc)
else()
  list(APPEND RESWEAVER_FACILITY_SOURCES src/extended_attributes_none.cc)
endif()

# Flushing to the disk itself: F_FULLFSYNC on macOS, fsync() elsewhere.
check_cxx_symbol_exists(F_FULLFSYNC fcntl.h RESWEAVER_HAVE_F_FULLFSYNC)
resweaver_facility(RESWEAVER_HAVE_F_FULLFSYNC OFF)

# Reserving space without growing the file: Linux's fallocate() with FALLOC_FL_KEEP_SIZE.
check_cxx_source_compiles("
  #include <fcntl.h>
  int main() { return fallocate(0, FALLOC_FL_KEEP_SIZE, 0, 1); }"
  RESWEAVER_HAVE_FALLOCATE_KEEP_SIZE)
resweaver_facility(RESWEAVER_HAVE_FALLOCATE_KEEP_SIZE ON)

# Exchanging two names at once: Linux's renameat2() with RENAME_EXCHANGE; on a Linux C library
# without that wrapper (musl before 1.2.5), the system call itself; macOS's renameatx_np() with
# RENAME_SWAP.
check_cxx_source_compiles("
  #include <cstdio>
  #include <fcntl.h>
  int main() { return renameat2(AT_FDCWD, \"a\", AT_FDCWD, \"b\", RENAME_EXCHANGE); }"
  RESWEAVER_HAVE_RENAME_EXCHANGE)
resweaver_facility(RESWEAVER_HAVE_RENAME_EXCHANGE ON)
if(NOT resweaver_use_RESWEAVER_HAVE_RENAME_EXCHANGE)
  check_cxx_symbol_exists(SYS_renameat2 sys/syscall.h RESWEAVER_HAVE_SYS_RENAMEAT2)
  resweaver_facility(RESWEAVER_HAVE_SYS_RENAMEAT2 ON)
endif()
check_cxx_source_compiles("
  #include <cstdio>
  #include <fcntl.h>
  int main() { return renameatx_np(AT_FDCWD, \"a\", AT_FDCWD, \"b\", RENAME_SWAP); }"
  RESWEAVER_HAVE_RENAME_SWAP)
resweaver_facility(RESWEAVER_HAVE_RENAME_SWAP OFF)

# Large pages for big blocks: Linux's transparent huge pages.
check_cxx_symbol_exists(MADV_HUGEPAGE sys/mman.h RESWEAVER_HAVE_MADV_HUGEPAGE)
resweaver_facility(RESWEAVER_HAVE_MADV_HUGEPAGE ON)

# Opening an open file again through /proc/self/fd: Linux. Nothing to check at configure time
# for the target, so the system's name decides; elsewhere the file is opened by its name.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(RESWEAVER_HAVE_PROC_SELF_FD ON)
endif()
resweaver_facility(RESWEAVER_HAVE_PROC_SELF_FD ON)

message(STATUS "resweaver: system facilities ${RESWEAVER_FACILITY_DEFINITIONS}")
