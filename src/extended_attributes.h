// Extended attributes of open files (ACLs, security labels, user attributes), which a new file must
// be given to be what the old one was. Linux and macOS have them, with calls that take different
// arguments; CMake chooses the file (extended_attributes_*.cc). On other systems a file has none
// that the tool can see, and none are carried.
#ifndef RESWEAVER_EXTENDED_ATTRIBUTES_H_
#define RESWEAVER_EXTENDED_ATTRIBUTES_H_

#include <cstddef>
#include <sys/types.h>

namespace resweaver {

// Whether this build carries extended attributes at all.
extern const bool kCarriesAttributes;

// As Linux's flistxattr(), fgetxattr(), fsetxattr() (flags 0) and fremovexattr(): -1 and errno
// on failure.
ssize_t listAttributes(int fd, char* names, std::size_t size);
ssize_t getAttribute(int fd, const char* name, void* value, std::size_t size);
int setAttribute(int fd, const char* name, const void* value, std::size_t size);
int removeAttribute(int fd, const char* name);

}  // namespace resweaver

#endif  // RESWEAVER_EXTENDED_ATTRIBUTES_H_
