// The folder scan: walks the HTML folder recursively and gives, for every entry that is not a
// directory, its path relative to the root folder as std::filesystem::relative computes it.
#ifndef RESWEAVER_FOLDER_SCAN_H_
#define RESWEAVER_FOLDER_SCAN_H_

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qrc_document.h"

namespace resweaver {

using EntrySink = std::function<void(const std::string& text)>;

// Calls sink with each entry's text, in walk order. Throws the standard library's filesystem_error
// on a walk or resolution failure, and "cannot make <entry> relative to <rootPath>" for an entry
// that has no relative form.
void forEachEntryText(const std::filesystem::path& rootPath, const std::filesystem::path& htmlPath,
                      const EntrySink& sink);

// Whether entry text a comes before b in sorted order: path component by component, bytewise, so
// that a folder's files stay together.
bool sortsBefore(std::string_view a, std::string_view b);

// The texts of all entries, in walk order or sorted.
std::vector<std::string> entryTexts(const std::filesystem::path& rootPath,
                                    const std::filesystem::path& htmlPath, bool sorted);

// Appends one file entry per text to group, in walk order or sorted.
void scanFolder(const std::filesystem::path& rootPath, const std::filesystem::path& htmlPath,
                bool sorted, Document& doc, Node& group);

}  // namespace resweaver

#endif  // RESWEAVER_FOLDER_SCAN_H_
