// Saving the .qrc on Windows: a new file written beside the real one, flushed, and put in its place
// with ReplaceFileW, which keeps the old file's attributes and ACL (or MoveFileExW, written
// through); or, where that cannot be, the old file rewritten in place with Ctrl-C held back.
#include <algorithm>
#include <string>
#include <utility>
#include <windows.h>

#include "qrc_file.h"
#include "qrc_file_win32.h"

namespace resweaver {
namespace {

std::wstring widened(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// Writes every block at the file's current position. Returns the error, or 0.
DWORD writeBlocks(HANDLE file, const PrintedText& text) {
  for (std::string_view block : text.blocks()) {
    while (!block.empty()) {
      DWORD done = 0;
      const auto count = static_cast<DWORD>(std::min<std::size_t>(block.size(), 1u << 30));
      if (!::WriteFile(file, block.data(), count, &done, nullptr)) {
        return ::GetLastError();
      }
      block.remove_prefix(done);
    }
  }
  return 0;
}

// Keeps Ctrl-C from ending the process while the file is rewritten in place.
class HeldCtrlC {
 public:
  HeldCtrlC() : held_(::SetConsoleCtrlHandler(nullptr, TRUE) != 0) {}
  ~HeldCtrlC() {
    if (held_) {
      ::SetConsoleCtrlHandler(nullptr, FALSE);
    }
  }
  HeldCtrlC(const HeldCtrlC&) = delete;
  HeldCtrlC& operator=(const HeldCtrlC&) = delete;

 private:
  bool held_;
};

}  // namespace

void LockedQrc::saveChanged(const PrintedText& text) {
  const Platform& p = *platform_;
  if (p.name.empty()) {
    throwCannotWrite(uiPath_, reason(ERROR_FILE_NOT_FOUND));
  }
  if (p.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    throwCannotWrite(uiPath_, reason(ERROR_ACCESS_DENIED));
  }
  if (missing_) {
    replace(text);  // there is no old file to rewrite in place
    return;
  }
  if (p.info.nNumberOfLinks > 1 || !replace(text)) {
    rewriteInPlace(text);
  }
}

bool LockedQrc::replace(const PrintedText& text) {
  const Platform& p = *platform_;
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = p.folder + L"\\." + p.name + widened(temporarySuffix());
    file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
      break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    if (!missing_ && ::GetLastError() == ERROR_ACCESS_DENIED) {
      return false;  // a folder that cannot be written
    }
    throwCannotWrite(uiPath_, reason(::GetLastError()));
  }
  // Until the file is replaced, the old one is untouched; any failure removes the new file again.
  const auto fail = [&](DWORD error) {
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);
    }
    ::DeleteFileW(temporary.c_str());
    throwCannotWrite(uiPath_, reason(error));
  };
  if (const DWORD error = writeBlocks(file, text)) {
    fail(error);
  }
  if (!::FlushFileBuffers(file)) {
    fail(::GetLastError());
  }
  if (!::CloseHandle(std::exchange(file, INVALID_HANDLE_VALUE))) {
    fail(::GetLastError());
  }
  // Another program may have replaced the file without taking the lock; its content would be lost.
  BY_HANDLE_FILE_INFORMATION current{};
  const bool named = identify(p.path(), current);
  if (missing_ ? named : !named || !sameFile(current, p.info)) {
    ::DeleteFileW(temporary.c_str());
    throwCannotWrite(uiPath_, missing_ ? "the file was created during the run"
                                       : "the file was replaced during the run");
  }
  if (missing_) {
    // Without MOVEFILE_REPLACE_EXISTING: a file that appeared since is never overwritten.
    if (!::MoveFileExW(temporary.c_str(), p.path().c_str(), MOVEFILE_WRITE_THROUGH)) {
      fail(::GetLastError());
    }
    return true;
  }
  if (!::ReplaceFileW(p.path().c_str(), temporary.c_str(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                      nullptr) &&
      !::MoveFileExW(temporary.c_str(), p.path().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    fail(::GetLastError());
  }
  return true;
}

void LockedQrc::rewriteInPlace(const PrintedText& text) {
  const Platform& p = *platform_;
  HANDLE file = ::CreateFileW(p.path().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throwCannotWrite(uiPath_, reason(::GetLastError()));
  }
  const auto fail = [&](DWORD error) {
    ::CloseHandle(file);
    throwCannotWrite(uiPath_, reason(error));
  };
  BY_HANDLE_FILE_INFORMATION opened{};
  if (!::GetFileInformationByHandle(file, &opened) || !sameFile(opened, p.info)) {
    ::CloseHandle(file);
    throwCannotWrite(uiPath_, "the file was replaced during the run");
  }
  {
    const HeldCtrlC held;
    if (const DWORD error = writeBlocks(file, text)) {
      fail(error);
    }
    if (!::SetEndOfFile(file) || !::FlushFileBuffers(file)) {
      fail(::GetLastError());
    }
  }
  if (!::CloseHandle(file)) {
    warn("cannot close " + uiPath_ + " after writing it: " + reason(::GetLastError()));
  }
}

}  // namespace resweaver
