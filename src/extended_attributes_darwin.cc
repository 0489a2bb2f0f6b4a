// Extended attributes with macOS's calls, which take a position (for resource forks) and options.
#include <sys/xattr.h>

#include "extended_attributes.h"

namespace resweaver {

const bool kCarriesAttributes = true;

ssize_t listAttributes(int fd, char* names, std::size_t size) {
  return ::flistxattr(fd, names, size, 0);
}

ssize_t getAttribute(int fd, const char* name, void* value, std::size_t size) {
  return ::fgetxattr(fd, name, value, size, 0, 0);
}

int setAttribute(int fd, const char* name, const void* value, std::size_t size) {
  return ::fsetxattr(fd, name, value, size, 0, 0);
}

int removeAttribute(int fd, const char* name) {
  return ::fremovexattr(fd, name, 0);
}

}  // namespace resweaver
