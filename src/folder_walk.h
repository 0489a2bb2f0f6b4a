// The recursive walk of the HTML folder: every entry that is not a folder, in the order and with
// the failures of std::filesystem::recursive_directory_iterator with no options (the listing order
// of each folder, depth first, links to folders neither listed as folders nor entered).
#ifndef RESWEAVER_FOLDER_WALK_H_
#define RESWEAVER_FOLDER_WALK_H_

#include <cstddef>
#include <filesystem>
#include <functional>

#include "native_path.h"

namespace resweaver {

struct WalkEntry {
  NativeView path;    // htmlPath as given, then the names below it
  std::size_t below;  // where the names below htmlPath begin in path
  bool link;  // a symbolic link (or on Windows a junction) to something that is not a folder
};

struct WalkVisitor {
  // Called with each entry that is not a folder.
  std::function<void(const WalkEntry&)> file;
  // Called with each folder below htmlPath before it is opened: false leaves it out, with
  // everything in it, unlisted. Without it, every folder is entered.
  std::function<bool(const WalkEntry&)> enterFolder;
};

// Walks htmlPath. With sorted, each folder's entries come in the bytewise order of their names
// instead of the listing order. Throws filesystem_error with the iterator's own messages.
void walkFolder(const std::filesystem::path& htmlPath, bool sorted, const WalkVisitor& visitor);

}  // namespace resweaver

#endif  // RESWEAVER_FOLDER_WALK_H_
