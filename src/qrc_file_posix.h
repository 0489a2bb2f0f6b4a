// What the POSIX halves of the .qrc file unit share: the open, locked file and where it lies.
#ifndef RESWEAVER_QRC_FILE_POSIX_H_
#define RESWEAVER_QRC_FILE_POSIX_H_

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "error_text.h"
#include "qrc_file.h"

namespace resweaver {

// The folders whose lock this process holds for files it creates there (see prepareMissing): a
// second file created in the same folder by the same run must not wait for the run's own lock.
bool holdsFolderLock(const struct stat& folder);
void addFolderLock(const struct stat& folder);
void dropFolderLock(const struct stat& folder);

struct LockedQrc::Platform {
  int fd = -1;                  // the locked .qrc, opened for reading
  struct stat status {};        // as it was when the lock was granted
  int folder = -1;              // the folder that holds the .qrc (the final target of any link)
  std::string name;             // the .qrc's name in that folder
  int folderError = 0;          // why the folder could not be opened
  struct stat lockedFolder {};  // the folder, when this object holds its lock
  bool holdsFolder = false;

  ~Platform() {
    if (holdsFolder) {
      dropFolderLock(lockedFolder);
    }
    if (folder >= 0) {
      ::close(folder);
    }
    if (fd >= 0) {
      ::close(fd);  // releases the lock
    }
  }
};

inline std::string reason(int error) {
  return errorText(error);
}

inline bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes every block of text at fd's current position; returns 0 or the error.
int writeBlocks(int fd, const PrintedText& text);

// Takes the lock on fd (LOCK_EX or LOCK_SH). When it is not granted at once, waits, and after a
// second tells on standard error why the run stands still. Returns the error, or 0 once the lock
// is held.
int lockWaiting(int fd, int operation, const std::string& uiPath);

// Opens the folder that holds the file that uiPath names (the final target of any link) and sets
// name to its name there, checking that this entry is the locked file. Returns the folder, -2 when
// the entry is another file (the .qrc was replaced meanwhile), or -1 with errno.
int openHoldingFolder(const std::string& uiPath, const struct stat& locked, std::string& name);

// Removes the leftovers of runs killed between creating their new file and renaming it.
void removeLeftovers(int folder, const std::string& name);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_FILE_POSIX_H_
