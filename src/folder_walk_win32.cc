// The walk on Windows: the standard iterator itself. A sorted walk takes the listing order too;
// the scan sorts the texts afterwards.
#include <algorithm>

#include "folder_walk.h"

namespace resweaver {

namespace fs = std::filesystem;

void walkFolder(const fs::path& htmlPath, bool /*sorted*/, const WalkVisitor& visitor) {
  // The iterator forms an entry's path by appending the names below the HTML folder to htmlPath.
  const auto& html = htmlPath.native();
  const std::size_t below =
      html.size() + (html.empty() || html.back() == fs::path::preferred_separator ? 0 : 1);
  for (auto entries = fs::recursive_directory_iterator(htmlPath);
       entries != fs::recursive_directory_iterator(); ++entries) {
    const fs::directory_entry& entry = *entries;
    const auto& path = entry.path().native();
    const WalkEntry walked{path, std::min(below, path.size()), entry.is_symlink()};
    if (!entry.is_directory()) {
      visitor.file(walked);
    } else if (!entry.is_symlink() && visitor.enterFolder && !visitor.enterFolder(walked)) {
      entries.disable_recursion_pending();
    }
  }
}

}  // namespace resweaver
