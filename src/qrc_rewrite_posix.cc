// Saving the .qrc on POSIX systems in place: the old file's own bytes overwritten, where replacing
// it would change what the file is (more than one hard link, a folder that cannot be written, an
// owner or attributes that a new file cannot be given, a file mounted on its own). Such a rewrite
// cannot be atomic, so it is guarded as far as it can be:
// - the file-size limit and the free space are checked before the first byte, the space counted
//   for the whole new size, since a copy-on-write file system (btrfs, XFS with shared blocks, APFS)
//   needs new blocks even for the bytes it overwrites;
// - the signals that end a build are held back until the file is complete and flushed;
// - should a write still fail part-way, the old bytes are written back from memory and flushed;
//   and where even that fails, the message says that the file is damaged and where a copy of its
//   old content was saved.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "posix_facilities.h"
#include "qrc_file.h"
#include "qrc_file_posix.h"

namespace resweaver {

namespace {

// Holds back the signals that end a build (Ctrl-C, a killed job, a closed terminal or pipe) while
// the file is rewritten in place; they take effect when it is complete and flushed.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
      sigaddset(&held, signal);
    }
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_;
};

// Whether the file system that holds fd has room for size bytes written anew. The space that
// unprivileged users may take is counted, for root too: btrfs counts in its free blocks the room
// kept for its own metadata, which file data can never take. A file system that cannot tell is
// taken to have room.
int checkSpace(int fd, std::uint64_t size) {
  struct statvfs space {};
  if (::fstatvfs(fd, &space) != 0 || space.f_frsize == 0) {
    return 0;
  }
  return space.f_bavail >= (size + space.f_frsize - 1) / space.f_frsize ? 0 : ENOSPC;
}

// Writes all of data at offset; returns 0 or the error.
int writeAt(int fd, const std::string& data, off_t offset) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t wrote =
        ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
    if (wrote < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

// Saves old, the content of a file that a failed rewrite damaged, into a new file in the folder
// for temporary files (app.qrc.old-x7Qp2Z); returns its path, or an empty text.
std::string saveCopy(const std::string& old, const std::string& name) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/" +
                     std::string(keptName(name)) + ".old-XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) {
    return {};
  }
  bool saved = true;
  for (std::size_t done = 0; saved && done < old.size();) {
    const ssize_t wrote = ::write(fd, old.data() + done, old.size() - done);
    saved = wrote > 0 || (wrote < 0 && errno == EINTR);
    done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
  }
  saved = saved && flushToDisk(fd) == 0;
  if (::close(fd) != 0 || !saved) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

}  // namespace

void LockedQrc::rewriteInPlace(const PrintedText& text) {
  Platform& p = *platform_;
  // The locked file itself, opened again for writing, whatever its name is now; where the system
  // cannot do that, the name must still lead to it.
  int fd = reopenOpenFile(p.fd, O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0 && errno == ENOENT) {
    fd = ::openat(p.folder, p.name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    struct stat opened {};
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || !sameFile(opened, p.status))) {
      ::close(fd);
      throwCannotWrite(uiPath_, "the file was replaced during the run");
    }
  }
  if (fd < 0) {
    throwCannotWrite(uiPath_, reason(errno));
  }
  // Another program may have replaced the file without taking the lock: its content would get
  // none of this run's changes, and the file that does would have no name.
  struct stat named {};
  if (::fstatat(p.folder, p.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      !sameFile(named, p.status)) {
    ::close(fd);
    throwCannotWrite(uiPath_, "the file was replaced during the run");
  }
  const auto fail = [&](const std::string& why) {
    ::close(fd);
    throwCannotWrite(uiPath_, why);
  };
  const std::uint64_t size = text.size();
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    fail(reason(EFBIG));
  }
  if (const int error = checkSpace(fd, size)) {
    fail(reason(error));
  }
  if (size > size_) {
    if (const int error = reserveSpace(fd, size)) {
      fail(reason(error));
    }
  }
  // The old bytes, to be put back should the rewrite fail part-way.
  std::string old(static_cast<std::size_t>(size_), '\0');
  readAt(old.data(), old.size(), 0);
  {
    const HeldSignals held;
    int error = writeBlocks(fd, text);
    if (error == 0 && size < size_ && ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      error = errno;
    }
    if (error == 0) {
      error = flushToDisk(fd);
    }
    if (error != 0) {
      const bool restored = writeAt(fd, old, 0) == 0 &&
                            ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 &&
                            flushToDisk(fd) == 0;
      if (restored) {
        fail(reason(error));
      }
      const std::string copy = saveCopy(old, p.name);
      fail(reason(error) + "; the file is damaged, and " +
           (copy.empty() ? "its old content could not be saved"
                         : "its old content is saved in " + copy));
    }
  }
  if (::close(fd) != 0) {
    warn("cannot close " + uiPath_ + " after writing it: " + reason(errno));
  }
}

}  // namespace resweaver
