#include "command_line.h"

#include <stdexcept>

namespace resweaver {
namespace {

// The usage text is Chinese; on Windows it is held in GBK (code page 936), the console's encoding
// there, and the console turns each line feed into CR LF.
#ifdef _WIN32
constexpr char kUsage[] =
    "\xB4\xB4\xBD\xA8\xB0\xFC\xBA\xAC"
    "html"
    "\xB5\xC4"
    "qrc"
    "\xD7\xCA\xD4\xB4\xCE\xC4\xBC\xFE\xA3\xAC\xCA\xB9\xD3\xC3\xB7\xBD\xB7\xA8\xA3\xBA"
    "resweaver.exe folder rcname html prefix:\n"
    "\t folder: \xCE\xC4\xBC\xFE\xBC\xD0\n"
    "\t rcname: QT\xD7\xCA\xD4\xB4\xC3\xFB\xB3\xC6\n"
    "\t html: \xC9\xFA\xB3\xC9\xB5\xC4Html\xC4\xBF\xC2\xBC\xC3\xFB\xB3\xC6\n"
    "\t prefix: \xD7\xCA\xD4\xB4\xC7\xB0\xD7\xBA\n";
#else
constexpr char kUsage[] =
    "创建包含html的qrc资源文件，使用方法：resweaver.exe folder rcname html prefix:\n"
    "\t folder: 文件夹\n"
    "\t rcname: QT资源名称\n"
    "\t html: 生成的Html目录名称\n"
    "\t prefix: 资源前缀\n";
#endif

constexpr char kHelp[] =
    "resweaver keeps one prefix group of a Qt resource collection file (.qrc) listing every file\n"
    "below a folder of generated HTML.\n"
    "\n"
    "Usage: resweaver [options] folder rcname html prefix\n"
    "\n"
    "Arguments:\n"
    "  folder     the root folder: the .qrc lies in it, and every entry is written relative to it\n"
    "  rcname     the base name of the .qrc, without .qrc (app means folder/app.qrc)\n"
    "  html       the folder to list, relative to folder (or absolute)\n"
    "  prefix     the prefix of the group to rewrite, compared byte for byte; the first child of\n"
    "             the root with an attribute of that value, or a new <qresource prefix=\"...\">\n"
    "\n"
    "Options:\n"
    "  --check    write nothing; report whether a run would change the .qrc, listing the entries\n"
    "             it would add (+) and remove (-)\n"
    "  --sort     list the entries in an order that depends only on their names (path component\n"
    "             by component, bytewise), so that any file system gives the same bytes\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "  --         end the options (for a folder whose name starts with --)\n"
    "\n"
    "Exit status:\n"
    "  0          the .qrc was written, or already held the new content\n"
    "  1          with --check: a run would change the .qrc\n"
    "  255        any failure, reported in one line on standard output; the .qrc is left as it "
    "was\n"
    "\n"
    "Example:\n"
    "  resweaver doc help html /help\n"
    "             rewrites doc/help.qrc so that its group with the prefix /help lists every file\n"
    "             below doc/html, as html/...\n";

}  // namespace

CommandLine parseCommandLine(int argc, const char* const argv[]) {
  CommandLine line;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word.substr(0, 2) != "--") {
      break;
    }
    if (word == "--") {
      ++i;
      break;
    }
    if (word == "--help") {
      line.help = true;
    } else if (word == "--version") {
      line.version = true;
    } else if (word == "--check") {
      line.check = true;
    } else if (word == "--sort") {
      line.sort = true;
    } else {
      throw std::runtime_error("unknown option " + std::string(word));
    }
  }
  line.arguments.assign(argv + i, argv + argc);
  return line;
}

std::string_view usageText() {
  return kUsage;
}

std::string_view helpText() {
  return kHelp;
}

std::string versionText() {
  return std::string("resweaver ") + RESWEAVER_VERSION + "\n";
}

}  // namespace resweaver
