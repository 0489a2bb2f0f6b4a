// The .qrc file on POSIX systems, opened and locked: flock() on the open file, and pread() through
// it.
#include "qrc_file_posix.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "qrc_file.h"

namespace resweaver {

namespace {

// A run whose path keeps naming another file after this many locks gives up.
constexpr int kMaxLockAttempts = 1000;

// "cannot open file <path>", with the reason where it is not about the file itself (too many open
// files, no memory), which the path alone would not explain.
[[noreturn]] void throwCannotOpen(const std::string& uiPath, int error) {
  const bool aboutTheFile = error != EMFILE && error != ENFILE && error != ENOMEM &&
                            error != ENOBUFS && error != EINTR && error != EIO;
  throw std::runtime_error("cannot open file " + uiPath +
                           (aboutTheFile ? "" : ": " + reason(error)));
}

}  // namespace

LockedQrc::LockedQrc(std::string uiPath, Access access)
    : uiPath_(std::move(uiPath)), access_(access), platform_(std::make_unique<Platform>()) {
  Platform& p = *platform_;
  const int operation = access == Access::kCheck ? LOCK_SH : LOCK_EX;
  for (int attempt = 1;; ++attempt) {
    // O_NONBLOCK keeps a FIFO without a writer from blocking the open; anything but a regular file
    // is then refused, since its size cannot be found and its bytes may never end.
    p.fd = ::open(uiPath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (p.fd < 0 && errno == ENOENT && access == Access::kCreate) {
      if (prepareMissing()) {
        return;
      }
    } else {
      if (p.fd < 0 || ::fstat(p.fd, &p.status) != 0) {
        throwCannotOpen(uiPath_, errno);
      }
      if (!S_ISREG(p.status.st_mode)) {
        throwCannotOpen(uiPath_, 0);
      }
      // A file system without advisory locks still gets its file rewritten, just without the
      // protection against concurrent runs.
      const int error = lockWaiting(p.fd, operation, uiPath_);
      if (error != 0 && error != ENOLCK && error != EOPNOTSUPP) {
        throw std::runtime_error("cannot lock file " + uiPath_ + ": " + reason(error));
      }
      // While this run waited, another may have replaced the file by renaming a new one over it:
      // the lock then guards a file that no longer has this name. The new file is the one to lock.
      struct stat named {};
      if (::fstat(p.fd, &p.status) == 0 && ::stat(uiPath_.c_str(), &named) == 0 &&
          sameFile(named, p.status)) {
        if (access == Access::kCheck) {
          break;
        }
        // The folder for the save is the one whose entry is the locked file, found anew here: a
        // second look at the path could lead elsewhere.
        p.folder = openHoldingFolder(uiPath_, p.status, p.name);
        if (p.folder != -2) {
          p.folderError = p.folder < 0 ? errno : 0;
          break;
        }
        p.folder = -1;
      }
      ::close(std::exchange(p.fd, -1));
    }
    if (attempt == kMaxLockAttempts) {
      throw std::runtime_error("cannot lock file " + uiPath_ + ": it keeps being replaced");
    }
  }
  size_ = static_cast<std::uint64_t>(p.status.st_size);
  if (p.folder >= 0) {
    removeLeftovers(p.folder, p.name);  // otherwise the save reports why it has no folder
  }
}

namespace {

std::vector<std::pair<dev_t, ino_t>>& lockedFolders() {
  static std::vector<std::pair<dev_t, ino_t>> folders;
  return folders;
}

}  // namespace

bool holdsFolderLock(const struct stat& folder) {
  const auto& folders = lockedFolders();
  return std::find(folders.begin(), folders.end(), std::pair(folder.st_dev, folder.st_ino)) !=
         folders.end();
}

void addFolderLock(const struct stat& folder) {
  lockedFolders().emplace_back(folder.st_dev, folder.st_ino);
}

void dropFolderLock(const struct stat& folder) {
  auto& folders = lockedFolders();
  folders.erase(std::find(folders.begin(), folders.end(), std::pair(folder.st_dev, folder.st_ino)));
}

// A file that does not exist cannot be locked: its folder (created if missing) is locked instead,
// so that runs that would create the same file wait for each other. A run that finds the file in
// place once it holds that lock opens and locks the file as usual.
bool LockedQrc::prepareMissing() {
  Platform& p = *platform_;
  struct stat found {};
  if (::lstat(uiPath_.c_str(), &found) == 0) {
    if (S_ISLNK(found.st_mode)) {
      throw std::runtime_error("cannot open file " + uiPath_);  // a link that leads nowhere
    }
    return false;  // created meanwhile
  }
  const std::filesystem::path path(uiPath_);
  p.name = path.filename().string();
  if (p.name.empty() || p.name == "." || p.name == "..") {
    throw std::runtime_error("cannot open file " + uiPath_);
  }
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::error_code created;
  std::filesystem::create_directories(folder, created);
  if (created) {
    throwCannotWrite(uiPath_, reason(created.value()));
  }
  p.folder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (p.folder < 0) {
    throwCannotWrite(uiPath_, reason(errno));
  }
  struct stat folderStatus {};
  if (::fstat(p.folder, &folderStatus) != 0) {
    throwCannotWrite(uiPath_, reason(errno));
  }
  if (!holdsFolderLock(folderStatus)) {
    const int error = lockWaiting(p.folder, LOCK_EX, uiPath_);
    if (error != 0 && error != ENOLCK && error != EOPNOTSUPP) {
      throw std::runtime_error("cannot lock file " + uiPath_ + ": " + reason(error));
    }
    p.lockedFolder = folderStatus;
    p.holdsFolder = true;
    addFolderLock(folderStatus);
  }
  if (::fstatat(p.folder, p.name.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0) {
    // Another run created it while this one waited.
    if (std::exchange(p.holdsFolder, false)) {
      dropFolderLock(p.lockedFolder);
    }
    ::close(std::exchange(p.folder, -1));
    return false;
  }
  missing_ = true;
  removeLeftovers(p.folder, p.name);
  return true;
}

LockedQrc::~LockedQrc() = default;

void LockedQrc::readAt(char* data, std::size_t count, std::uint64_t offset) const {
  while (count > 0) {
    const ssize_t done = ::pread(platform_->fd, data, count, static_cast<off_t>(offset));
    if (done <= 0) {
      if (done < 0 && errno == EINTR) {
        continue;
      }
      throw std::runtime_error("cannot read file " + uiPath_ + ": " +
                               (done == 0 ? "the file became shorter" : reason(errno)));
    }
    data += done;
    count -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
}

}  // namespace resweaver
