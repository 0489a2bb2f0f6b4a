// resweaver folder rcname html prefix
//
// Rewrites the prefix group of <folder>/<rcname>.qrc so that it lists every file below
// <folder>/<html>, relative to <folder>. This is the entry point: it checks the command line,
// derives the run's paths, runs the stages in their fixed order, and turns any failure into one
// line on standard output and exit status -1, with the .qrc left as it was.
#include <csignal>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "folder_scan.h"
#include "qrc_document.h"

namespace {

constexpr int kFailure = -1;

constexpr char kUsage[] =
    "创建包含html的qrc资源文件，使用方法：resweaver.exe folder rcname html "
    "prefix:\n"
    "\t folder: 文件夹\n"
    "\t rcname: QT资源名称\n"
    "\t html: 生成的Html目录名称\n"
    "\t prefix: 资源前缀\n";

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
  // A file-size limit then makes the write fail with EFBIG, which is reported, instead of killing
  // the process.
  std::signal(SIGXFSZ, SIG_IGN);

  const std::filesystem::path rootPath(argv[1]);
  try {
    const std::string uiPath = (rootPath / argv[2]).string() + ".qrc";
    const std::string prefix(argv[4]);
    const std::filesystem::path htmlPath = rootPath / argv[3];

    const QrcLock lock(uiPath);
    QrcFile qrcFile = loadQrc(uiPath);
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
    saveQrc(uiPath, printQrc(doc));
    return 0;
  } catch (const std::filesystem::filesystem_error& error) {
    return fail(error);
  } catch (const std::exception& error) {
    return fail(error);
  }
}
