// The small differences between POSIX systems that the save meets, each chosen by CMake's checks
// of what the system has (RESWEAVER_HAVE_...), one inline helper per facility.
#ifndef RESWEAVER_POSIX_FACILITIES_H_
#define RESWEAVER_POSIX_FACILITIES_H_

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/types.h>
#if RESWEAVER_HAVE_SYS_RENAMEAT2
#include <sys/syscall.h>
#endif
#include <unistd.h>

namespace resweaver {

// Flushes fd's data to the disk itself; returns 0 or the error. On macOS, fsync() hands the data
// to the drive, which may keep it in its cache and write it out of order; F_FULLFSYNC asks the
// drive to write it out. File systems that refuse F_FULLFSYNC get fsync().
#if RESWEAVER_HAVE_F_FULLFSYNC
inline int flushToDisk(int fd) {
  if (::fcntl(fd, F_FULLFSYNC) == 0 || ::fsync(fd) == 0) {
    return 0;
  }
  return errno;
}
#else
inline int flushToDisk(int fd) {
  return ::fsync(fd) == 0 ? 0 : errno;
}
#endif

// Reserves the blocks for size bytes without changing the file's size, so that a full disk fails
// before the first byte is written; returns 0 or the error. Where the system cannot reserve
// without growing the file, or the file system cannot reserve at all, nothing is reserved.
#if RESWEAVER_HAVE_FALLOCATE_KEEP_SIZE
inline int reserveSpace(int fd, std::uint64_t size) {
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS) {
    return errno;
  }
  return 0;
}
#else
inline int reserveSpace(int /*fd*/, std::uint64_t /*size*/) {
  return 0;
}
#endif

// Opens the file that fd has open once more, with flags, whatever its name is now: through
// /proc/self/fd where the system has it. Returns -1 with errno ENOENT where it cannot, and the
// caller then opens the file by its name.
#if RESWEAVER_HAVE_PROC_SELF_FD
inline int reopenOpenFile(int fd, int flags) {
  return ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), flags);
}
#else
inline int reopenOpenFile(int /*fd*/, int /*flags*/) {
  errno = ENOENT;
  return -1;
}
#endif

// Exchanges the entries a and b of folder at once; -1 with errno ENOSYS where the system cannot,
// and EINVAL or ENOTSUP (depending on the system) where the file system cannot.
#if RESWEAVER_HAVE_RENAME_EXCHANGE
inline int exchangeNames(int folder, const char* a, const char* b) {
  return ::renameat2(folder, a, folder, b, RENAME_EXCHANGE);
}
#elif RESWEAVER_HAVE_SYS_RENAMEAT2
// The C library has no wrapper; the flag is <linux/fs.h>'s, part of the kernel's interface, and
// left out of the includes because that header clashes with the C library's <sys/mount.h>.
inline int exchangeNames(int folder, const char* a, const char* b) {
  constexpr unsigned kRenameExchange = 1U << 1;
  return static_cast<int>(::syscall(SYS_renameat2, folder, a, folder, b, kRenameExchange));
}
#elif RESWEAVER_HAVE_RENAME_SWAP
inline int exchangeNames(int folder, const char* a, const char* b) {
  return ::renameatx_np(folder, a, folder, b, RENAME_SWAP);
}
#else
inline int exchangeNames(int /*folder*/, const char* /*a*/, const char* /*b*/) {
  errno = ENOSYS;
  return -1;
}
#endif

}  // namespace resweaver

#endif  // RESWEAVER_POSIX_FACILITIES_H_
