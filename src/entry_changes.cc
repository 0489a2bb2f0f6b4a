#include "entry_changes.h"

#include <algorithm>
#include <unordered_map>

namespace resweaver {

std::vector<std::string> describeChanges(const std::vector<std::string_view>& oldEntries,
                                         const std::vector<std::string>& newEntries,
                                         const std::string& uiPath) {
  // How many times each entry is listed, old minus new: what is left after the loops below is
  // removed (positive) or added (negative).
  std::unordered_map<std::string_view, long long> balance;
  for (const std::string_view entry : oldEntries) {
    ++balance[entry];
  }
  for (const std::string& entry : newEntries) {
    --balance[entry];
  }
  std::vector<std::string> lines;
  for (const std::string& entry : newEntries) {
    if (auto& count = balance[entry]; count < 0) {
      ++count;
      lines.push_back("+ " + entry);
    }
  }
  for (const std::string_view entry : oldEntries) {
    if (auto& count = balance[entry]; count > 0) {
      --count;
      lines.push_back("- " + std::string(entry));
    }
  }
  if (!lines.empty()) {
    return lines;
  }
  const bool sameOrder =
      std::equal(oldEntries.begin(), oldEntries.end(), newEntries.begin(), newEntries.end());
  return {sameOrder ? uiPath + ": the entries stay the same; the layout would change"
                    : uiPath + ": the entries stay the same; their order would change"};
}

}  // namespace resweaver
