// The folder scan: for every entry below the HTML folder that is not a folder, its path relative to
// the root folder as std::filesystem::relative computes it, in walk order or sorted.
#ifndef RESWEAVER_FOLDER_SCAN_H_
#define RESWEAVER_FOLDER_SCAN_H_

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "folder_walk.h"

namespace resweaver {

// An entry's text in two pieces to be joined: usually the HTML folder's relative form with its
// separator, and the names below the HTML folder. Either may be empty.
struct EntryText {
  std::string_view head;
  std::string_view tail;
  // The HTML folder's relative form followed by the names below it, so that a walk in name order
  // gives these texts in sorted order.
  bool inWalkOrder = false;
  // With ScanOptions::aliases: the names below the HTML folder joined with /, the entry's resource
  // path (a link's own path, where the text is its target's).
  std::string_view alias;
  std::string str() const { return std::string(head) + std::string(tail); }
};

using EntrySink = std::function<void(const EntryText& text)>;

struct ScanOptions {
  bool sorted = false;  // the entries in sorted order (see sortsBefore) instead of walk order
  // Each entry carries its alias; sorted, the entries come in the order of their aliases.
  bool aliases = false;
  // Called with each folder below the HTML folder before it is listed: false leaves it out, with
  // everything in it. Without it, every folder is entered.
  std::function<bool(const WalkEntry&)> enterFolder;
  // Called with each entry that is not a folder before its text is made: false leaves it out.
  std::function<bool(const WalkEntry&)> takeFile;
};

// Calls sink with each entry's text, in walk order or sorted (by alias, with aliases), leaving out
// what the options' hooks leave out. Throws filesystem_error on a walk or
// resolution failure, and "cannot make <entry> relative to <rootPath>" for an entry that has no
// relative form.
void scanFolder(const std::filesystem::path& rootPath, const std::filesystem::path& htmlPath,
                const ScanOptions& options, const EntrySink& sink);

// The texts of all entries, as scanFolder gives them.
std::vector<std::string> entryTexts(const std::filesystem::path& rootPath,
                                    const std::filesystem::path& htmlPath, bool sorted);

// Whether entry text a comes before b in sorted order: path component by component, bytewise, so
// that a folder's files stay together.
bool sortsBefore(std::string_view a, std::string_view b);

}  // namespace resweaver

#endif  // RESWEAVER_FOLDER_SCAN_H_
