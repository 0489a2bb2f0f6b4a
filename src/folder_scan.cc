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

#include "native_path.h"

namespace resweaver {
namespace {

namespace fs = std::filesystem;

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
      std::string text = htmlPrefix_;
      appendNarrow(text, below);
      return text;
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

void forEachEntryText(const fs::path& rootPath, const fs::path& htmlPath, const EntrySink& sink) {
  RelativeTexts texts(rootPath, htmlPath);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(htmlPath)) {
    if (!entry.is_directory()) {
      sink(texts.textOf(entry));
    }
  }
}

bool sortsBefore(std::string_view a, std::string_view b) {
  constexpr auto separator = static_cast<char>(fs::path::preferred_separator);
  const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (left == a.end() || right == b.end()) {
    return right != b.end();  // a is the shorter, or they are equal
  }
  if (*left == separator || *right == separator) {
    return *left == separator;
  }
  return static_cast<unsigned char>(*left) < static_cast<unsigned char>(*right);
}

std::vector<std::string> entryTexts(const fs::path& rootPath, const fs::path& htmlPath,
                                    bool sorted) {
  std::vector<std::string> texts;
  forEachEntryText(rootPath, htmlPath, [&](const std::string& text) { texts.push_back(text); });
  if (sorted) {
    std::stable_sort(texts.begin(), texts.end(), sortsBefore);
  }
  return texts;
}

void scanFolder(const fs::path& rootPath, const fs::path& htmlPath, bool sorted, Document& doc,
                Node& group) {
  if (sorted) {
    for (const std::string& text : entryTexts(rootPath, htmlPath, sorted)) {
      appendFileEntry(doc, group, text);
    }
    return;
  }
  forEachEntryText(rootPath, htmlPath,
                   [&](const std::string& text) { appendFileEntry(doc, group, text); });
}

}  // namespace resweaver
