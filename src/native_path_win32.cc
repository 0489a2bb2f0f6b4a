// Native paths on Windows: wide paths, narrow text in the ANSI code page converted strictly, and
// names resolved in the letter case in which the volume stores them.
#include <system_error>
#include <windows.h>

#include "native_path.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// The narrow text of count wide characters. With the UTF-8 code page every character has a form;
// otherwise a character without an exact form would silently become a best fit or a question mark.
std::string narrowFromWide(const wchar_t* wide, std::size_t count) {
  if (count == 0) {
    return {};
  }
  const UINT codePage = ::GetACP();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int size = static_cast<int>(count);
  BOOL lossy = FALSE;
  const int length = ::WideCharToMultiByte(codePage, flags, wide, size, nullptr, 0, nullptr,
                                           utf8 ? nullptr : &lossy);
  std::string text(static_cast<std::size_t>(length), '\0');
  if (length == 0 || lossy ||
      ::WideCharToMultiByte(codePage, flags, wide, size, text.data(), length, nullptr,
                            utf8 ? nullptr : &lossy) == 0 ||
      lossy) {
    throw std::system_error(ERROR_NO_UNICODE_TRANSLATION, std::system_category());
  }
  return text;
}

}  // namespace

fs::path pathFromNarrow(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (length == 0 || ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size,
                                           wide.data(), length) == 0) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
  }
  return fs::path(wide);
}

std::string narrowText(const fs::path& path) {
  return narrowFromWide(path.native().data(), path.native().size());
}

void appendNarrow(std::string& text, NativeView native) {
  text += narrowFromWide(native.data(), native.size());
}

std::string_view narrowView(NativeView native, std::string& buffer) {
  buffer = narrowFromWide(native.data(), native.size());
  return buffer;
}

namespace {

// The final name of an open file or folder, in its DOS form (C:\... or \\server\share\...).
fs::path finalName(HANDLE file, const fs::path& path) {
  std::wstring resolved(MAX_PATH, L'\0');
  DWORD length;
  while ((length = ::GetFinalPathNameByHandleW(
              file, resolved.data(), static_cast<DWORD>(resolved.size()),
              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) >= resolved.size()) {
    resolved.resize(length + 1);
  }
  if (length == 0) {
    throw fs::filesystem_error(
        "weakly_canonical", path,
        std::error_code(static_cast<int>(::GetLastError()), std::system_category()));
  }
  resolved.resize(length);
  // The name comes back in its long form, \\?\C:\... or \\?\UNC\server\share\...
  if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    resolved.replace(0, 8, L"\\\\");
  } else if (resolved.rfind(L"\\\\?\\", 0) == 0) {
    resolved.erase(0, 4);
  }
  return fs::path(resolved);
}

}  // namespace

// MinGW's standard library keeps the letter case as typed, so that "Html" and "html", or "C:" and
// "c:", would never meet; the volume's own names (drive letters upper case) come from the handle.
fs::path weaklyCanonical(const fs::path& path) {
  const fs::path absolute = fs::absolute(path).lexically_normal();
  fs::path existing = absolute;
  fs::path rest;
  for (;;) {
    HANDLE file =
        ::CreateFileW(existing.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      fs::path result;
      try {
        result = finalName(file, path);
      } catch (...) {
        ::CloseHandle(file);
        throw;
      }
      ::CloseHandle(file);
      if (!rest.empty()) {
        result /= rest;
      }
      return result.lexically_normal();
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      throw fs::filesystem_error("weakly_canonical", path,
                                 std::error_code(static_cast<int>(error), std::system_category()));
    }
    if (!existing.has_relative_path()) {
      return absolute;
    }
    rest = existing.filename() / rest;
    existing = existing.parent_path();
  }
}

}  // namespace resweaver
