// The document operations of a run, on RapidXml's tree.
#include "qrc_document.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include <rapidxml/rapidxml_print.hpp>

#include "document_check.h"
#include "large_pages.h"

namespace resweaver {

void useLargePages(Document& doc) {
  doc.set_allocator(allocateLarge, releaseLarge);
}

TextPosition positionAfter(std::string_view before) {
  if (before.substr(0, 3) == "\xEF\xBB\xBF") {
    before.remove_prefix(3);
  }
  const std::size_t lineStart = before.rfind('\n') + 1;  // 0 on the first line
  const auto lines = static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
  return {lines + 1, before.size() - lineStart + 1};
}

namespace {

std::size_t offsetIn(const char* text, const char* where) {
  return static_cast<std::size_t>(where - text);
}

// Throws what the pre-parse check found, if anything.
void refuse(const Finding& finding, const char* text) {
  switch (finding.kind) {
  case Finding::kTooDeep:
    throw ParseError("document nested too deeply", offsetIn(text, finding.where));
  case Finding::kBadReference:
    throw ParseError("invalid numeric character entity", offsetIn(text, finding.where));
  case Finding::kNone:
    break;
  }
}

// RapidXml's parse of text into doc; an error's offset in text becomes an offset in the file
// through inFile.
template <typename InFile>
void parseChecked(char* text, Document& doc, InFile inFile) {
  try {
    doc.parse<0>(text);
  } catch (const rapidxml::parse_error& error) {
    throw ParseError(error.what(), inFile(offsetIn(text, error.where<char>())));
  }
}

std::size_t unmoved(std::size_t offset) {
  return offset;
}

}  // namespace

void parseQrc(char* text, Document& doc) {
  refuse(checkDocument(text), text);
  parseChecked(text, doc, unmoved);
}

void parseQrcWithoutEntries(char* text, std::size_t size, std::string_view prefix, Document& doc) {
  GroupContent group;
  refuse(checkDocument(text, prefix, group), text);
  if (group.begin == nullptr) {
    parseChecked(text, doc, unmoved);
    return;
  }
  // The group's first text moves to the start of its content, and what follows its content moves
  // up behind it, terminating NUL included.
  const std::size_t begin = offsetIn(text, group.begin);
  const std::size_t end = offsetIn(text, group.end);
  const std::size_t kept =
      group.textBegin == nullptr ? 0 : static_cast<std::size_t>(group.textEnd - group.textBegin);
  if (kept > 0) {
    std::memmove(text + begin, group.textBegin, kept);
  }
  std::memmove(text + begin + kept, group.end, size + 1 - end);
  // The content checked out, so an error lies before it or after it: counted in the file.
  const std::size_t removed = end - begin - kept;
  parseChecked(text, doc, [&](std::size_t at) { return at < begin ? at : at + removed; });
}

Node* findRoot(Document& doc) {
  for (Node* node = doc.first_node(); node != nullptr; node = node->next_sibling()) {
    if (node->type() == rapidxml::node_element) {
      return node;
    }
  }
  return nullptr;
}

Node* findGroup(Node& root, std::string_view prefix) {
  for (Node* child = root.first_node(); child != nullptr; child = child->next_sibling()) {
    for (auto* attribute = child->first_attribute(); attribute != nullptr;
         attribute = attribute->next_attribute()) {
      if (std::string_view(attribute->value(), attribute->value_size()) == prefix) {
        return child;
      }
    }
  }
  return nullptr;
}

std::vector<FileEntry> fileEntries(const Node* group) {
  std::vector<FileEntry> entries;
  for (const Node* child = group != nullptr ? group->first_node("file") : nullptr; child != nullptr;
       child = child->next_sibling("file")) {
    const auto* alias = child->first_attribute("alias");
    entries.push_back({{child->value(), child->value_size()},
                       alias != nullptr ? std::string_view(alias->value(), alias->value_size())
                                        : std::string_view()});
  }
  return entries;
}

Node& locateOrCreateGroup(Document& doc, Node& root, const std::string& prefix) {
  if (Node* found = findGroup(root, prefix)) {
    found->remove_all_nodes();
    return *found;
  }
  Node* group = doc.allocate_node(rapidxml::node_element, "qresource");
  root.append_node(group);
  group->append_attribute(doc.allocate_attribute("prefix", prefix.c_str(), 0, prefix.size()));
  return *group;
}

void appendFileEntry(Document& doc, Node& group, std::string_view text, std::string_view alias) {
  const auto copy = [&](std::string_view from) {
    char* to = doc.allocate_string(nullptr, from.size() + 1);
    std::memcpy(to, from.data(), from.size());
    to[from.size()] = '\0';
    return to;
  };
  Node* entry = doc.allocate_node(rapidxml::node_element, "file", copy(text), 0, text.size());
  if (!alias.empty()) {
    entry->append_attribute(doc.allocate_attribute("alias", copy(alias), 0, alias.size()));
  }
  group.append_node(entry);
}

void printQrc(const Document& doc, PrintedText& out) {
  rapidxml::print(std::back_inserter(out), doc, 0);
  out.finish();
}

PrintedText printQrc(const Document& doc) {
  PrintedText text;
  printQrc(doc, text);
  return text;
}

}  // namespace resweaver
