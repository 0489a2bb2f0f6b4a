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

  ~Platform() {
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);  // releases the lock
    }
  }
  std::wstring path() const { return folder + L"\\" + name; }
};

inline std::string reason(DWORD error) {
  return std::error_code(static_cast<int>(error), std::system_category()).message();
}

inline bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// The identity of the file that path names now, links followed; false if there is none.
inline bool identify(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE file =
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool known = ::GetFileInformationByHandle(file, &info) != 0;
  ::CloseHandle(file);
  return known;
}

}  // namespace resweaver

#endif  // RESWEAVER_QRC_FILE_WIN32_H_
