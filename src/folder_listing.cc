// What the listings share: the entry types that dirent's d_type gives, and the walk's error.
#include "folder_listing.h"

#include <dirent.h>

#include "file_system_error.h"

namespace resweaver {

void throwCannotIncrement(int error) {
  throw FileSystemError("cannot increment recursive directory iterator", error);
}

#ifdef DT_UNKNOWN
EntryType typeFromListing(unsigned char type) {
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
#else
// A system whose listing gives no types: the walk asks the file system.
EntryType typeFromListing(unsigned char /*type*/) {
  return EntryType::kUnknown;
}
#endif

}  // namespace resweaver
