// Native paths where they are narrow already: the bytes pass unchanged.
#include "native_path.h"

namespace resweaver {

namespace fs = std::filesystem;

fs::path pathFromNarrow(const std::string& text) {
  return fs::path(text);
}

std::string narrowText(const fs::path& path) {
  return path.string();
}

void appendNarrow(std::string& text, NativeView native) {
  text += native;
}

std::string_view narrowView(NativeView native, std::string& /*buffer*/) {
  return native;
}

fs::path weaklyCanonical(const fs::path& path) {
  return fs::weakly_canonical(path);
}

}  // namespace resweaver
