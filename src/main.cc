// resweaver folder rcname html prefix
//
// Rewrites the prefix group of <folder>/<rcname>.qrc so that it lists every file below
// <folder>/<html>, relative to <folder>. This is the entry point: it checks the command line,
// derives the run's paths, runs the stages in their fixed order, and turns any failure into one
// line on standard output and exit status -1, with the .qrc left as it was.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "folder_scan.h"
#include "native_path.h"
#include "qrc_document.h"
#include "qrc_file.h"

namespace {

constexpr int kFailure = -1;

#ifdef _WIN32
// The usage text in GBK (code page 936) bytes; the console turns each line feed into CR LF.
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

int fail(const std::exception& error) {
  std::cout << error.what() << std::endl;
  return kFailure;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace resweaver;
  if (argc < 5) {
    std::cout << kUsage << std::flush;
    return kFailure;
  }
  try {
    const std::filesystem::path rootPath = pathFromNarrow(argv[1]);
    const std::string uiPath = narrowText(rootPath / pathFromNarrow(argv[2])) + ".qrc";
    const std::string prefix(argv[4]);
    const std::filesystem::path htmlPath = rootPath / pathFromNarrow(argv[3]);

    LockedQrc qrc(uiPath, Access::kUpdate);
    QrcText qrcFile = qrc.load();
    Document doc;
    useLargePages(doc);
    parseQrc(qrcFile.data(), doc);
    Node* root = findRoot(doc);
    if (root == nullptr) {
      std::cout << "can't find root node..." << std::flush;
      return kFailure;
    }
    Node& group = locateOrCreateGroup(doc, *root, prefix);
    scanFolder(rootPath, htmlPath, doc, group);
    PrintedText out(qrc);
    printQrc(doc, out);
    qrc.save(out);
    return 0;
  } catch (const std::filesystem::filesystem_error& error) {
    return fail(error);
  } catch (const std::exception& error) {
    return fail(error);
  }
}
