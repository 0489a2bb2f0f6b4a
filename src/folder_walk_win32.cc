// The walk on Windows: the standard iterator itself. A sorted walk takes the listing order too;
// the scan sorts the texts afterwards.
#include <algorithm>

#include "folder_walk.h"

namespace resweaver {

namespace fs = std::filesystem;

void walkFolder(const fs::path& htmlPath, bool /*sorted*/,
                const std::function<void(const WalkEntry&)>& visit) {
  // The iterator forms an entry's path by appending the names below the HTML folder to htmlPath.
  const auto& html = htmlPath.native();
  const std::size_t below =
      html.size() + (html.empty() || html.back() == fs::path::preferred_separator ? 0 : 1);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(htmlPath)) {
    if (!entry.is_directory()) {
      const auto& path = entry.path().native();
      visit({path, std::min(below, path.size()), entry.is_symlink()});
    }
  }
}

}  // namespace resweaver
