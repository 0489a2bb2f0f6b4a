// The entries of one open folder, as the system lists them. Each POSIX system has its own fastest
// way to list a folder; the portable one is readdir() on the folder's descriptor, and Linux also
// has getdents64(), which fills a large buffer per call. CMake chooses the file.
#ifndef RESWEAVER_FOLDER_LISTING_H_
#define RESWEAVER_FOLDER_LISTING_H_

#include <cstddef>
#include <memory>

namespace resweaver {

enum class EntryType {
  kUnknown,  // the listing does not say: the walk asks the file system
  kFolder,
  kLink,
  kOther,
};

class FolderListing {
 public:
  // Takes over fd, an open folder; closes it on failure. Throws FileSystemError.
  explicit FolderListing(int fd);
  FolderListing(FolderListing&& other) noexcept;
  FolderListing& operator=(FolderListing&&) = delete;
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;
  ~FolderListing();

  // The folder's descriptor, for calls relative to it.
  int fd() const { return fd_; }

  // The next entry, "." and ".." left out; false at the end. name stays valid until the next
  // call. Throws FileSystemError when the listing fails.
  bool next(const char*& name, EntryType& type);

 private:
  // Each listing uses its own fields.
  int fd_;
  [[maybe_unused]] void* stream_ = nullptr;  // readdir(): the DIR of fd_
  std::unique_ptr<char[]> buffer_;           // getdents64(): a batch of entries
  [[maybe_unused]] std::size_t at_ = 0;
  [[maybe_unused]] std::size_t length_ = 0;
};

inline bool isDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

[[noreturn]] void throwCannotIncrement(int error);

}  // namespace resweaver

#endif  // RESWEAVER_FOLDER_LISTING_H_
