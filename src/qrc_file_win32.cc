// The .qrc file on Windows, opened and locked: a byte-range lock far beyond the end of the file,
// and positioned reads through it.
#include "qrc_file_win32.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <utility>
#include <windows.h>

#include "native_path.h"
#include "qrc_file.h"

namespace resweaver {

LockedQrc::Platform::~Platform() {
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
  }
}

std::string reason(DWORD error) {
  return std::error_code(static_cast<int>(error), std::system_category()).message();
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool identify(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
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

namespace {

constexpr int kMaxLockAttempts = 1000;

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

// Windows locks keep other handles, even this process's own, from the bytes they cover. The lock
// therefore covers one byte far beyond the end of any file, where it only serialises runs.
bool lockFar(HANDLE file, DWORD flags) {
  OVERLAPPED where = at(0x7FFFFFFFFFFFFFFFull);
  return ::LockFileEx(file, flags, 0, 1, 0, &where) != 0;
}

// Opens the .qrc for reading. Another run may be putting its new file in place right now, and
// ReplaceFileW moves the old file away before it moves the new one in: for a moment the name leads
// nowhere. Such a name is tried again for about a tenth of a second before the file counts as
// missing.
HANDLE openForReading(const std::wstring& path) {
  for (DWORD pause = 1;; pause *= 2) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_NOT_FOUND || pause > 64) {
      return file;
    }
    ::Sleep(pause);
  }
}

// Takes the lock; when it is not granted at once, waits, and after a second tells on standard error
// why the run stands still. Returns the error, or 0 once the lock is held.
DWORD lockWaiting(HANDLE file, bool exclusive, const std::string& uiPath) {
  const DWORD mode = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  DWORD waited = 0;
  for (DWORD pause = 1; waited < 1000; waited += pause, pause = std::min<DWORD>(pause * 2, 50)) {
    if (lockFar(file, mode | LOCKFILE_FAIL_IMMEDIATELY)) {
      return 0;
    }
    if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING) {
      return ::GetLastError();
    }
    ::Sleep(pause);
  }
  const std::string notice = "waiting for another run on " + uiPath + "\n";
  std::fwrite(notice.data(), 1, notice.size(), stderr);
  return lockFar(file, mode) ? 0 : ::GetLastError();
}

// The folder and name of the open file, links followed.
void locate(HANDLE file, std::wstring& folder, std::wstring& name) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length;
  while ((length = ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) >=
         path.size()) {
    path.resize(length + 1);
  }
  path.resize(length);
  const std::size_t slash = path.rfind(L'\\');
  if (length == 0 || slash == std::wstring::npos) {
    return;
  }
  folder = path.substr(0, slash);
  name = path.substr(slash + 1);
}

}  // namespace

LockedQrc::LockedQrc(std::string uiPath, Access access)
    : uiPath_(std::move(uiPath)), access_(access), platform_(std::make_unique<Platform>()) {
  Platform& p = *platform_;
  const std::wstring path = pathFromNarrow(uiPath_).native();
  for (int attempt = 1;; ++attempt) {
    p.file = openForReading(path);
    if (p.file == INVALID_HANDLE_VALUE && access == Access::kCreate &&
        (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND)) {
      if (prepareMissing()) {
        return;
      }
      continue;
    }
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open; a pipe or device is refused.
    if (p.file == INVALID_HANDLE_VALUE || ::GetFileType(p.file) != FILE_TYPE_DISK) {
      throw std::runtime_error("cannot open file " + uiPath_);
    }
    const DWORD error = lockWaiting(p.file, access != Access::kCheck, uiPath_);
    if (error != 0) {
      throw std::runtime_error("cannot lock file " + uiPath_ + ": " + reason(error));
    }
    // While this run waited, another may have replaced the file by renaming a new one over it.
    BY_HANDLE_FILE_INFORMATION named{};
    if (::GetFileInformationByHandle(p.file, &p.info) && identify(path, named) &&
        sameFile(named, p.info)) {
      break;
    }
    ::CloseHandle(std::exchange(p.file, INVALID_HANDLE_VALUE));
    if (attempt == kMaxLockAttempts) {
      throw std::runtime_error("cannot lock file " + uiPath_ + ": it keeps being replaced");
    }
  }
  size_ = (std::uint64_t{p.info.nFileSizeHigh} << 32) | p.info.nFileSizeLow;
  if (access == Access::kCheck) {
    return;
  }
  locate(p.file, p.folder, p.name);
  if (p.name.empty()) {
    return;  // the save finds out again, and reports
  }
  // Leftovers of runs killed between creating their new file and renaming it.
  WIN32_FIND_DATAW found;
  const std::wstring pattern = p.folder + L"\\." + p.name + L".resweaver-*";
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  const std::wstring stem = L"." + p.name;
  do {
    const std::wstring name = found.cFileName;
    std::string suffix;
    for (wchar_t c : name.substr(std::min(stem.size(), name.size()))) {
      suffix += c < 0x80 ? static_cast<char>(c) : '?';
    }
    if (name.compare(0, stem.size(), stem) == 0 && isTemporaryName("." + suffix, "")) {
      ::DeleteFileW((p.folder + L"\\" + name).c_str());  // a stale file; gone is gone
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

// A file that does not exist cannot be locked, and Windows has no lock on a folder: a new file is
// created without one, and its save refuses to replace a file that appeared meanwhile.
bool LockedQrc::prepareMissing() {
  Platform& p = *platform_;
  const std::filesystem::path path = pathFromNarrow(uiPath_);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      throw std::runtime_error("cannot open file " + uiPath_);  // a link that leads nowhere
    }
    return false;  // created meanwhile
  }
  p.name = path.filename().native();
  if (p.name.empty() || p.name == L"." || p.name == L"..") {
    throw std::runtime_error("cannot open file " + uiPath_);
  }
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::absolute(path.has_parent_path() ? path.parent_path() : ".", error);
  if (!error) {
    std::filesystem::create_directories(folder, error);
  }
  if (error) {
    throwCannotWrite(uiPath_, error.message());
  }
  p.folder = folder.native();
  missing_ = true;
  return true;
}

LockedQrc::~LockedQrc() = default;

void LockedQrc::readAt(char* data, std::size_t count, std::uint64_t offset) const {
  while (count > 0) {
    OVERLAPPED where = at(offset);
    DWORD done = 0;
    if (!::ReadFile(platform_->file, data,
                    static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)), &done, &where) ||
        done == 0) {
      const DWORD error = ::GetLastError();
      throw std::runtime_error(
          "cannot read file " + uiPath_ + ": " +
          (done == 0 && error == ERROR_HANDLE_EOF ? "the file became shorter" : reason(error)));
    }
    data += done;
    count -= done;
    offset += done;
  }
}

}  // namespace resweaver
