// The walk on POSIX systems, on folder descriptors: each folder opened relative to its parent
// (never through a link), listed by the system's own listing (folder_listing_*.cc), the entry type
// taken from the listing, and a status call only for links and entries of unknown type. Each
// entry's path grows from its folder's path by one name, where the standard iterator builds and
// parses a path object per entry; that was three quarters of a run's instructions.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "file_system_error.h"
#include "folder_listing.h"
#include "folder_walk.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// A folder being walked and the length of its path with a separator. In listing order its entries
// come from its listing as the walk goes; sorted, they are read whole first, into the names of all
// folders on the way down.
struct Folder {
  FolderListing listing;
  std::size_t pathLength;
  std::size_t firstName = 0;  // sorted: this folder's names
  std::size_t firstText = 0;
  std::size_t next = 0;
  std::size_t end = 0;
};

struct Name {
  std::size_t offset;  // into the name text
  EntryType type;      // as the listing gives it
};

class Walk {
 public:
  Walk(const fs::path& htmlPath, bool sorted, const WalkVisitor& visitor)
      : htmlPath_(htmlPath), sorted_(sorted), visitor_(visitor), path_(htmlPath.native()) {}

  void run() {
    // The top folder is opened as opendir() opens it: a link to a folder is followed.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      throw FileSystemError("recursive directory iterator cannot open directory", htmlPath_, errno);
    }
    const bool slash = path_.empty() || path_.back() == '/';
    enter(fd, path_.size() + (slash ? 0 : 1));
    below_ = folders_.back().pathLength;
    while (!folders_.empty()) {
      const char* name = nullptr;
      EntryType type = EntryType::kUnknown;
      if (!nextEntry(name, type)) {
        const Folder& folder = folders_.back();
        names_.resize(folder.firstName);
        text_.resize(folder.firstText);
        folders_.pop_back();
        continue;
      }
      visit(folders_.back(), name, type);
    }
  }

 private:
  // The next entry of the innermost folder; false at its end.
  bool nextEntry(const char*& name, EntryType& type) {
    Folder& folder = folders_.back();
    if (!sorted_) {
      return folder.listing.next(name, type);
    }
    if (folder.next == folder.end) {
      return false;
    }
    const Name& next = names_[folder.next++];
    name = text_.data() + next.offset;
    type = next.type;
    return true;
  }

  void visit(const Folder& folder, const char* text, EntryType type) {
    path_.resize(folder.pathLength);
    path_.back() = '/';
    path_ += text;
    const int at = folder.listing.fd();
    struct stat status {};
    if (type == EntryType::kUnknown) {
      type = ::fstatat(at, text, &status, AT_SYMLINK_NOFOLLOW) != 0 ? EntryType::kOther
             : S_ISDIR(status.st_mode)                              ? EntryType::kFolder
             : S_ISLNK(status.st_mode)                              ? EntryType::kLink
                                                                    : EntryType::kOther;
    }
    if (type == EntryType::kFolder) {
      if (visitor_.enterFolder && !visitor_.enterFolder({path_, below_, false})) {
        return;
      }
      // O_NOFOLLOW: a folder swapped for a link since the listing is refused, not entered.
      const int fd =
          ::openat(at, text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) {
        throwCannotIncrement(errno);
      }
      enter(fd, path_.size() + 1);
      return;
    }
    const bool link = type == EntryType::kLink;
    if (link) {
      // A link counts as what it leads to: a folder is skipped (and not entered), anything else is
      // listed; one that leads nowhere is listed too.
      if (::fstatat(at, text, &status, 0) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
          throw FileSystemError("status", fs::path(path_), errno);
        }
      } else if (S_ISDIR(status.st_mode)) {
        return;
      }
    }
    visitor_.file({path_, below_, link});
  }

  // Makes the folder open on fd, whose path is pathLength long with its separator, the next to
  // walk. Sorted, its names are read and sorted now.
  void enter(int fd, std::size_t pathLength) {
    Folder folder{FolderListing(fd), pathLength};
    if (sorted_) {
      folder.firstName = names_.size();
      folder.firstText = text_.size();
      const char* name = nullptr;
      EntryType type = EntryType::kUnknown;
      while (folder.listing.next(name, type)) {
        names_.push_back({text_.size(), type});
        text_.append(name, std::strlen(name) + 1);
      }
      std::sort(names_.begin() + static_cast<std::ptrdiff_t>(folder.firstName), names_.end(),
                [this](const Name& a, const Name& b) {
                  return std::strcmp(text_.data() + a.offset, text_.data() + b.offset) < 0;
                });
      folder.next = folder.firstName;
      folder.end = names_.size();
    }
    folders_.push_back(std::move(folder));
  }

  const fs::path& htmlPath_;
  const bool sorted_;
  const WalkVisitor& visitor_;
  std::string path_;  // the path of the entry being visited
  std::size_t below_ = 0;
  std::vector<Folder> folders_;
  std::vector<Name> names_;  // sorted: the names of every folder on the way down, folder by folder
  std::string text_;         // their text, each followed by a NUL byte
};

}  // namespace

void walkFolder(const fs::path& htmlPath, bool sorted, const WalkVisitor& visitor) {
  Walk(htmlPath, sorted, visitor).run();
}

}  // namespace resweaver
