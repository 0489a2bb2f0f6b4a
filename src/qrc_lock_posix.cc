// Locking on POSIX systems: flock() with a notice when a run has to wait, the folder that holds
// the locked .qrc found without resolving its path a second time, and the leftovers of killed runs
// told apart from the new files of runs still at work.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "qrc_file_posix.h"

namespace resweaver {

namespace {

extern "C" void wakeUp(int) {}

// Unblocks SIGALRM while a run waits for its lock: a build tool may start it with the signal
// blocked (the mask survives exec), and the notice would never come.
class AlarmUnblocked {
 public:
  AlarmUnblocked() {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &alarm, &previous_);
  }
  ~AlarmUnblocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  AlarmUnblocked(const AlarmUnblocked&) = delete;
  AlarmUnblocked& operator=(const AlarmUnblocked&) = delete;

 private:
  sigset_t previous_;
};

// Splits path into the folder it lies in ("." for a bare name) and its last name.
void split(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
    return;
  }
  folder = slash == 0 ? "/" : path.substr(0, slash);
  name = path.substr(slash + 1);
}

// A link chain longer than this is a loop, as the system counts.
constexpr int kMaxLinks = 40;

}  // namespace

int lockWaiting(int fd, int operation, const std::string& uiPath) {
  if (::flock(fd, operation | LOCK_NB) == 0) {
    return 0;
  }
  if (errno != EWOULDBLOCK) {
    return errno;
  }
  // A repeating timer interrupts the blocking flock() every second; the first interruption prints
  // the notice, and a missed one (the timer firing just before the call) is made up by the next.
  struct sigaction interrupt {};
  interrupt.sa_handler = wakeUp;  // without SA_RESTART, so that flock() returns EINTR
  sigemptyset(&interrupt.sa_mask);
  struct sigaction previous {};
  ::sigaction(SIGALRM, &interrupt, &previous);
  const AlarmUnblocked unblocked;
  const itimerval everySecond{{1, 0}, {1, 0}};
  ::setitimer(ITIMER_REAL, &everySecond, nullptr);
  int error = 0;
  bool noticed = false;
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) {
      error = errno;
      break;
    }
    if (!noticed) {
      const std::string notice = "waiting for another run on " + uiPath + "\n";
      std::fwrite(notice.data(), 1, notice.size(), stderr);
      noticed = true;
    }
  }
  const itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  return error;
}

int openHoldingFolder(const std::string& uiPath, const struct stat& locked, std::string& name) {
  // Each link is followed from the folder that holds it, through descriptors: the path is never
  // resolved as a whole, so a path longer than PATH_MAX is no obstacle, and what is checked is
  // what is used.
  std::string path = uiPath;
  int at = AT_FDCWD;
  for (int links = 0; links <= kMaxLinks; ++links) {
    std::string folderPath;
    split(path, folderPath, name);
    const int folder = ::openat(at, folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    if (at != AT_FDCWD) {
      ::close(at);
    }
    if (folder < 0) {
      errno = error;
      return -1;
    }
    struct stat found {};
    if (::fstatat(folder, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
      ::close(folder);
      return -2;  // gone since the lock was checked: replaced
    }
    if (!S_ISLNK(found.st_mode)) {
      if (!sameFile(found, locked)) {
        ::close(folder);
        return -2;
      }
      return folder;
    }
    std::vector<char> target(static_cast<std::size_t>(found.st_size > 0 ? found.st_size : 255) + 1);
    const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
      ::close(folder);
      return -2;  // changed while it was read
    }
    path.assign(target.data(), static_cast<std::size_t>(length));
    at = folder;
  }
  ::close(at);
  errno = ELOOP;
  return -1;
}

void removeLeftovers(int folder, const std::string& name) {
  const int listing = ::dup(folder);
  DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
  if (entries == nullptr) {
    if (listing >= 0) {
      ::close(listing);
    }
    return;
  }
  ::rewinddir(entries);
  while (const dirent* entry = ::readdir(entries)) {
    if (!isTemporaryName(entry->d_name, name)) {
      continue;
    }
    // A run at work holds a lock on its new file until it is renamed; a program that replaced the
    // .qrc without the lock may have let such a run go on beside this one.
    const int fd = ::openat(folder, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      continue;
    }
    std::ignore = ::unlinkat(folder, entry->d_name, 0);  // a stale file; gone is gone
    if (fd >= 0) {
      ::close(fd);
    }
  }
  ::closedir(entries);
}

}  // namespace resweaver
