// The command line: options in front of the four arguments, the usage text that fewer than four
// arguments print, the help text and the version.
#ifndef RESWEAVER_COMMAND_LINE_H_
#define RESWEAVER_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace resweaver {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool check = false;                  // report whether the .qrc is up to date; never write
  bool sort = false;                   // entries in an order that depends only on their names
  bool base = false;                   // each entry gets an alias: its path below the HTML folder
  bool requireGroup = false;           // refuse to create a missing prefix group
  std::vector<std::string> excludes;   // patterns of paths below the HTML folder to leave out
  std::optional<std::string> output;   // write the result here; the .qrc is only a template
  std::optional<std::string> depfile;  // write what the result depends on, in Make's syntax
  std::optional<std::string> stamp;    // touched by every run that succeeds
  std::optional<std::string> rccDepfile;  // write what rcc reads for the result, in Make's syntax
  std::optional<std::string> rccTarget;   // the target named in that file: rcc's output
  std::vector<std::string> arguments;     // folder rcname html prefix, and any words after them
};

// Options start with "--" and come before the arguments; "--" ends them. An option that takes a
// value has it as the next word or after "=" (--exclude '*.map', --exclude='*.map'). Throws
// "unknown option <word>" for any other word that starts with "--" before the arguments,
// "option <option> needs a value" for a value that is missing, "option <option> given twice" for
// a repeated option that takes one file, and "option <word> must come before the arguments" for a
// word that starts with "--" after the fourth argument (other words there are ignored).
CommandLine parseCommandLine(int argc, const char* const argv[]);

// The five lines printed when fewer than four arguments are given, in the console's encoding.
std::string_view usageText();
std::string_view helpText();
// "resweaver <version>" and a line break.
std::string versionText();

}  // namespace resweaver

#endif  // RESWEAVER_COMMAND_LINE_H_
