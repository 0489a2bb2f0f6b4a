/*
 * Stand-in for macOS's <sys/xattr.h>, for the Zig cross build only (cmake/zig-*-macos.cmake puts
 * this folder on the include path). Zig 0.11 ships libSystem's stubs for these calls but not the
 * header. The declarations and constants are those of macOS's own header; a build on a Mac uses
 * the SDK's header and never sees this one.
 */
#ifndef RESWEAVER_ZIG_MACOS_SYS_XATTR_H_
#define RESWEAVER_ZIG_MACOS_SYS_XATTR_H_

#include <sys/cdefs.h>
#include <sys/types.h>

/* Options of the calls below. */
#define XATTR_NOFOLLOW 0x0001        /* act on a symbolic link itself, not its target */
#define XATTR_CREATE 0x0002          /* set: fail if the attribute exists */
#define XATTR_REPLACE 0x0004         /* set: fail if the attribute does not exist */
#define XATTR_NOSECURITY 0x0008      /* bypass the authorisation checks */
#define XATTR_NODEFAULT 0x0010       /* bypass the default extended attribute file */
#define XATTR_SHOWCOMPRESSION 0x0020 /* list and get the compression attribute too */

#define XATTR_MAXNAMELEN 127
#define XATTR_FINDERINFO_NAME "com.apple.FinderInfo"
#define XATTR_RESOURCEFORK_NAME "com.apple.ResourceFork"

__BEGIN_DECLS

ssize_t getxattr(const char *path, const char *name, void *value, size_t size,
                 u_int32_t position, int options);
ssize_t fgetxattr(int fd, const char *name, void *value, size_t size, u_int32_t position,
                  int options);
int setxattr(const char *path, const char *name, const void *value, size_t size,
             u_int32_t position, int options);
int fsetxattr(int fd, const char *name, const void *value, size_t size, u_int32_t position,
              int options);
int removexattr(const char *path, const char *name, int options);
int fremovexattr(int fd, const char *name, int options);
ssize_t listxattr(const char *path, char *namebuff, size_t size, int options);
ssize_t flistxattr(int fd, char *namebuff, size_t size, int options);

__END_DECLS

#endif /* RESWEAVER_ZIG_MACOS_SYS_XATTR_H_ */
