#include "build_files.h"

#include <utility>

#include "depfile.h"
#include "native_path.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// A path as the build system should stat it: absolute, its folders resolved (a ".." after a link
// means what the kernel makes of it, whatever a build tool would make of it lexically), its own
// name kept.
std::string resolvedText(const fs::path& path) {
  const fs::path name = path.filename();
  if (name.empty() || name == "." || name == "..") {
    return narrowText(weaklyCanonical(path));
  }
  return narrowText(weaklyCanonical(fs::absolute(path).parent_path()) / name);
}

}  // namespace

BuildFiles::BuildFiles(const CommandLine& line, const std::string& uiPath, const fs::path& htmlPath)
    : line_(line), uiPath_(uiPath), htmlPath_(htmlPath) {
  // A target that cannot be written fails the run before anything is written.
  if (line.depfile) {
    depfileText(line.stamp ? *line.stamp : line.output ? *line.output : uiPath, {});
  }
  if (line.rccTarget) {
    depfileText(*line.rccTarget, {});
  }
  if (line.stamp) {
    stamp_.emplace(*line.stamp);
  }
}

// The walk never enters a link, so below the HTML folder every folder is a real one: the resolved
// HTML folder and the names below it name it exactly.
void BuildFiles::watch(ScanOptions& scan) {
  if (!line_.depfile && !line_.rccDepfile) {
    return;
  }
  scan.enterFolder = [this, inner = std::move(scan.enterFolder)](const WalkEntry& folder) {
    if (inner && !inner(folder)) {
      return false;
    }
    if (!htmlResolved_) {
      htmlResolved_ = weaklyCanonical(htmlPath_);
    }
    std::string buffer;
    std::string text = narrowText(*htmlResolved_);
    text += static_cast<char>(fs::path::preferred_separator);
    text += narrowView(folder.path.substr(folder.below), buffer);
    folders_.push_back(std::move(text));
    return true;
  };
}

void BuildFiles::entry(const EntryText& text) {
  if (line_.rccDepfile) {
    entries_.push_back(text.str());
  }
}

void BuildFiles::write(const std::string& written, const Node& root, const Node& group,
                       bool rewroteTemplate) {
  const bool named = line_.depfile || line_.rccDepfile;
  const std::vector<std::string> names = named ? dependencies() : std::vector<std::string>();
  if (named) {
    writeDepfiles(written, root, group, names);
  }
  if (!stamp_) {
    return;
  }
  if (rewroteTemplate && line_.depfile) {
    // The run's own write of the template (the first name) would otherwise make the next build
    // run it again.
    stamp_->touchAfterOwnWrite(std::vector<std::string>(names.begin() + 1, names.end()));
  } else {
    stamp_->touch();
  }
}

std::vector<std::string> BuildFiles::dependencies() const {
  std::vector<std::string> names = {resolvedText(pathFromNarrow(uiPath_)),
                                    narrowText(weaklyCanonical(htmlPath_))};
  names.insert(names.end(), folders_.begin(), folders_.end());
  return names;
}

void BuildFiles::writeDepfiles(const std::string& written, const Node& root, const Node& group,
                               std::vector<std::string> dependencies) {
  const std::string& target = line_.stamp ? *line_.stamp : written;
  if (line_.depfile) {
    writeTextFile(*line_.depfile, depfileText(target, dependencies));
  }
  if (!line_.rccDepfile) {
    return;
  }
  std::vector<std::string> texts;
  for (const Node* child = root.first_node(); child != nullptr; child = child->next_sibling()) {
    if (child != &group && child->type() == rapidxml::node_element) {
      for (const FileEntry& entry : fileEntries(child)) {
        texts.emplace_back(entry.text);
      }
    }
  }
  texts.insert(texts.end(), entries_.begin(), entries_.end());
  // What rcc's output depends on through this run as well: a step that runs the tool and then rcc
  // takes this file as its whole depfile.
  const std::vector<std::string> inputs = rccInputs(written, texts);
  dependencies.insert(dependencies.end(), inputs.begin(), inputs.end());
  writeTextFile(*line_.rccDepfile, depfileText(*line_.rccTarget, dependencies));
}

}  // namespace resweaver
