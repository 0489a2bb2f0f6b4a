#include "output_paths.h"

#include <cstring>
#include <stdexcept>
#include <system_error>

#include "native_path.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// The folder from which rcc reads the relative paths of a .qrc: the path's parent, "." for a
// bare name.
fs::path folderOf(const fs::path& qrc) {
  return qrc.has_parent_path() ? qrc.parent_path() : fs::path(".");
}

char* copyInto(Document& doc, std::string_view text) {
  return doc.allocate_string(text.data(), text.size());
}

}  // namespace

std::unique_ptr<LockedQrc> openOutput(const std::string& outputPath,
                                      const std::string& templatePath) {
  std::error_code error;
  if (fs::equivalent(pathFromNarrow(outputPath), pathFromNarrow(templatePath), error)) {
    throw std::runtime_error("option --output names the .qrc itself");
  }
  return std::make_unique<LockedQrc>(outputPath, Access::kCreate);
}

OutputPaths::OutputPaths(const fs::path& templatePath, const fs::path& outputPath,
                         const fs::path& rootResolved)
    : templateFolder_(folderOf(templatePath)),
      outputResolved_(weaklyCanonical(folderOf(outputPath))) {
  sameFolder_ = weaklyCanonical(templateFolder_) == outputResolved_;
  rootFromOutput_ = rootResolved.lexically_relative(outputResolved_);
  if (rootFromOutput_.empty()) {
    rootFromOutput_ = rootResolved;  // no relative form (another drive): absolute texts
  }
}

// The file as the kernel finds it from the template's folder: the folders on its way resolved
// (a ".." after a link climbs from the link's target), its own name kept, so that a link stays a
// link.
std::string OutputPaths::templateEntry(std::string_view text) const {
  if (sameFolder_ || text.empty() || text.front() == ':') {
    return std::string(text);
  }
  const fs::path entry = pathFromNarrow(std::string(text));
  if (entry.has_root_path()) {
    return std::string(text);
  }
  const fs::path full = templateFolder_ / entry;
  const fs::path name = full.filename();
  if (name.empty() || name == "." || name == "..") {
    return fromOutput(weaklyCanonical(full));
  }
  return fromOutput(weaklyCanonical(full.parent_path()) / name);
}

std::string OutputPaths::fromOutput(const fs::path& resolved) const {
  const fs::path relative = resolved.lexically_relative(outputResolved_);
  return narrowText(relative.empty() ? resolved : relative);
}

// The root and the scanned texts are resolved already: joining and normalizing them is exact.
std::string OutputPaths::rootRelative(std::string_view text) const {
  return narrowText((rootFromOutput_ / pathFromNarrow(std::string(text))).lexically_normal());
}

EntryText OutputPaths::scannedEntry(const EntryText& text) {
  if (text.tail.empty()) {
    moved_ = rootRelative(text.head);
    return {moved_, {}, false, {}};
  }
  // Most entries share their head, the HTML folder's relative form: it is rewritten once.
  if (text.head != head_ || movedHead_.empty()) {
    head_ = text.head;
    movedHead_ = rootRelative(text.head);
  }
  return {movedHead_, text.tail, false, {}};
}

void rewriteTemplateEntries(Document& doc, Node& root, const Node& group,
                            const OutputPaths& paths) {
  for (Node* child = root.first_node(); child != nullptr; child = child->next_sibling()) {
    if (child == &group || child->type() != rapidxml::node_element) {
      continue;
    }
    for (Node* file = child->first_node("file"); file != nullptr;
         file = file->next_sibling("file")) {
      // rcc reads the entry's character data, text and CDATA sections alike.
      std::string text;
      bool plain = true;
      for (const Node* part = file->first_node(); part != nullptr; part = part->next_sibling()) {
        plain =
            plain && (part->type() == rapidxml::node_data || part->type() == rapidxml::node_cdata);
        text.append(part->value(), part->value_size());
      }
      if (!plain) {
        continue;
      }
      const std::string moved = paths.templateEntry(text);
      if (moved == text) {
        continue;
      }
      if (file->first_attribute("alias") == nullptr) {
        file->append_attribute(
            doc.allocate_attribute("alias", copyInto(doc, text), 0, text.size()));
      }
      char* value = copyInto(doc, moved);
      file->remove_all_nodes();
      file->append_node(doc.allocate_node(rapidxml::node_data, nullptr, value, 0, moved.size()));
      file->value(value, moved.size());
    }
  }
}

}  // namespace resweaver
