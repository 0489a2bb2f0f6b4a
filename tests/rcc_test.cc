// Qt's resource compiler is the real client of the file the tool writes: it must compile it without
// a word, and list exactly the files of the HTML folder plus the untouched groups.
#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::quoted;
using testing::readFile;
using testing::runCommand;
using testing::RunResult;
using testing::runTool;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

constexpr char kRcc[] = "/usr/lib/qt5/bin/rcc";

std::set<std::string> lines(const std::string& text) {
  std::set<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    result.insert(line);
  }
  return result;
}

// The files below html, as absolute paths, plus extra.
std::set<std::string> filesBelow(const fs::path& html, std::set<std::string> extra) {
  for (const auto& entry : fs::recursive_directory_iterator(html)) {
    if (!entry.is_directory()) {
      extra.insert(entry.path().string());
    }
  }
  return extra;
}

class RccTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kRcc)) {
      GTEST_SKIP() << kRcc << " is missing (Debian package qtbase5-dev-tools)";
    }
  }

  // Compiles the .qrc and returns the files that rcc lists for it.
  std::set<std::string> compile(const fs::path& qrc) {
    const RunResult compiled = runCommand(std::string(kRcc) + " " + quoted(qrc.string()) + " -o " +
                                          quoted((dir / "out.cpp").string()));
    EXPECT_EQ(compiled.status, 0);
    EXPECT_EQ(compiled.err, "");
    const RunResult listed = runCommand(std::string(kRcc) + " --list " + quoted(qrc.string()));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.err, "");
    return lines(listed.out);
  }

  TempDir dir;
};

TEST_F(RccTest, CompilesTheExampleProject) {
  const fs::path site = dir / "site";
  fs::copy(RESWEAVER_EXAMPLE, site, fs::copy_options::recursive);
  const RunResult result = runTool({site.string(), "app", "html", "/help"});
  ASSERT_EQ(result.status, 0) << result.out;

  std::string expected = "<RCC version=\"1.0\">\n\t<qresource prefix=\"/help\">\n";
  for (const auto& entry : fs::recursive_directory_iterator(site / "html")) {
    if (!entry.is_directory()) {
      expected += "\t\t<file>" + fs::relative(entry.path(), site).string() + "</file>\n";
    }
  }
  expected +=
      "\t</qresource>\n\t<qresource prefix=\"/icons\">\n"
      "\t\t<file alias=\"logo.svg\">icons/logo.svg</file>\n\t</qresource>\n</RCC>\n\n";
  EXPECT_EQ(readFile(site / "app.qrc"), expected);
  EXPECT_EQ(compile(site / "app.qrc"),
            filesBelow(site / "html", {(site / "icons/logo.svg").string()}));
}

TEST_F(RccTest, CompilesAGeneratedTree) {
  const fs::path project = dir / "project";
  const char* names[] = {"index.html", "a&b's page.html", "<odd>.html", "\xC3\xA9t\xC3\xA9.css",
                         ".hidden",    "space name.js"};
  int count = 0;
  for (const std::string folder : {"", "one/", "one/two/", "one/two/three/", "other/"}) {
    for (const char* name : names) {
      writeFile(project / "docs" / (folder + name), "file " + std::to_string(++count));
    }
  }
  fs::create_directories(project / "docs/empty");
  writeFile(project / "res/keep.txt", "kept");
  writeFile(project / "resources.qrc",
            "<RCC><qresource prefix='/res'><file>res/keep.txt</file></qresource></RCC>");
  const RunResult result = runTool({project.string(), "resources", "docs", "/docs"});
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(compile(project / "resources.qrc"),
            filesBelow(project / "docs", {(project / "res/keep.txt").string()}));
}

}  // namespace
}  // namespace resweaver
