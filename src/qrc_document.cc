// The document operations of a run, on RapidXml's tree.
#include "qrc_document.h"

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

void parseQrc(char* text, Document& doc) {
  const Finding finding = checkDocument(text);
  switch (finding.kind) {
  case Finding::kTooDeep:
    throw std::runtime_error("document nested too deeply");
  case Finding::kBadReference:
    throw rapidxml::parse_error("invalid numeric character entity",
                                const_cast<char*>(finding.where));
  case Finding::kNone:
    break;
  }
  doc.parse<0>(text);
}

Node* findRoot(Document& doc) {
  for (Node* node = doc.first_node(); node != nullptr; node = node->next_sibling()) {
    if (node->type() == rapidxml::node_element) {
      return node;
    }
  }
  return nullptr;
}

Node& locateOrCreateGroup(Document& doc, Node& root, const std::string& prefix) {
  for (Node* child = root.first_node(); child != nullptr; child = child->next_sibling()) {
    for (auto* attribute = child->first_attribute(); attribute != nullptr;
         attribute = attribute->next_attribute()) {
      if (std::string_view(attribute->value(), attribute->value_size()) == prefix) {
        child->remove_all_nodes();
        return *child;
      }
    }
  }
  Node* group = doc.allocate_node(rapidxml::node_element, "qresource");
  root.append_node(group);
  group->append_attribute(doc.allocate_attribute("prefix", prefix.c_str(), 0, prefix.size()));
  return *group;
}

void appendFileEntry(Document& doc, Node& group, std::string_view text) {
  char* value = doc.allocate_string(nullptr, text.size() + 1);
  std::memcpy(value, text.data(), text.size());
  value[text.size()] = '\0';
  group.append_node(doc.allocate_node(rapidxml::node_element, "file", value, 0, text.size()));
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
