// The folder scan. Resolving every entry and the root through the file system, as
// std::filesystem::relative does, costs about a dozen system calls per file. The walk never enters
// a symbolic link, so below the resolved HTML folder every folder on an entry's way is a real
// folder: the root and the HTML folder are resolved once, at the first entry, and after that only
// entries that are links themselves are resolved. The texts stay exactly those that relative()
// gives; the tests hold the two ways against each other.
#include "folder_scan.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

#include "folder_walk.h"
#include "native_path.h"
#include "text_arena.h"

namespace resweaver {
namespace {

namespace fs = std::filesystem;

// The Windows walk takes the listing order even when asked to sort (folder_walk_win32.cc).
#ifdef _WIN32
constexpr bool kWalkSorts = false;
#else
constexpr bool kWalkSorts = true;
#endif

// sortsBefore, with names separated by separator.
bool sortsBeforeWith(std::string_view a, std::string_view b, char separator) {
  // Texts that follow each other share most of their folders: equal stretches are skipped eight
  // bytes at a time.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i + 8 <= common && std::memcmp(a.data() + i, b.data() + i, 8) == 0) {
    i += 8;
  }
  while (i < common && a[i] == b[i]) {
    ++i;
  }
  if (i == common) {
    return a.size() < b.size();
  }
  if (a[i] == separator || b[i] == separator) {
    return a[i] == separator;
  }
  return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
}

class RelativeTexts {
 public:
  RelativeTexts(const fs::path& rootPath, bool aliases, const EntrySink& sink)
      : rootPath_(rootPath), aliases_(aliases), sink_(sink) {}

  void add(const WalkEntry& entry) {
    const NativeView below = entry.path.substr(entry.below);
    const std::string_view alias = aliases_ ? aliasOf(below) : std::string_view();
    if (entry.link || !htmlResolved_) {
      // The full way, in its order: the entry first, then the root.
      const fs::path entryPath(entry.path);
      const fs::path resolved = weaklyCanonical(entryPath);
      if (!rootResolved_) {
        rootResolved_ = weaklyCanonical(rootPath_);
      }
      if (!entry.link) {
        // Every name below the HTML folder is a real folder or file: dropping them leaves the
        // resolved HTML folder.
        htmlResolved_ = resolved;
        for (auto names = std::count(below.begin(), below.end(), fs::path::preferred_separator);
             names >= 0; --names) {
          htmlResolved_ = htmlResolved_->parent_path();
        }
        htmlPrefix_ = sharedPrefix();
      }
      text_ = checked(resolved.lexically_relative(*rootResolved_), entryPath);
      sink_({text_, {}, !entry.link && isPrefixAndBelow(below), alias});
      return;
    }
    if (!htmlPrefix_.empty()) {
      sink_({htmlPrefix_, narrowView(below, text_), true, alias});
      return;
    }
    text_ =
        checked((*htmlResolved_ / below).lexically_relative(*rootResolved_), fs::path(entry.path));
    sink_({text_, {}, false, alias});
  }

 private:
  // The names below the HTML folder as a resource path: / between them on every platform. The
  // separators are replaced before the narrow conversion, where a \ byte may be half of a
  // character.
  std::string_view aliasOf(NativeView below) {
    if (fs::path::preferred_separator == '/') {
      return narrowView(below, alias_);
    }
    aliasNative_.assign(below);
    std::replace(aliasNative_.begin(), aliasNative_.end(), fs::path::preferred_separator,
                 fs::path::value_type('/'));
    return narrowView(aliasNative_, alias_);
  }

  // Whether the text at hand is the HTML folder's relative form followed by the names below it.
  bool isPrefixAndBelow(NativeView below) {
    std::string buffer;
    const std::string_view names = narrowView(below, buffer);
    return text_.size() == htmlPrefix_.size() + names.size() &&
           std::string_view(text_).substr(0, htmlPrefix_.size()) == htmlPrefix_ &&
           std::string_view(text_).substr(htmlPrefix_.size()) == names;
  }

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
  const bool aliases_;
  const EntrySink& sink_;
  std::string alias_;
  fs::path::string_type aliasNative_;
  std::string text_;  // the text of the entry at hand, where it is not made of two pieces
  std::optional<fs::path> rootResolved_;
  std::optional<fs::path> htmlResolved_;
  std::string htmlPrefix_;
};

// Walks htmlPath into texts, leaving out what options leave out.
void walk(const fs::path& htmlPath, const ScanOptions& options, bool sorted, RelativeTexts& texts) {
  const WalkVisitor visitor{[&](const WalkEntry& entry) {
                              if (!options.takeFile || options.takeFile(entry)) {
                                texts.add(entry);
                              }
                            },
                            options.enterFolder};
  walkFolder(htmlPath, sorted, visitor);
}

// Where the walk does not sort: every entry's alias and text kept, then sorted by alias.
void sortedByAlias(const fs::path& rootPath, const fs::path& htmlPath, const ScanOptions& options,
                   const EntrySink& sink) {
  TextArena kept;
  std::vector<std::pair<std::string_view, std::string_view>> entries;
  const EntrySink keep = [&](const EntryText& text) {
    entries.emplace_back(kept.add(text.alias, {}), kept.add(text.head, text.tail));
  };
  RelativeTexts texts(rootPath, true, keep);
  walk(htmlPath, options, true, texts);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return sortsBeforeWith(a.first, b.first, '/');
  });
  for (const auto& [alias, text] : entries) {
    sink({text, {}, false, alias});
  }
}

}  // namespace

bool sortsBefore(std::string_view a, std::string_view b) {
  return sortsBeforeWith(a, b, static_cast<char>(fs::path::preferred_separator));
}

void scanFolder(const fs::path& rootPath, const fs::path& htmlPath, const ScanOptions& options,
                const EntrySink& sink) {
  if (!options.sorted || (options.aliases && kWalkSorts)) {
    // A walk that takes each folder's entries in the order of their names gives the aliases in
    // sorted order.
    RelativeTexts texts(rootPath, options.aliases, sink);
    walk(htmlPath, options, options.sorted, texts);
    return;
  }
  if (options.aliases) {
    sortedByAlias(rootPath, htmlPath, options, sink);
    return;
  }
  // A walk that takes each folder's entries in the order of their names gives the texts made of
  // the HTML folder's relative form and the names below it in sorted order. The others (links
  // give their targets' paths, and an HTML folder above the root gives texts that climb) are put
  // aside, sorted on their own and merged in at the end.
  TextArena ordered;
  TextArena otherTexts;
  std::vector<std::string_view> aside;
  const EntrySink collect = [&](const EntryText& text) {
    if (text.inWalkOrder && kWalkSorts) {
      ordered.add(text.head, text.tail);
    } else {
      aside.push_back(otherTexts.add(text.head, text.tail));
    }
  };
  RelativeTexts texts(rootPath, false, collect);
  walk(htmlPath, options, true, texts);
  std::stable_sort(aside.begin(), aside.end(), sortsBefore);
  auto next = aside.begin();
  const auto emit = [&](std::string_view text) { sink({text, {}, false, {}}); };
  ordered.forEach([&](std::string_view text) {
    for (; next != aside.end() && sortsBefore(*next, text); ++next) {
      emit(*next);
    }
    emit(text);
  });
  std::for_each(next, aside.end(), emit);
}

std::vector<std::string> entryTexts(const fs::path& rootPath, const fs::path& htmlPath,
                                    bool sorted) {
  std::vector<std::string> texts;
  ScanOptions options;
  options.sorted = sorted;
  scanFolder(rootPath, htmlPath, options,
             [&](const EntryText& text) { texts.push_back(text.str()); });
  return texts;
}

}  // namespace resweaver
