#include "qrc_printer.h"

#include <algorithm>
#include <array>

namespace resweaver {

namespace {

// The bytes that the printer writes as references.
constexpr auto kEscaped = [] {
  std::array<unsigned char, 256> escaped{};
  for (const char c : {'<', '>', '\'', '"', '&'}) {
    escaped[static_cast<unsigned char>(c)] = 1;
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
      this->attribute({attribute->name(), attribute->name_size()},
                      {attribute->value(), attribute->value_size()});
    }
  }

  // One space and the attribute: a value that holds a double quote goes in apostrophes, with its
  // double quotes as they are; any other in double quotes, with its apostrophes as they are.
  void attribute(std::string_view name, std::string_view value) {
    const char quote = value.find('"') == std::string_view::npos ? '"' : '\'';
    out_.append(' ');
    out_.append(name);
    out_.append('=');
    out_.append(quote);
    escaped(value, quote == '"' ? '\'' : '"');
    out_.append(quote);
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

void QrcPrinter::entry(std::string_view head, std::string_view tail, std::string_view alias) {
  Printer printer(out_);
  out_.append(entries_++ == 0 ? ">\n\t\t<file" : "\t\t<file");
  if (!alias.empty()) {
    printer.attribute("alias", alias);
  }
  if (head.empty() && tail.empty()) {
    out_.append("/>\n");
    return;
  }
  out_.append('>');
  printer.escaped(head);
  printer.escaped(tail);
  out_.append("</file>\n");
}

void QrcPrinter::aliasedEntry(std::string_view aliasHead, std::string_view aliasTail,
                              std::string_view head, std::string_view tail) {
  std::string alias(aliasHead);
  alias += aliasTail;
  entry(head, tail, alias);
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

}  // namespace resweaver
