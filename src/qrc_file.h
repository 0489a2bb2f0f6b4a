// The .qrc on disk: locked for the whole run, loaded whole into one buffer, and saved over the same
// file so that a failed save leaves the old bytes in place.
#ifndef RESWEAVER_QRC_FILE_H_
#define RESWEAVER_QRC_FILE_H_

#include <cstdint>
#include <string>

#include <rapidxml/rapidxml_utils.hpp>

#include "printed_text.h"

namespace resweaver {

using QrcFile = rapidxml::file<char>;

// An exclusive advisory lock on the .qrc, held from before loading until the save is done, so that
// runs on the same file queue up and each one sees the result of the one before it.
class QrcLock {
 public:
  // Throws "cannot open file <uiPath>" unless uiPath is a regular file that can be read.
  explicit QrcLock(const std::string& uiPath);
  ~QrcLock();
  QrcLock(const QrcLock&) = delete;
  QrcLock& operator=(const QrcLock&) = delete;

 private:
  std::intptr_t handle_;  // a file descriptor, or a Windows handle
};

// Reads the whole file into a NUL-terminated buffer; refuses a file that holds a NUL byte.
QrcFile loadQrc(const std::string& uiPath);

// Writes text over uiPath in place: the file keeps its inode, owner, permissions and links, and
// holds its old bytes when any step fails. Leaves the file alone when text equals its current
// content. Throws "cannot write file <uiPath>: <reason>".
void saveQrc(const std::string& uiPath, const PrintedText& text);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_FILE_H_
