// The .qrc file on Windows: a byte-range lock far beyond the end of the file, positioned reads and
// writes through OVERLAPPED offsets.
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <windows.h>

#include "qrc_file.h"
#include "qrc_file_platform.h"

namespace resweaver {

std::error_code lastError() {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

namespace {

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

}  // namespace

QrcLock::QrcLock(const std::string& uiPath) {
  HANDLE file = ::CreateFileA(uiPath.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open; a pipe or device is refused.
  if (file == INVALID_HANDLE_VALUE || ::GetFileType(file) != FILE_TYPE_DISK) {
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);
    }
    throw std::runtime_error("cannot open file " + uiPath);
  }
  // Windows locks keep other handles, even this process's own, from the bytes they cover. The lock
  // therefore covers one byte far beyond the end of any file, where it only serialises runs.
  OVERLAPPED where = at(0x7FFFFFFFFFFFFFFFull);
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
    const std::error_code error = lastError();
    ::CloseHandle(file);
    throw std::runtime_error("cannot lock file " + uiPath + ": " + error.message());
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

QrcLock::~QrcLock() {
  ::CloseHandle(handleOf(handle_));  // releases the lock
}

SaveFile::SaveFile(const std::string& path)
    : handle_(reinterpret_cast<std::intptr_t>(
          ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {}

SaveFile::~SaveFile() {
  if (isOpen()) {
    ::CloseHandle(handleOf(handle_));
  }
}

bool SaveFile::isOpen() const {
  return handleOf(handle_) != INVALID_HANDLE_VALUE;
}

bool SaveFile::size(std::uint64_t& size) const {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(handleOf(handle_), &value)) {
    return false;
  }
  size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

long long SaveFile::readAt(char* data, std::size_t count, std::uint64_t offset) const {
  OVERLAPPED where = at(offset);
  DWORD done = 0;
  if (!::ReadFile(handleOf(handle_), data,
                  static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)), &done, &where)) {
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return done;
}

bool SaveFile::writeAt(const char* data, std::size_t count, std::uint64_t offset) const {
  while (count > 0) {
    OVERLAPPED where = at(offset);
    DWORD done = 0;
    if (!::WriteFile(handleOf(handle_), data,
                     static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)), &done, &where)) {
      return false;
    }
    data += done;
    count -= done;
    offset += done;
  }
  return true;
}

// Grows the file to size first, as posix_fallocate does.
bool SaveFile::reserve(std::uint64_t size) const {
  std::uint64_t current = 0;
  return this->size(current) && (current >= size || truncate(size));
}

bool SaveFile::truncate(std::uint64_t size) const {
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(handleOf(handle_), end, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(handleOf(handle_));
}

bool SaveFile::close() {
  return ::CloseHandle(handleOf(
             std::exchange(handle_, reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)))) != 0;
}

}  // namespace resweaver
