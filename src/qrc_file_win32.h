// What the Win32 halves of the .qrc file unit share: the open, locked file and where it lies.
#ifndef RESWEAVER_QRC_FILE_WIN32_H_
#define RESWEAVER_QRC_FILE_WIN32_H_

#include <string>
#include <system_error>
#include <windows.h>

#include "qrc_file.h"

namespace resweaver {

struct LockedQrc::Platform {
  HANDLE file = INVALID_HANDLE_VALUE;  // the locked .qrc, opened for reading
  BY_HANDLE_FILE_INFORMATION info{};   // as it was when the lock was granted
  std::wstring folder;                 // the folder that holds the .qrc (links followed)
  std::wstring name;                   // the .qrc's name in that folder

  ~Platform();  // releases the lock
  std::wstring path() const { return folder + L"\\" + name; }
};

// The text of a system error code.
std::string reason(DWORD error);

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b);

// The identity of the file that path names now, links followed; false if there is none.
bool identify(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_FILE_WIN32_H_
