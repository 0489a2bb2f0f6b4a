// The command line: options in front of the four arguments, the usage text that fewer than four
// arguments print, the help text and the version.
#ifndef RESWEAVER_COMMAND_LINE_H_
#define RESWEAVER_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace resweaver {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool check = false;                  // report whether the .qrc is up to date; never write
  bool sort = false;                   // entries in an order that depends only on their names
  std::vector<std::string> arguments;  // folder rcname html prefix, and any words after them
};

// Options start with "--" and come before the arguments; "--" ends them. Throws
// "unknown option <word>" for any other word that starts with "--" before the arguments.
CommandLine parseCommandLine(int argc, const char* const argv[]);

// The five lines printed when fewer than four arguments are given, in the console's encoding.
std::string_view usageText();
std::string_view helpText();
// "resweaver <version>" and a line break.
std::string versionText();

}  // namespace resweaver

#endif  // RESWEAVER_COMMAND_LINE_H_
