// Systems whose extended attributes the tool does not carry (the BSDs have extattr_* calls of
// their own): every file has none, and a new file needs none to be what the old one was.
#include <cerrno>

#include "extended_attributes.h"

namespace resweaver {

const bool kCarriesAttributes = false;

ssize_t listAttributes(int /*fd*/, char* /*names*/, std::size_t /*size*/) {
  return 0;
}

ssize_t getAttribute(int /*fd*/, const char* /*name*/, void* /*value*/, std::size_t /*size*/) {
  errno = ENOTSUP;
  return -1;
}

int setAttribute(int /*fd*/, const char* /*name*/, const void* /*value*/, std::size_t /*size*/) {
  errno = ENOTSUP;
  return -1;
}

int removeAttribute(int /*fd*/, const char* /*name*/) {
  errno = ENOTSUP;
  return -1;
}

}  // namespace resweaver
