// Native paths where they are narrow already: the bytes pass unchanged. Paths are resolved here
// rather than by the standard library, whose implementations differ: libc++ makes a relative path
// absolute before resolving it, libstdc++ keeps a relative path whose first part is missing
// relative, and their messages differ too. This is libstdc++'s way, on every system.
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "file_system_error.h"
#include "native_path.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// Whether path exists; a missing part is no error, any other failure is.
bool found(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    return true;
  }
  if (errno == ENOENT || errno == ENOTDIR) {
    return false;
  }
  throw FileSystemError("status", path, errno);
}

fs::path currentPath() {
  std::unique_ptr<char, void (*)(void*)> cwd(::getcwd(nullptr, 0), std::free);
  if (cwd == nullptr) {
    throw FileSystemError("cannot get current path", errno);
  }
  return fs::path(cwd.get());
}

// The absolute path of an existing file with every link, "." and ".." resolved.
fs::path resolved(const fs::path& path) {
  const fs::path absolute = path.is_absolute() ? path : currentPath() / path;
  std::unique_ptr<char, void (*)(void*)> real(::realpath(absolute.c_str(), nullptr), std::free);
  if (real == nullptr) {
    throw FileSystemError("cannot make canonical path", path, errno);
  }
  return fs::path(real.get());
}

}  // namespace

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
  if (found(path)) {
    return resolved(path);
  }
  // The longest leading part that exists is resolved, and the rest appended as it is.
  fs::path result;
  auto part = path.begin();
  for (; part != path.end(); ++part) {
    fs::path longer = result / *part;
    if (!found(longer)) {
      break;
    }
    result = std::move(longer);
  }
  if (!result.empty()) {
    result = resolved(result);
  }
  for (; part != path.end(); ++part) {
    result /= *part;
  }
  return result.lexically_normal();
}

}  // namespace resweaver
