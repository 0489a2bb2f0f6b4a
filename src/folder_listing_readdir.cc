// Listing a folder with readdir() on its descriptor: POSIX 2008, on every system. The entry type
// comes from d_type where struct dirent has it.
#include <cerrno>
#include <dirent.h>
#include <unistd.h>
#include <utility>

#include "file_system_error.h"
#include "folder_listing.h"

namespace resweaver {

namespace {

DIR* stream(void* handle) {
  return static_cast<DIR*>(handle);
}

#ifdef RESWEAVER_HAVE_D_TYPE
inline EntryType typeOf(const dirent* entry) {
  switch (entry->d_type) {
  case DT_DIR:
    return EntryType::kFolder;
  case DT_LNK:
    return EntryType::kLink;
  case DT_UNKNOWN:
    return EntryType::kUnknown;
  default:
    return EntryType::kOther;
  }
}
#else
inline EntryType typeOf(const dirent* /*entry*/) {
  return EntryType::kUnknown;
}
#endif

}  // namespace

void throwCannotIncrement(int error) {
  throw FileSystemError("cannot increment recursive directory iterator", error);
}

FolderListing::FolderListing(int fd) : fd_(fd), stream_(::fdopendir(fd)) {
  if (stream_ == nullptr) {
    const int error = errno;
    ::close(fd);
    throwCannotIncrement(error);
  }
}

FolderListing::FolderListing(FolderListing&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), stream_(std::exchange(other.stream_, nullptr)) {}

FolderListing::~FolderListing() {
  if (stream_ != nullptr) {
    ::closedir(stream(stream_));  // closes fd_ too
  }
}

bool FolderListing::next(const char*& name, EntryType& type) {
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream(stream_));
    if (entry == nullptr) {
      if (errno != 0) {
        throwCannotIncrement(errno);
      }
      return false;
    }
    if (!isDots(entry->d_name)) {
      name = entry->d_name;
      type = typeOf(entry);
      return true;
    }
  }
}

}  // namespace resweaver
