// What a run would change in the .qrc, as --check reports it: the entries it would add and remove,
// or, when the entries stay the same, that their order or the file's layout would change.
#ifndef RESWEAVER_ENTRY_CHANGES_H_
#define RESWEAVER_ENTRY_CHANGES_H_

#include <string>
#include <string_view>
#include <vector>

namespace resweaver {

// The lines that describe the change from the old entries to the new ones in a file whose bytes
// differ: "+ <entry>" for each entry added, in the new order, then "- <entry>" for each entry
// removed, in the old order (an entry listed twice counts twice); or one line about the order or
// the layout of uiPath.
std::vector<std::string> describeChanges(const std::vector<std::string_view>& oldEntries,
                                         const std::vector<std::string>& newEntries,
                                         const std::string& uiPath);

}  // namespace resweaver

#endif  // RESWEAVER_ENTRY_CHANGES_H_
