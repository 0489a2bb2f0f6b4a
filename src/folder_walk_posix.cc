// The walk on Linux, on folder descriptors: openat() and getdents64() for each folder, the entry
// type from the listing, and a status call only for links and entries of unknown type. Each
// entry's path grows from its folder's path by one name, where the standard iterator builds and
// parses a path object per entry; that was three quarters of a run's instructions. In listing
// order, entries are taken straight from the listing buffer, as readdir() takes them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "folder_walk.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

[[noreturn]] void throwCannotIncrement(std::error_code error) {
  throw fs::filesystem_error("cannot increment recursive directory iterator", error);
}

// A folder being walked: its open descriptor and the length of its path with a separator. In
// listing order its entries come a batch at a time from the listing buffer of its depth, as
// readdir() gives them; sorted, they are read whole first, into the names of all folders on the
// way down.
struct Folder {
  int fd;
  std::size_t pathLength;
  std::size_t at = 0;         // listing order: the next entry in the buffer
  std::size_t length = 0;     // and the end of the batch in it
  std::size_t firstName = 0;  // sorted: this folder's names
  std::size_t firstText = 0;
  std::size_t next = 0;
  std::size_t end = 0;
};

struct Name {
  std::size_t offset;  // into the name text
  unsigned char type;  // as the listing gives it (DT_...)
};

class Walk {
 public:
  Walk(const fs::path& htmlPath, bool sorted, const std::function<void(const WalkEntry&)>& visit)
      : htmlPath_(htmlPath), sorted_(sorted), visit_(visit), path_(htmlPath.native()) {}

  ~Walk() {
    for (const Folder& folder : folders_) {
      ::close(folder.fd);
    }
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  void run() {
    // The top folder is opened as opendir() opens it: a link to a folder is followed.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      throw fs::filesystem_error("recursive directory iterator cannot open directory", htmlPath_,
                                 lastError());
    }
    const bool slash = path_.empty() || path_.back() == '/';
    enter(fd, path_.size() + (slash ? 0 : 1));
    below_ = folders_.back().pathLength;
    while (!folders_.empty()) {
      const char* name = nullptr;
      unsigned char type = DT_UNKNOWN;
      if (!nextEntry(name, type)) {
        const Folder& folder = folders_.back();
        ::close(folder.fd);
        names_.resize(folder.firstName);
        text_.resize(folder.firstText);
        folders_.pop_back();
        continue;
      }
      visit(folders_.back(), name, type);
    }
  }

 private:
  // The next entry of the innermost folder, "." and ".." left out; false at its end.
  bool nextEntry(const char*& name, unsigned char& type) {
    Folder& folder = folders_.back();
    if (sorted_) {
      if (folder.next == folder.end) {
        return false;
      }
      const Name& next = names_[folder.next++];
      name = text_.data() + next.offset;
      type = next.type;
      return true;
    }
    char* buffer = buffers_[folders_.size() - 1].get();
    for (;;) {
      while (folder.at < folder.length) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + folder.at);
        folder.at += entry->d_reclen;
        if (!isDots(entry->d_name)) {
          name = entry->d_name;
          type = entry->d_type;
          return true;
        }
      }
      const ssize_t length = ::getdents64(folder.fd, buffer, kListingBuffer);
      if (length < 0) {
        throwCannotIncrement(lastError());
      }
      if (length == 0) {
        return false;
      }
      folder.at = 0;
      folder.length = static_cast<std::size_t>(length);
    }
  }

  static bool isDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
  }

  void visit(const Folder& folder, const char* text, unsigned char type) {
    path_.resize(folder.pathLength);
    path_.back() = '/';
    path_ += text;
    struct stat status {};
    if (type == DT_UNKNOWN) {
      type = ::fstatat(folder.fd, text, &status, AT_SYMLINK_NOFOLLOW) != 0 ? DT_REG
             : S_ISDIR(status.st_mode)                                     ? DT_DIR
             : S_ISLNK(status.st_mode)                                     ? DT_LNK
                                                                           : DT_REG;
    }
    if (type == DT_DIR) {
      const int fd =
          ::openat(folder.fd, text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) {
        throwCannotIncrement(lastError());
      }
      enter(fd, path_.size() + 1);
      return;
    }
    if (type == DT_LNK) {
      // A link counts as what it leads to: a folder is skipped (and not entered), anything else is
      // listed; one that leads nowhere is listed too.
      if (::fstatat(folder.fd, text, &status, 0) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
          throw fs::filesystem_error("status", fs::path(path_), lastError());
        }
      } else if (S_ISDIR(status.st_mode)) {
        return;
      }
    }
    visit_({path_, below_, type == DT_LNK});
  }

  // Makes the folder open on fd, whose path is pathLength long with its separator, the next to
  // walk. Sorted, its names are read and sorted now.
  void enter(int fd, std::size_t pathLength) {
    Folder folder{fd, pathLength};
    if (!sorted_) {
      if (buffers_.size() < folders_.size() + 1) {
        buffers_.emplace_back(new char[kListingBuffer]);  // filled by the listing: left as it is
      }
      folders_.push_back(folder);
      return;
    }
    folder.firstName = names_.size();
    folder.firstText = text_.size();
    for (;;) {
      const ssize_t length = ::getdents64(fd, sortBuffer_.get(), kListingBuffer);
      if (length == 0) {
        break;
      }
      if (length < 0) {
        const std::error_code error = lastError();
        ::close(fd);
        throwCannotIncrement(error);
      }
      for (ssize_t at = 0; at < length;) {
        const auto* entry = reinterpret_cast<const dirent64*>(sortBuffer_.get() + at);
        at += entry->d_reclen;
        if (!isDots(entry->d_name)) {
          names_.push_back({text_.size(), entry->d_type});
          text_.append(entry->d_name, std::strlen(entry->d_name) + 1);
        }
      }
    }
    std::sort(names_.begin() + static_cast<std::ptrdiff_t>(folder.firstName), names_.end(),
              [this](const Name& a, const Name& b) {
                return std::strcmp(text_.data() + a.offset, text_.data() + b.offset) < 0;
              });
    folder.next = folder.firstName;
    folder.end = names_.size();
    folders_.push_back(folder);
  }

  static constexpr std::size_t kListingBuffer = 64 * 1024;

  const fs::path& htmlPath_;
  const bool sorted_;
  const std::function<void(const WalkEntry&)>& visit_;
  std::string path_;  // the path of the entry being visited
  std::size_t below_ = 0;
  std::vector<Folder> folders_;
  std::vector<std::unique_ptr<char[]>> buffers_;  // listing order: one listing buffer per depth
  std::vector<Name> names_;  // sorted: the names of every folder on the way down, folder by folder
  std::string text_;         // their text, each followed by a NUL byte
  std::unique_ptr<char[]> sortBuffer_{sorted_ ? new char[kListingBuffer] : nullptr};
};

}  // namespace

void walkFolder(const fs::path& htmlPath, bool sorted,
                const std::function<void(const WalkEntry&)>& visit) {
  Walk(htmlPath, sorted, visit).run();
}

}  // namespace resweaver
