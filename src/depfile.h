// Dependency files in the Make syntax that both Ninja and GNU make read ("target: dependency ..."),
// each dependency also given an empty rule of its own, so that make takes a deleted one as a change
// rather than stopping for want of a rule. What goes into them: the folders a run listed
// (--depfile), and the files that rcc reads for a .qrc (--rcc-depfile).
#ifndef RESWEAVER_DEPFILE_H_
#define RESWEAVER_DEPFILE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace resweaver {

// name as both Ninja and GNU make read it back, or nothing when one of them cannot (a line break,
// or a character that one of them takes as syntax and neither lets through escaped: see the .cc).
std::optional<std::string> depfileName(std::string_view name);

// The depfile that makes target depend on dependencies. A dependency that cannot be written makes
// target depend on a path below target itself, which never exists (target is a file), so that the
// step runs at every build rather than miss a change. Throws "cannot write <target> as the target
// of a depfile" when target itself cannot be written.
std::string depfileText(std::string_view target, const std::vector<std::string>& dependencies);

// The files and folders that rcc reads for the .qrc at qrcPath, whose <file> texts are texts: the
// .qrc, then each text taken from the .qrc's folder (unless it is absolute), a folder with every
// folder and file below it (links followed, as rcc follows them). Absolute paths.
std::vector<std::string> rccInputs(const std::string& qrcPath,
                                   const std::vector<std::string>& texts);

// Writes text into the file at path (created, with the folders above it, if missing): atomically
// and durably, as the .qrc is saved, and not at all when the file holds text already.
void writeTextFile(const std::string& path, std::string_view text);

}  // namespace resweaver

#endif  // RESWEAVER_DEPFILE_H_
