// Drives the document code the way a run does: load bytes, check and parse them, find the root,
// locate or create a group, append entries, print. The printed text must parse again and print to
// the same bytes, and nothing the parser keeps may hold a NUL byte or nest too deeply. A run's own
// way (the group's old content left out of the parse, the entries streamed in by the printer) must
// give the same bytes, or fail with the same message at the same place, as the straightforward way
// with RapidXml's printer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "document_check.h"
#include "qrc_document.h"
#include "qrc_printer.h"

namespace {

using resweaver::Document;
using resweaver::Node;

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

bool holdsNul(const char* text, std::size_t size) {
  return std::memchr(text, 0, size) != nullptr;
}

// Walks the tree without recursion. Returns whether some element holds text beside other nodes: the
// printer indents such text, and the indentation becomes part of it when the output is read again,
// so that layout grows on every run and is no fixed point.
bool inspect(const Document& doc) {
  bool mixed = false;
  std::vector<std::pair<const Node*, int>> pending = {{&doc, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    require(depth <= resweaver::kMaxDepth + 1, "nesting limit");
    require(!holdsNul(node->name(), node->name_size()), "NUL in a name");
    require(!holdsNul(node->value(), node->value_size()), "NUL in a value");
    for (auto* attribute = node->first_attribute(); attribute != nullptr;
         attribute = attribute->next_attribute()) {
      require(!holdsNul(attribute->value(), attribute->value_size()), "NUL in an attribute");
    }
    int children = 0;
    bool text = false;
    for (const Node* child = node->first_node(); child != nullptr; child = child->next_sibling()) {
      ++children;
      text = text || child->type() == rapidxml::node_data;
      pending.emplace_back(child, depth + 1);
    }
    mixed = mixed || (text && children > 1);
  }
  return mixed;
}

constexpr const char* kEntries[] = {"html/a&b's <c>\".html", "html/\xC3\xA9t\xC3\xA9\r\n.css"};

// The prefix comes from the input too, so that groups are found as well as created: "/", or a
// stretch of the input after its first byte.
std::string prefixFor(const std::string& text) {
  if (text.empty() || text[0] % 3 == 0) {
    return "/";
  }
  const std::size_t start = static_cast<unsigned char>(text[0]) % text.size();
  return text.substr(start, static_cast<unsigned char>(text[0]) % 5);
}

// The run's own way, or the error it reports.
std::string streamed(std::string text, const std::string& prefix) {
  Document doc;
  try {
    resweaver::parseQrcWithoutEntries(text.data(), text.size(), prefix, doc);
  } catch (const resweaver::ParseError& error) {
    return "error at " + std::to_string(error.offset()) + ": " + error.what();
  }
  Node* root = resweaver::findRoot(doc);
  if (root == nullptr) {
    return "no root";
  }
  Node& group = resweaver::locateOrCreateGroup(doc, *root, prefix);
  resweaver::PrintedText out;
  resweaver::QrcPrinter printer(doc, *root, group, out);
  printer.begin();
  for (const char* entry : kEntries) {
    printer.entry(entry, "");
  }
  printer.end();
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) {
    return 0;  // loading refuses such a file before parsing
  }
  const std::string prefix = prefixFor(text);
  const std::string runsWay = streamed(text, prefix);
  Document doc;
  try {
    resweaver::parseQrc(text.data(), doc);
  } catch (const resweaver::ParseError& error) {
    require(runsWay == "error at " + std::to_string(error.offset()) + ": " + error.what(),
            "the same error both ways");
    return 0;
  }
  Node* root = resweaver::findRoot(doc);
  if (root == nullptr) {
    require(runsWay == "no root", "no root both ways");
    return 0;
  }
  Node& group = resweaver::locateOrCreateGroup(doc, *root, prefix);
  for (const char* entry : kEntries) {
    resweaver::appendFileEntry(doc, group, entry);
  }
  const bool mixed = inspect(doc);
  const std::string printed = resweaver::printQrc(doc).str();
  require(runsWay == printed, "the same bytes both ways");

  std::string again = printed;
  Document reread;
  try {
    resweaver::parseQrc(again.data(), reread);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "printed output does not parse: %s\n", error.what());
    std::abort();
  }
  require(resweaver::findRoot(reread) != nullptr, "printed output has a root");
  if (!mixed) {
    require(resweaver::printQrc(reread).str() == printed, "printing is a fixed point");
  }
  return 0;
}
