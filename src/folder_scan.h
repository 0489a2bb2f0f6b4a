// The folder scan: walks the HTML folder recursively and gives, for every entry that is not a
// directory, its path relative to the root folder as std::filesystem::relative computes it.
#ifndef RESWEAVER_FOLDER_SCAN_H_
#define RESWEAVER_FOLDER_SCAN_H_

#include <filesystem>
#include <functional>
#include <string>

#include "qrc_document.h"

namespace resweaver {

using EntrySink = std::function<void(const std::string& text)>;

// Calls sink with each entry's text, in walk order. Throws the standard library's filesystem_error
// on a walk or resolution failure, and "cannot make <entry> relative to <rootPath>" for an entry
// that has no relative form.
void forEachEntryText(const std::filesystem::path& rootPath, const std::filesystem::path& htmlPath,
                      const EntrySink& sink);

// Appends one file entry per text to group.
void scanFolder(const std::filesystem::path& rootPath, const std::filesystem::path& htmlPath,
                Document& doc, Node& group);

}  // namespace resweaver

#endif  // RESWEAVER_FOLDER_SCAN_H_
