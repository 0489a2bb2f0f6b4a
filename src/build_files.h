// What a run writes for the build system besides the .qrc: the depfile of what the result depends
// on (--depfile: the template and every folder listed), the depfile of what rcc's output depends on
// (--rcc-depfile: all that, the .qrc written and every file rcc reads for it), and the stamp
// (--stamp). They are written after the .qrc is saved, the stamp
// last, so that a run that fails leaves the step to run again.
#ifndef RESWEAVER_BUILD_FILES_H_
#define RESWEAVER_BUILD_FILES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "folder_scan.h"
#include "qrc_document.h"
#include "stamp.h"

namespace resweaver {

class BuildFiles {
 public:
  // Takes the stamp's start time, before anything is read.
  BuildFiles(const CommandLine& line, const std::string& uiPath,
             const std::filesystem::path& htmlPath);

  // Makes the scan record each folder that it enters (after any hook that scan holds already).
  void watch(ScanOptions& scan);
  // An entry of the prefix group, as written.
  void entry(const EntryText& text);

  // Writes the depfiles and touches the stamp. written: the .qrc written (or left as it was);
  // root and group: its document, whose other groups' entries rcc reads too. rewroteTemplate: the
  // run changed the .qrc it read (in place), which its depfile names.
  void write(const std::string& written, const Node& root, const Node& group,
             bool rewroteTemplate);

 private:
  // What --depfile names: the template, the HTML folder and every folder entered.
  std::vector<std::string> dependencies() const;
  // Writes the depfiles of the run, whose own dependencies() are given.
  void writeDepfiles(const std::string& written, const Node& root, const Node& group,
                     std::vector<std::string> dependencies);

  const CommandLine& line_;
  std::string uiPath_;
  std::filesystem::path htmlPath_;
  std::optional<std::filesystem::path> htmlResolved_;
  std::vector<std::string> folders_;  // for --depfile
  std::vector<std::string> entries_;  // for --rcc-depfile
  std::optional<Stamp> stamp_;
};

}  // namespace resweaver

#endif  // RESWEAVER_BUILD_FILES_H_
