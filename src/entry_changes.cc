#include "entry_changes.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace resweaver {

namespace {

struct EntryEqual {
  bool operator()(const FileEntry& a, const FileEntry& b) const {
    return a.text == b.text && a.alias == b.alias;
  }
};

struct EntryHash {
  std::size_t operator()(const FileEntry& entry) const {
    const std::hash<std::string_view> hash;
    return hash(entry.text) * 31 + hash(entry.alias);
  }
};

std::string shown(const FileEntry& entry) {
  if (entry.alias.empty()) {
    return std::string(entry.text);
  }
  return std::string(entry.alias) + " <- " + std::string(entry.text);
}

}  // namespace

std::vector<std::string> describeChanges(const std::vector<FileEntry>& oldEntries,
                                         const std::vector<FileEntry>& newEntries,
                                         const std::string& uiPath, std::string_view prefix,
                                         bool groupFound) {
  std::vector<std::string> lines;
  if (!groupFound) {
    lines.push_back(uiPath + ": no group " + std::string(prefix) + "; a run would add one");
  }
  // How many times each entry is listed, old minus new: what is left after the loops below is
  // removed (positive) or added (negative).
  std::unordered_map<FileEntry, long long, EntryHash, EntryEqual> balance;
  for (const FileEntry& entry : oldEntries) {
    ++balance[entry];
  }
  for (const FileEntry& entry : newEntries) {
    --balance[entry];
  }
  for (const FileEntry& entry : newEntries) {
    if (auto& count = balance[entry]; count < 0) {
      ++count;
      lines.push_back("+ " + shown(entry));
    }
  }
  for (const FileEntry& entry : oldEntries) {
    if (auto& count = balance[entry]; count > 0) {
      --count;
      lines.push_back("- " + shown(entry));
    }
  }
  if (!lines.empty()) {
    return lines;
  }
  const bool sameOrder = std::equal(oldEntries.begin(), oldEntries.end(), newEntries.begin(),
                                    newEntries.end(), EntryEqual());
  return {sameOrder ? uiPath + ": the entries stay the same; the layout would change"
                    : uiPath + ": the entries stay the same; their order would change"};
}

}  // namespace resweaver
