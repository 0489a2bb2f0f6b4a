// Listing a folder with Linux's getdents64(): one call fills a 64 KiB buffer with entries, their
// types included, where readdir() goes through a smaller buffer of the C library's.
#include <cerrno>
#include <dirent.h>
#include <unistd.h>
#include <utility>

#include "file_system_error.h"
#include "folder_listing.h"

namespace resweaver {

namespace {

constexpr std::size_t kListingBuffer = 64 * 1024;

EntryType typeOf(unsigned char type) {
  switch (type) {
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

}  // namespace

void throwCannotIncrement(int error) {
  throw FileSystemError("cannot increment recursive directory iterator", error);
}

FolderListing::FolderListing(int fd)
    : fd_(fd), buffer_(new char[kListingBuffer]) {}  // filled by the listing: left as it is

FolderListing::FolderListing(FolderListing&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      buffer_(std::move(other.buffer_)),
      at_(other.at_),
      length_(other.length_) {}

FolderListing::~FolderListing() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool FolderListing::next(const char*& name, EntryType& type) {
  for (;;) {
    while (at_ < length_) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer_.get() + at_);
      at_ += entry->d_reclen;
      if (!isDots(entry->d_name)) {
        name = entry->d_name;
        type = typeOf(entry->d_type);
        return true;
      }
    }
    const ssize_t length = ::getdents64(fd_, buffer_.get(), kListingBuffer);
    if (length < 0) {
      throwCannotIncrement(errno);
    }
    if (length == 0) {
      return false;
    }
    at_ = 0;
    length_ = static_cast<std::size_t>(length);
  }
}

}  // namespace resweaver
