// The document operations of a run, on RapidXml's tree.
#include "qrc_document.h"

#include <algorithm>
#include <array>
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

void parseQrc(char* text, Document& doc) {
  const Finding finding = checkDocument(text);
  const auto offset = [text](const char* where) { return static_cast<std::size_t>(where - text); };
  switch (finding.kind) {
  case Finding::kTooDeep:
    throw ParseError("document nested too deeply", offset(finding.where));
  case Finding::kBadReference:
    throw ParseError("invalid numeric character entity", offset(finding.where));
  case Finding::kNone:
    break;
  }
  try {
    doc.parse<0>(text);
  } catch (const rapidxml::parse_error& error) {
    throw ParseError(error.what(), offset(error.where<char>()));
  }
}

void parseQrcWithoutEntries(char* text, std::size_t size, std::string_view prefix, Document& doc) {
  GroupContent group;
  const Finding finding = checkDocument(text, prefix, group);
  const auto offset = [text](const char* where) { return static_cast<std::size_t>(where - text); };
  switch (finding.kind) {
  case Finding::kTooDeep:
    throw ParseError("document nested too deeply", offset(finding.where));
  case Finding::kBadReference:
    throw ParseError("invalid numeric character entity", offset(finding.where));
  case Finding::kNone:
    break;
  }
  if (group.begin == nullptr) {
    try {
      doc.parse<0>(text);
    } catch (const rapidxml::parse_error& error) {
      throw ParseError(error.what(), offset(error.where<char>()));
    }
    return;
  }
  // The group's first text moves to the start of its content, and what follows its content moves
  // up behind it, terminating NUL included.
  char* content = text + offset(group.begin);
  const std::size_t kept =
      group.textBegin == nullptr ? 0 : static_cast<std::size_t>(group.textEnd - group.textBegin);
  if (kept > 0) {
    std::memmove(content, group.textBegin, kept);
  }
  const std::size_t removed = offset(group.end) - offset(group.begin) - kept;
  std::memmove(content + kept, group.end, size + 1 - offset(group.end));
  try {
    doc.parse<0>(text);
  } catch (const rapidxml::parse_error& error) {
    // The content checked out, so the error lies before it or after it: counted in the file.
    const std::size_t at = offset(error.where<char>());
    throw ParseError(error.what(), at < offset(content) ? at : at + removed);
  }
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

std::vector<std::string_view> fileEntries(const Node* group) {
  std::vector<std::string_view> texts;
  for (const Node* child = group != nullptr ? group->first_node("file") : nullptr; child != nullptr;
       child = child->next_sibling("file")) {
    texts.emplace_back(child->value(), child->value_size());
  }
  return texts;
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

void appendFileEntry(Document& doc, Node& group, std::string_view text) {
  char* value = doc.allocate_string(nullptr, text.size() + 1);
  std::memcpy(value, text.data(), text.size());
  value[text.size()] = '\0';
  group.append_node(doc.allocate_node(rapidxml::node_element, "file", value, 0, text.size()));
}

namespace {

// The bytes that the printer writes as references.
constexpr auto kEscaped = [] {
  std::array<unsigned char, 256> escaped{};
  for (const unsigned char c : {'<', '>', '\'', '"', '&'}) {
    escaped[c] = 1;
  }
  return escaped;
}();

std::string_view reference(unsigned char c) {
  switch (c) {
  case '<':
    return "&lt;";
  case '>':
    return "&gt;";
  case '\'':
    return "&apos;";
  case '"':
    return "&quot;";
  default:
    return "&amp;";
  }
}

// RapidXml's printer with flags 0, in runs of bytes rather than one call per byte.
class Printer {
 public:
  explicit Printer(PrintedText& out) : out_(out) {}

  void tabs(int depth) {
    static constexpr std::string_view kTabs = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    for (; depth > 0; depth -= static_cast<int>(kTabs.size())) {
      out_.append(kTabs.substr(0, std::min(static_cast<std::size_t>(depth), kTabs.size())));
    }
  }

  // Text with &, <, > and both quotes written as references, except for the byte keep. Runs of
  // bytes that need none are appended whole: most texts hold no such byte at all.
  void escaped(std::string_view text, char keep = '\0') {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    const auto* run = p;
    for (;;) {
      while (end - p >= 4 &&
             (kEscaped[p[0]] | kEscaped[p[1]] | kEscaped[p[2]] | kEscaped[p[3]]) == 0) {
        p += 4;
      }
      while (p != end && kEscaped[*p] == 0) {
        ++p;
      }
      if (p == end) {
        break;
      }
      if (*p != static_cast<unsigned char>(keep)) {
        out_.append(std::string_view(reinterpret_cast<const char*>(run),
                                     static_cast<std::size_t>(p - run)));
        out_.append(reference(*p));
        run = p + 1;
      }
      ++p;
    }
    out_.append(
        std::string_view(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run)));
  }

  // The start tag up to its ending: tabs, the name and the attributes.
  void startTag(const Node& node, int depth) {
    tabs(depth);
    out_.append('<');
    out_.append(name(node));
    for (auto* attribute = node.first_attribute(); attribute != nullptr;
         attribute = attribute->next_attribute()) {
      const std::string_view value(attribute->value(), attribute->value_size());
      const char quote = value.find('"') == std::string_view::npos ? '"' : '\'';
      out_.append(' ');
      out_.append(std::string_view(attribute->name(), attribute->name_size()));
      out_.append('=');
      out_.append(quote);
      escaped(value, quote == '"' ? '\'' : '"');
      out_.append(quote);
    }
  }

  void endTag(const Node& node) {
    out_.append("</");
    out_.append(name(node));
    out_.append('>');
  }

  // A node and the line feed after it.
  void node(const Node& node, int depth) {
    switch (node.type()) {
    case rapidxml::node_element:
      element(node, depth);
      break;
    case rapidxml::node_data:
      tabs(depth);
      escaped(value(node));
      break;
    case rapidxml::node_cdata:
      tabs(depth);
      out_.append("<![CDATA[");
      out_.append(value(node));
      out_.append("]]>");
      break;
    default:
      break;  // the parse keeps no other kind, and the tool makes none
    }
    out_.append('\n');
  }

  void children(const Node* first, const Node* stop, int depth) {
    for (const Node* child = first; child != stop; child = child->next_sibling()) {
      node(*child, depth);
    }
  }

  void element(const Node& element, int depth) {
    startTag(element, depth);
    const Node* child = element.first_node();
    if (child == nullptr && element.value_size() == 0) {
      out_.append("/>");
      return;
    }
    out_.append('>');
    if (child == nullptr) {
      escaped(value(element));
    } else if (child->next_sibling() == nullptr && child->type() == rapidxml::node_data) {
      escaped(value(*child));
    } else {
      out_.append('\n');
      children(child, nullptr, depth + 1);
      tabs(depth);
    }
    endTag(element);
  }

 private:
  static std::string_view name(const Node& node) { return {node.name(), node.name_size()}; }
  static std::string_view value(const Node& node) { return {node.value(), node.value_size()}; }

  PrintedText& out_;
};

}  // namespace

void QrcPrinter::begin() {
  Printer printer(out_);
  printer.children(doc_.first_node(), &root_, 0);
  printer.startTag(root_, 0);
  out_.append(">\n");
  printer.children(root_.first_node(), &group_, 1);
  printer.startTag(group_, 1);
}

void QrcPrinter::entry(std::string_view head, std::string_view tail) {
  Printer printer(out_);
  out_.append(entries_++ == 0 ? ">\n\t\t<file" : "\t\t<file");
  if (head.empty() && tail.empty()) {
    out_.append("/>\n");
    return;
  }
  out_.append('>');
  printer.escaped(head);
  printer.escaped(tail);
  out_.append("</file>\n");
}

void QrcPrinter::end() {
  Printer printer(out_);
  if (entries_ > 0) {
    out_.append('\t');
  } else if (group_.value_size() == 0) {
    out_.append("/>\n");
  } else {
    out_.append('>');
    printer.escaped(std::string_view(group_.value(), group_.value_size()));
  }
  if (entries_ > 0 || group_.value_size() != 0) {
    printer.endTag(group_);
    out_.append('\n');
  }
  printer.children(group_.next_sibling(), nullptr, 1);
  printer.endTag(root_);
  out_.append('\n');
  printer.children(root_.next_sibling(), nullptr, 0);
  out_.append('\n');
  out_.finish();
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
