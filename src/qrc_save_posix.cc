// Saving the .qrc on POSIX systems by replacing it: a new file written beside the real one,
// flushed, given the old file's owner, extended attributes and mode, renamed over it, and the
// folder flushed. Where the new file could not be what the old one was, the old file is rewritten
// in place instead (qrc_rewrite_posix.cc).
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "extended_attributes.h"
#include "posix_facilities.h"
#include "qrc_file.h"
#include "qrc_file_posix.h"

namespace resweaver {

int writeBlocks(int fd, const PrintedText& text) {
  for (std::string_view block : text.blocks()) {
    while (!block.empty()) {
      const ssize_t done = ::write(fd, block.data(), block.size());
      if (done < 0) {
        if (errno == EINTR) {
          continue;
        }
        return errno;
      }
      block.remove_prefix(static_cast<std::size_t>(done));
    }
  }
  return 0;
}

namespace {

// What a failure to carry the old file's owner, group or attributes over means: the new file would
// not be what the old one was, so the save stays in place instead.
enum class CarryOver { kDone, kImpossible, kFailed };

// The names of fd's extended attributes. A file system without them has none.
bool attributeNames(int fd, std::vector<std::string>& names) {
  names.clear();
  std::vector<char> list;
  for (;;) {
    const ssize_t length = listAttributes(fd, list.data(), list.size());
    if (length >= 0 && static_cast<std::size_t>(length) <= list.size()) {
      list.resize(static_cast<std::size_t>(length));
      break;
    }
    if (length < 0 && errno == ENOTSUP) {
      return true;
    }
    if (length < 0 && errno != ERANGE) {
      return false;
    }
    // Asked for the size (or the list grew meanwhile): ask again with room for it.
    list.resize(length > 0 ? static_cast<std::size_t>(length) : list.size() * 2 + 64);
  }
  for (std::size_t at = 0; at < list.size();) {
    names.emplace_back(list.data() + at, ::strnlen(list.data() + at, list.size() - at));
    at += names.back().size() + 1;
  }
  return true;
}

CarryOver carryAttributes(int from, int to) {
  std::vector<std::string> carried;
  if (!attributeNames(from, carried)) {
    return CarryOver::kFailed;
  }
  for (const std::string& name : carried) {
    const ssize_t size = getAttribute(from, name.c_str(), nullptr, 0);
    std::vector<char> value(size > 0 ? static_cast<std::size_t>(size) : 0);
    if (size < 0 || getAttribute(from, name.c_str(), value.data(), value.size()) != size) {
      return CarryOver::kFailed;
    }
    if (setAttribute(to, name.c_str(), value.data(), value.size()) != 0) {
      return errno == EPERM || errno == ENOTSUP ? CarryOver::kImpossible : CarryOver::kFailed;
    }
  }
  // A default ACL of the folder gives the new file an ACL that the old one may not have had.
  std::vector<std::string> own;
  if (!attributeNames(to, own)) {
    return CarryOver::kFailed;
  }
  for (const std::string& name : own) {
    if (std::find(carried.begin(), carried.end(), name) == carried.end() &&
        removeAttribute(to, name.c_str()) != 0) {
      return errno == EPERM ? CarryOver::kImpossible : CarryOver::kFailed;
    }
  }
  return CarryOver::kDone;
}

CarryOver carryOver(int from, const struct stat& status, int to) {
  struct stat own {};
  if (::fstat(to, &own) != 0) {
    return CarryOver::kFailed;
  }
  if ((own.st_uid != status.st_uid || own.st_gid != status.st_gid) &&
      ::fchown(to, status.st_uid, status.st_gid) != 0) {
    return errno == EPERM ? CarryOver::kImpossible : CarryOver::kFailed;
  }
  // The attributes before the mode: an ACL that the folder's default ACL gave the new file is
  // removed before the mode opens its mask, so the new file is never more open than the old one.
  if (const CarryOver attributes = carryAttributes(from, to); attributes != CarryOver::kDone) {
    return attributes;
  }
  // After fchown(), which clears the set-user-ID and set-group-ID bits.
  return ::fchmod(to, status.st_mode & 07777) == 0 ? CarryOver::kDone : CarryOver::kFailed;
}

}  // namespace

void LockedQrc::saveChanged(const PrintedText& text) {
  // A file-size limit then makes a write fail with EFBIG, which is reported, instead of killing
  // the process.
  std::signal(SIGXFSZ, SIG_IGN);
  Platform& p = *platform_;
  if (p.folder < 0) {
    throwCannotWrite(uiPath_, reason(p.folderError == 0 ? ENOENT : p.folderError));
  }
  if (missing_) {
    replace(text);  // there is no old file to rewrite in place
    return;
  }
  if (::faccessat(p.folder, p.name.c_str(), W_OK, AT_EACCESS) != 0) {
    throwCannotWrite(uiPath_, reason(errno));
  }
  // A file mounted on its own (a container's bind mount) cannot be renamed over.
  struct stat folder {};
  const bool mountedAlone = ::fstat(p.folder, &folder) == 0 && folder.st_dev != p.status.st_dev;
  if (p.status.st_nlink > 1 || mountedAlone || !replace(text)) {
    rewriteInPlace(text);
  }
}

bool LockedQrc::replace(const PrintedText& text) {
  Platform& p = *platform_;
  std::string name;
  int temporary = -1;
  for (int attempt = 0; attempt < 100 && temporary < 0; ++attempt) {
    name = temporaryName(p.name);
    // A new file gets the mode that the umask or the folder's default ACL gives it; a replacing
    // one gets the old file's below.
    temporary = ::openat(p.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                         missing_ ? 0666 : 0600);
    if (temporary < 0 && errno != EEXIST) {
      break;
    }
  }
  if (temporary < 0) {
    if (!missing_ && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      return false;  // a folder that cannot be written
    }
    throwCannotWrite(uiPath_, reason(errno));
  }
  // Locked until it is in place, so that a run beside this one (where a program replaced the
  // .qrc without the lock) does not take it for a leftover.
  if (::flock(temporary, LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK && errno != EOPNOTSUPP) {
    const int error = errno;
    ::close(temporary);
    std::ignore = ::unlinkat(p.folder, name.c_str(), 0);
    throwCannotWrite(uiPath_, reason(error));
  }
  // Until the rename, the old file is untouched; any failure removes the new file again.
  const auto discard = [&] {
    if (temporary >= 0) {
      ::close(temporary);
    }
    std::ignore = ::unlinkat(p.folder, name.c_str(), 0);  // best effort; the next run tidies up
  };
  const auto fail = [&](const std::string& why) {
    discard();
    throwCannotWrite(uiPath_, why);
  };
  switch (missing_ ? CarryOver::kDone : carryOver(p.fd, p.status, temporary)) {
  case CarryOver::kImpossible:
    discard();
    return false;
  case CarryOver::kFailed:
    fail(reason(errno));
  case CarryOver::kDone:
    break;
  }
  if (const int error = writeBlocks(temporary, text)) {
    fail(reason(error));
  }
  if (const int error = flushToDisk(temporary)) {
    fail(reason(error));
  }
  // Another program may have replaced the file without taking the lock; its content would be lost.
  struct stat current {};
  if (::fstatat(p.folder, p.name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0) {
    if (!missing_ || errno != ENOENT) {
      fail(errno == ENOENT ? "the file was replaced during the run" : reason(errno));
    }
  } else if (missing_) {
    fail("the file was created during the run");
  } else if (!sameFile(current, p.status)) {
    fail("the file was replaced during the run");
  }
  // That check and the rename cannot be one step. Where the system can exchange two names, the
  // file swapped out is checked after the exchange, and the exchange undone if it was not the
  // locked file.
  if (!missing_ && exchangeNames(p.folder, name.c_str(), p.name.c_str()) == 0) {
    struct stat swapped {};
    if (::fstatat(p.folder, name.c_str(), &swapped, AT_SYMLINK_NOFOLLOW) == 0 &&
        !sameFile(swapped, p.status)) {
      if (exchangeNames(p.folder, name.c_str(), p.name.c_str()) == 0) {
        fail("the file was replaced during the run");
      }
      // The other program's file keeps the temporary name unless it gets a name of its own, which
      // no run's tidying up takes for a leftover: linked there first, so that nothing is replaced.
      const std::string aside = replacedName(p.name);
      const bool moved = ::linkat(p.folder, name.c_str(), p.folder, aside.c_str(), 0) == 0 &&
                         ::unlinkat(p.folder, name.c_str(), 0) == 0;
      ::close(temporary);
      throwCannotWrite(uiPath_,
                       "the file was replaced during the run; the other program's file "
                       "is now " +
                           (moved ? aside : name));
    }
    std::ignore = ::unlinkat(p.folder, name.c_str(), 0);  // the old file; the next run tidies up
  } else if (!missing_ && errno != ENOSYS && errno != EINVAL && errno != ENOTSUP &&
             errno != EOPNOTSUPP) {
    if (errno == EBUSY || errno == EXDEV) {
      discard();
      return false;  // a file mounted on its own
    }
    fail(errno == ENOENT ? "the file was replaced during the run" : reason(errno));
  } else if (::renameat(p.folder, name.c_str(), p.folder, p.name.c_str()) != 0) {
    if (!missing_ && (errno == EBUSY || errno == EXDEV)) {
      discard();
      return false;
    }
    fail(reason(errno));
  }
  // The new file's lock goes with it: a file that is in place is no run's leftover.
  if (::close(std::exchange(temporary, -1)) != 0) {
    warn("cannot close " + uiPath_ + " after writing it: " + reason(errno));
  }
  // The new content is in place; flushing the folder makes the rename itself survive a power loss.
  if (const int error = flushToDisk(p.folder)) {
    warn("cannot flush the folder of " + uiPath_ + ": " + reason(error));
  }
  return true;
}

}  // namespace resweaver
