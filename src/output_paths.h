// The paths of a .qrc written elsewhere than its template (--output). rcc takes every relative
// <file> path from the folder of the .qrc it reads, so each one is rewritten to name the same file
// from the output's folder; an entry whose text changes gets an alias, the old text, from which
// rcc derives the same resource path as before (it cleans an alias exactly as it cleans a text).
#ifndef RESWEAVER_OUTPUT_PATHS_H_
#define RESWEAVER_OUTPUT_PATHS_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "folder_scan.h"
#include "qrc_document.h"
#include "qrc_file.h"

namespace resweaver {

// Opens the .qrc that --output names, to be written: locked, or created with its folders if it is
// missing. Throws "option --output names the .qrc itself" when it is the template (whose shared
// lock the run holds, and which it never writes).
std::unique_ptr<LockedQrc> openOutput(const std::string& outputPath,
                                      const std::string& templatePath);

class OutputPaths {
 public:
  // templatePath: the template .qrc; outputPath: the .qrc written, whose folder exists;
  // rootResolved: the root folder as the scan resolves it (weakly canonical).
  OutputPaths(const std::filesystem::path& templatePath, const std::filesystem::path& outputPath,
              const std::filesystem::path& rootResolved);

  // Whether the texts of the scanned entries change at all (they do not when the output lies in
  // the root folder).
  bool movesEntries() const { return rootFromOutput_ != "."; }

  // The text of a template entry, rewritten: relative to the output's folder where there is a
  // relative form, else absolute. Absolute and empty texts, resource paths (":/..."), and every
  // text when the output lies in the template's folder, stay.
  std::string templateEntry(std::string_view text) const;

  // The text of a scanned entry (relative to the root), rewritten. Valid until the next call.
  EntryText scannedEntry(const EntryText& text);

 private:
  std::string fromOutput(const std::filesystem::path& resolved) const;
  std::string rootRelative(std::string_view text) const;

  std::filesystem::path templateFolder_;
  bool sameFolder_;  // the output lies in the template's folder
  std::filesystem::path outputResolved_;
  std::filesystem::path rootFromOutput_;  // the root as seen from the output's folder
  std::string head_;                      // the last head rewritten, and what it became
  std::string movedHead_;
  std::string moved_;
};

// Rewrites the <file> entries of every child of root but group for the output's folder, and gives
// each whose text changes and that has no alias the old text as its alias. An entry with child
// elements is left as it is (rcc refuses it anyway).
void rewriteTemplateEntries(Document& doc, Node& root, const Node& group, const OutputPaths& paths);

}  // namespace resweaver

#endif  // RESWEAVER_OUTPUT_PATHS_H_
