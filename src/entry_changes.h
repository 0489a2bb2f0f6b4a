// What a run would change in the .qrc, as --check reports it: that the group would be added, the
// entries it would add and remove, or, when the entries stay the same, that their order or the
// file's layout would change.
#ifndef RESWEAVER_ENTRY_CHANGES_H_
#define RESWEAVER_ENTRY_CHANGES_H_

#include <string>
#include <string_view>
#include <vector>

#include "qrc_document.h"

namespace resweaver {

// The lines that describe the change from the old entries to the new ones in a file whose bytes
// differ. Entries are compared by text and alias; each added one gives "+ <entry>", in the new
// order, then each removed one "- <entry>", in the old order (an entry listed twice counts twice),
// where <entry> is "<alias> <- <text>" for an entry with an alias and "<text>" for one without.
// When no entry changes, one line tells whether their order or the layout of uiPath would. Where
// the group does not exist yet (groupFound false), the first line is "<uiPath>: no group
// <prefix>; a run would add one", and the + lines follow.
std::vector<std::string> describeChanges(const std::vector<FileEntry>& oldEntries,
                                         const std::vector<FileEntry>& newEntries,
                                         const std::string& uiPath, std::string_view prefix,
                                         bool groupFound);

}  // namespace resweaver

#endif  // RESWEAVER_ENTRY_CHANGES_H_
