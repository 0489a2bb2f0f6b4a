// resweaver [options] folder rcname html prefix
//
// Rewrites the prefix group of <folder>/<rcname>.qrc so that it lists every file below
// <folder>/<html>, relative to <folder>. This is the entry point: it reads the command line,
// derives the run's paths, runs the stages in their fixed order, and turns any failure into one
// line on standard output and exit status -1, with the .qrc left as it was.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "build_files.h"
#include "command_line.h"
#include "entry_changes.h"
#include "folder_scan.h"
#include "native_path.h"
#include "output_paths.h"
#include "path_pattern.h"
#include "qrc_document.h"
#include "qrc_file.h"
#include "qrc_printer.h"
#include "text_arena.h"

namespace {

using namespace resweaver;

constexpr int kSuccess = 0;
constexpr int kOutOfDate = 1;  // --check: a run would change the .qrc
constexpr int kFailure = -1;

// Writes text to standard output or error at once. stdio rather than iostreams, whose set-up is an
// eighth of a run over a small project.
void write(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

int fail(const std::exception& error) {
  write(stdout, std::string(error.what()) + "\n");
  return kFailure;
}

// Where a parse failed, in the form compilers use, counted in the file's bytes as read (the parser
// has changed the loaded copy in place).
void tellWhere(const LockedQrc& qrc, const ParseError& error) {
  std::string before(error.offset(), '\0');
  qrc.readAt(before.data(), before.size(), 0);
  const TextPosition where = positionAfter(before);
  write(stderr, qrc.uiPath() + ":" + std::to_string(where.line) + ":" +
                    std::to_string(where.column) + ": error: " + error.what() + "\n");
}

// A check writes nothing, so it has nothing to write for the build system either; a depfile for
// rcc names its target.
void refuseCombinations(const CommandLine& line) {
  const std::pair<bool, const char*> writing[] = {{line.output.has_value(), "--output"},
                                                  {line.depfile.has_value(), "--depfile"},
                                                  {line.stamp.has_value(), "--stamp"},
                                                  {line.rccDepfile.has_value(), "--rcc-depfile"}};
  for (const auto& [given, name] : writing) {
    if (given && line.check) {
      throw std::runtime_error(std::string("option ") + name + " does not go with --check");
    }
  }
  if (line.rccDepfile.has_value() != line.rccTarget.has_value()) {
    throw std::runtime_error("options --rcc-depfile and --rcc-target go together");
  }
}

int run(const CommandLine& line) {
  refuseCombinations(line);
  // Patterns are checked before anything is read.
  const std::vector<PathPattern> excludes(line.excludes.begin(), line.excludes.end());
  const std::vector<std::string>& args = line.arguments;
  const std::filesystem::path rootPath = pathFromNarrow(args[0]);
  const std::string uiPath = narrowText(rootPath / pathFromNarrow(args[1])) + ".qrc";
  const std::string prefix(args[3]);
  const std::filesystem::path htmlPath = rootPath / pathFromNarrow(args[2]);

  BuildFiles buildFiles(line, uiPath, htmlPath);
  LockedQrc qrc(uiPath, line.check || line.output ? Access::kCheck : Access::kUpdate);
  QrcText qrcFile = qrc.load();
  Document doc;
  useLargePages(doc);
  try {
    // The pre-parse check first, then RapidXml. A run that writes never needs the group's old
    // entries: they are left out. A check lists them.
    if (line.check) {
      parseQrc(qrcFile.data(), doc);
    } else {
      parseQrcWithoutEntries(qrcFile.data(), qrcFile.size(), prefix, doc);
    }
  } catch (const ParseError& error) {
    tellWhere(qrc, error);
    throw;
  }
  Node* root = findRoot(doc);
  if (root == nullptr) {
    write(stdout, "can't find root node...");
    return kFailure;
  }
  const Node* found = findGroup(*root, prefix);
  if (found == nullptr && line.requireGroup) {
    throw std::runtime_error("no group " + prefix + " in " + uiPath);
  }
  const std::vector<FileEntry> oldEntries =
      line.check ? fileEntries(found) : std::vector<FileEntry>();
  Node& group = locateOrCreateGroup(doc, *root, prefix);
  // With --output the .qrc is a template, only read: the result goes to a file of its own, its
  // paths rewritten for that file's folder.
  std::unique_ptr<LockedQrc> output;
  std::optional<OutputPaths> paths;
  if (line.output) {
    output = openOutput(*line.output, uiPath);
    paths.emplace(pathFromNarrow(uiPath), pathFromNarrow(*line.output), weaklyCanonical(rootPath));
    rewriteTemplateEntries(doc, *root, group, *paths);
  }
  LockedQrc& written = output ? *output : qrc;

  // The scan's entries go straight into the printed text, between the parts of the document
  // before and after them. While the text equals the old one it is only compared, not kept.
  PrintedText out(written, /*keepChanges=*/!line.check);
  QrcPrinter printer(doc, *root, group, out);
  printer.begin();
  ScanOptions options;
  options.sorted = line.sort;
  options.aliases = line.base;
  if (!excludes.empty()) {
    options.enterFolder = [&](const WalkEntry& entry) {
      return !matchesAny(excludes, entry.path.substr(entry.below), true);
    };
    options.takeFile = [&](const WalkEntry& entry) {
      return !matchesAny(excludes, entry.path.substr(entry.below), false);
    };
  }
  // After the exclusion's hook: the folders recorded for the depfile are those entered.
  buildFiles.watch(options);
  TextArena checked;  // the new entries, for --check
  std::vector<FileEntry> newEntries;
  scanFolder(rootPath, htmlPath, options, [&](const EntryText& text) {
    if (paths && paths->movesEntries()) {
      // The alias keeps the resource path that the entry has in place, or the one that --base
      // gives.
      const EntryText moved = paths->scannedEntry(text);
      if (text.alias.empty()) {
        printer.aliasedEntry(text.head, text.tail, moved.head, moved.tail);
      } else {
        printer.entry(moved.head, moved.tail, text.alias);
      }
      buildFiles.entry(moved);
    } else {
      printer.entry(text.head, text.tail, text.alias);
      buildFiles.entry(text);
    }
    if (line.check) {
      newEntries.push_back({checked.add(text.head, text.tail), checked.add(text.alias, {})});
    }
  });
  printer.end();
  if (!line.check) {
    written.save(out);
    buildFiles.write(written.uiPath(), *root, group, !output && !out.unchanged());
    return kSuccess;
  }
  if (out.unchanged()) {
    return kSuccess;
  }
  std::string report;
  for (const std::string& change :
       describeChanges(oldEntries, newEntries, uiPath, prefix, found != nullptr)) {
    report += change + "\n";
  }
  write(stdout, report);
  return kOutOfDate;
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
      write(stdout, helpText());
      return kSuccess;
    }
    if (line.version) {
      write(stdout, versionText());
      return kSuccess;
    }
    if (line.arguments.size() < 4) {
      write(stdout, usageText());
      return kFailure;
    }
    return run(line);
  } catch (const std::filesystem::filesystem_error& error) {
    return fail(error);
  } catch (const std::exception& error) {
    return fail(error);
  }
}
