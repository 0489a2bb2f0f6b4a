// The .qrc file on POSIX systems: an flock() on the file, positioned reads and writes.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "qrc_file.h"
#include "qrc_file_platform.h"

namespace resweaver {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

namespace {

int fdOf(std::intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

QrcLock::QrcLock(const std::string& uiPath)
    : handle_(::open(uiPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; anything but a regular file is
  // then refused, since its size cannot be found and its bytes may never end.
  const int fd = fdOf(handle_);
  struct stat status;
  if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (fd >= 0) {
      ::close(fd);
    }
    throw std::runtime_error("cannot open file " + uiPath);
  }
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  // A file system without advisory locks still gets its file rewritten, just without the protection
  // against concurrent runs.
  if (result != 0 && errno != ENOLCK && errno != EOPNOTSUPP) {
    const std::error_code error = lastError();
    ::close(fd);
    throw std::runtime_error("cannot lock file " + uiPath + ": " + error.message());
  }
}

QrcLock::~QrcLock() {
  ::close(fdOf(handle_));  // releases the lock
}

SaveFile::SaveFile(const std::string& path)
    : handle_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666)) {
  // A file-size limit then makes the write fail with EFBIG, which is reported, instead of killing
  // the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

SaveFile::~SaveFile() {
  if (isOpen()) {
    ::close(fdOf(handle_));
  }
}

bool SaveFile::isOpen() const {
  return fdOf(handle_) >= 0;
}

bool SaveFile::size(std::uint64_t& size) const {
  struct stat status;
  if (::fstat(fdOf(handle_), &status) != 0) {
    return false;
  }
  size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

long long SaveFile::readAt(char* data, std::size_t count, std::uint64_t offset) const {
  ssize_t done;
  do {
    done = ::pread(fdOf(handle_), data, count, static_cast<off_t>(offset));
  } while (done < 0 && errno == EINTR);
  return done;
}

bool SaveFile::writeAt(const char* data, std::size_t count, std::uint64_t offset) const {
  while (count > 0) {
    const ssize_t done = ::pwrite(fdOf(handle_), data, count, static_cast<off_t>(offset));
    if (done < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += done;
    count -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
  return true;
}

bool SaveFile::reserve(std::uint64_t size) const {
  const int error = size == 0 ? 0 : ::posix_fallocate(fdOf(handle_), 0, static_cast<off_t>(size));
  errno = error;
  return error == 0;
}

bool SaveFile::truncate(std::uint64_t size) const {
  return ::ftruncate(fdOf(handle_), static_cast<off_t>(size)) == 0;
}

bool SaveFile::close() {
  return ::close(fdOf(std::exchange(handle_, -1))) == 0;
}

}  // namespace resweaver
