// The folder scan. Resolving every entry and the root through the file system, as
// std::filesystem::relative does, costs about a dozen system calls per file. The walk never enters
// a symbolic link, so below the resolved HTML folder every folder on an entry's way is a real
// folder: the root and the HTML folder are resolved once, at the first entry, and after that only
// entries that are links themselves are resolved. The texts stay exactly those that relative()
// gives; the tests hold the two ways against each other.
#include "folder_scan.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace resweaver {
namespace {

namespace fs = std::filesystem;
using NativeView = std::basic_string_view<fs::path::value_type>;

#ifdef _WIN32
// std::filesystem::weakly_canonical as Windows resolves names: the existing leading part of the
// path through the file system (links followed, names in the letter case in which the volume
// stores them, drive letters upper case), then the rest appended lexically. MinGW's standard
// library keeps the letter case as typed, so that "Html" and "html", or "C:" and "c:", would
// never meet.
fs::path weaklyCanonical(const fs::path& path) {
  const fs::path absolute = fs::absolute(path).lexically_normal();
  fs::path existing = absolute;
  fs::path rest;
  for (;;) {
    HANDLE file =
        ::CreateFileW(existing.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      std::wstring resolved(MAX_PATH, L'\0');
      DWORD length;
      while ((length = ::GetFinalPathNameByHandleW(
                  file, resolved.data(), static_cast<DWORD>(resolved.size()),
                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) >= resolved.size()) {
        resolved.resize(length + 1);
      }
      const DWORD error = ::GetLastError();
      ::CloseHandle(file);
      if (length == 0) {
        throw fs::filesystem_error(
            "weakly_canonical", path,
            std::error_code(static_cast<int>(error), std::system_category()));
      }
      resolved.resize(length);
      // The name comes back in its long form, \\?\C:\... or \\?\UNC\server\share\...
      if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        resolved.replace(0, 8, L"\\\\");
      } else if (resolved.rfind(L"\\\\?\\", 0) == 0) {
        resolved.erase(0, 4);
      }
      fs::path result(resolved);
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
#else
fs::path weaklyCanonical(const fs::path& path) {
  return fs::weakly_canonical(path);
}
#endif

class RelativeTexts {
 public:
  RelativeTexts(const fs::path& rootPath, const fs::path& htmlPath)
      : rootPath_(rootPath), htmlText_(htmlPath.native()) {}

  std::string textOf(const fs::directory_entry& entry) {
    const fs::path& entryPath = entry.path();
    // The walk forms an entry's path by appending the names below the HTML folder to htmlPath.
    const NativeView native = entryPath.native();
    std::size_t start = std::min(htmlText_.size(), native.size());
    if (start < native.size() && native[start] == fs::path::preferred_separator) {
      ++start;
    }
    const NativeView below = native.substr(start);

    const bool link = entry.is_symlink();
    if (link || !htmlResolved_) {
      // The full way, in its order: the entry first, then the root.
      const fs::path resolved = weaklyCanonical(entryPath);
      if (!rootResolved_) {
        rootResolved_ = weaklyCanonical(rootPath_);
      }
      if (!link) {
        // Every name below the HTML folder is a real folder or file: dropping them leaves the
        // resolved HTML folder.
        htmlResolved_ = resolved;
        for (auto names = std::count(below.begin(), below.end(), fs::path::preferred_separator);
             names >= 0; --names) {
          htmlResolved_ = htmlResolved_->parent_path();
        }
        htmlPrefix_ = sharedPrefix();
      }
      return checked(resolved.lexically_relative(*rootResolved_), entryPath);
    }
    if (!htmlPrefix_.empty()) {
#ifdef _WIN32
      return htmlPrefix_ + narrowText(fs::path(below));
#else
      std::string text = htmlPrefix_;
      text += below;
      return text;
#endif
    }
    return checked((*htmlResolved_ / below).lexically_relative(*rootResolved_), entryPath);
  }

 private:
  // An empty relative form means there is none (for example a relative root that does not exist
  // against an absolute HTML folder); an empty file entry would drop the file silently.
  std::string checked(const fs::path& relative, const fs::path& entryPath) const {
    std::string text = narrowText(relative);
    if (text.empty()) {
      throw std::runtime_error("cannot make " + narrowText(entryPath) + " relative to " +
                               narrowText(rootPath_));
    }
    return text;
  }

  // Where the resolved HTML folder and root part ways inside the HTML folder (the usual case:
  // the HTML folder lies below the root, or beside it), every entry's relative form is the HTML
  // folder's relative form followed by the entry's names: returns that form and a separator.
  // Otherwise (the HTML folder is the root or above it) returns an empty text, and each entry goes
  // through lexically_relative.
  std::string sharedPrefix() const {
    const auto parting = std::mismatch(htmlResolved_->begin(), htmlResolved_->end(),
                                       rootResolved_->begin(), rootResolved_->end());
    std::string prefix = narrowText(htmlResolved_->lexically_relative(*rootResolved_));
    if (parting.first == htmlResolved_->end() || prefix.empty() || prefix == ".") {
      return {};
    }
    return prefix + static_cast<char>(fs::path::preferred_separator);
  }

  const fs::path& rootPath_;
  const NativeView htmlText_;
  std::optional<fs::path> rootResolved_;
  std::optional<fs::path> htmlResolved_;
  std::string htmlPrefix_;
};

}  // namespace

#ifdef _WIN32
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
  const std::wstring& wide = path.native();
  if (wide.empty()) {
    return {};
  }
  // With the UTF-8 code page every character has a form; otherwise a character without an exact
  // form would silently become a best fit or a question mark.
  const UINT codePage = ::GetACP();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const int length = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr,
                                           utf8 ? nullptr : &lossy);
  std::string text(static_cast<std::size_t>(length), '\0');
  if (length == 0 || lossy ||
      ::WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), length, nullptr,
                            utf8 ? nullptr : &lossy) == 0 ||
      lossy) {
    throw std::system_error(ERROR_NO_UNICODE_TRANSLATION, std::system_category());
  }
  return text;
}
#else
fs::path pathFromNarrow(const std::string& text) {
  return fs::path(text);
}
std::string narrowText(const fs::path& path) {
  return path.string();
}
#endif

void forEachEntryText(const fs::path& rootPath, const fs::path& htmlPath, const EntrySink& sink) {
  RelativeTexts texts(rootPath, htmlPath);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(htmlPath)) {
    if (!entry.is_directory()) {
      sink(texts.textOf(entry));
    }
  }
}

void scanFolder(const fs::path& rootPath, const fs::path& htmlPath, Document& doc, Node& group) {
  forEachEntryText(rootPath, htmlPath,
                   [&](const std::string& text) { appendFileEntry(doc, group, text); });
}

}  // namespace resweaver
