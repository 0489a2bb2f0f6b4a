// Extended attributes with Linux's calls.
#include <sys/xattr.h>

#include "extended_attributes.h"

namespace resweaver {

const bool kCarriesAttributes = true;

ssize_t listAttributes(int fd, char* names, std::size_t size) {
  return ::flistxattr(fd, names, size);
}

ssize_t getAttribute(int fd, const char* name, void* value, std::size_t size) {
  return ::fgetxattr(fd, name, value, size);
}

int setAttribute(int fd, const char* name, const void* value, std::size_t size) {
  return ::fsetxattr(fd, name, value, size, 0);
}

int removeAttribute(int fd, const char* name) {
  return ::fremovexattr(fd, name);
}

}  // namespace resweaver
