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
    "  --check            write nothing; report whether a run would change the .qrc, listing the\n"
    "                     entries it would add (+) and remove (-), an entry with an alias as\n"
    "                     <alias> <- <file>, and saying first when it would add the group\n"
    "  --sort             list the entries in an order that depends only on their names (path\n"
    "                     component by component, bytewise), so that any file system gives the\n"
    "                     same bytes\n"
    "  --base             give each entry an alias, its path below the HTML folder with /, so\n"
    "                     that its resource path is :<prefix>/<path below html>; with --sort,\n"
    "                     the entries follow these paths\n"
    "  --exclude PATTERN  leave out the files and folders whose path below the HTML folder\n"
    "                     matches PATTERN; repeatable. * and ? match within a name, [...] one\n"
    "                     character of a set ([!...] of the others), ** any number of folders;\n"
    "                     a pattern without / matches a name at any depth, a trailing / folders\n"
    "                     only. A folder left out is not opened. Example: --exclude '.*'\n"
    "  --require-group    fail rather than add the group when the .qrc has none with the prefix\n"
    "                     (with --check too)\n"
    "  --output FILE      read the .qrc as a template, never writing it, and write the result\n"
    "                     to FILE, with its paths rewritten for FILE's folder\n"
    "  --depfile FILE     write what the result depends on (the .qrc and every folder listed),\n"
    "                     in Make's syntax, to FILE; its target is the stamp, else the output\n"
    "  --stamp FILE       touch FILE at every run that succeeds (the depfile's target)\n"
    "  --rcc-depfile FILE write the files that rcc reads for the result, in Make's syntax, to\n"
    "                     FILE, with the target that --rcc-target names (rcc's output)\n"
    "  --rcc-target FILE  the target of the --rcc-depfile\n"
    "  --help             print this help and exit\n"
    "  --version          print the version and exit\n"
    "  --                 end the options (for a folder whose name starts with --)\n"
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
    const std::size_t equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    // The option's value: after "=", or the next word.
    const auto value = [&]() -> std::string {
      if (equals != std::string_view::npos) {
        return std::string(word.substr(equals + 1));
      }
      if (i + 1 == argc) {
        throw std::runtime_error("option " + std::string(name) + " needs a value");
      }
      return argv[++i];
    };
    const auto file = [&](std::optional<std::string>& into) {
      if (into) {
        throw std::runtime_error("option " + std::string(name) + " given twice");
      }
      into = value();
    };
    bool* flag = name == "--help"            ? &line.help
                 : name == "--version"       ? &line.version
                 : name == "--check"         ? &line.check
                 : name == "--sort"          ? &line.sort
                 : name == "--base"          ? &line.base
                 : name == "--require-group" ? &line.requireGroup
                                             : nullptr;
    if (flag != nullptr && equals == std::string_view::npos) {
      *flag = true;
    } else if (name == "--exclude") {
      line.excludes.push_back(value());
    } else if (name == "--output") {
      file(line.output);
    } else if (name == "--depfile") {
      file(line.depfile);
    } else if (name == "--stamp") {
      file(line.stamp);
    } else if (name == "--rcc-depfile") {
      file(line.rccDepfile);
    } else if (name == "--rcc-target") {
      file(line.rccTarget);
    } else {
      throw std::runtime_error("unknown option " + std::string(word));
    }
  }
  line.arguments.assign(argv + i, argv + argc);
  // An option after the arguments would otherwise be ignored, and a check written that way would
  // write the file and pass.
  for (std::size_t at = 4; at < line.arguments.size(); ++at) {
    if (line.arguments[at].compare(0, 2, "--") == 0) {
      throw std::runtime_error("option " + line.arguments[at] + " must come before the arguments");
    }
  }
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
