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
constexpr char kRcc6[] = "/usr/lib/qt6/libexec/rcc";

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

  // Compiles the .qrc and returns the lines that rcc lists for it (with list, --list-mapping).
  std::set<std::string> compile(const fs::path& qrc, const std::string& rcc = kRcc,
                                const std::string& list = "--list") {
    const RunResult compiled =
        runCommand(rcc + " " + quoted(qrc.string()) + " -o " + quoted((dir / "out.cpp").string()));
    EXPECT_EQ(compiled.status, 0);
    EXPECT_EQ(compiled.err, "");
    const RunResult listed = runCommand(rcc + " " + list + " " + quoted(qrc.string()));
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

// With --base, each kept file's resource path is the prefix and its path below the HTML folder,
// in Qt 5 and in Qt 6.
TEST_F(RccTest, MapsEachKeptFileToItsPathBelowTheHtmlFolder) {
  const fs::path project = dir / "project";
  const char* names[] = {
      "index.html",   "a&b's page;1.html", "space name.js", "\xC3\xA9t\xC3\xA9.css",
      "q\"uote.html", "app.js.map",        ".hidden"};
  for (const std::string folder :
       {"", "one two/", "caf\xC3\xA9 & co/deep/", "_sources/", ".git/"}) {
    for (const char* name : names) {
      writeFile(project / "html" / (folder + name), name);
    }
  }
  writeFile(project / "app.qrc", "<RCC/>");
  const RunResult result = runTool({"--base", "--exclude", "*.map", "--exclude", ".*", "--exclude",
                                    "_sources", project.string(), "app", "html", "/help"});
  ASSERT_EQ(result.status, 0) << result.out;
  std::set<std::string> expected;
  for (const auto& entry : fs::recursive_directory_iterator(project / "html")) {
    const std::string below = entry.path().lexically_relative(project / "html").generic_string();
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() && below.find("_sources") == std::string::npos &&
        below.find(".map") == std::string::npos && name[0] != '.' &&
        below.find(".git") == std::string::npos) {
      expected.insert(":/help/" + below);
    }
  }
  ASSERT_EQ(expected.size(), 15u);
  for (const char* rcc : {kRcc, kRcc6}) {
    SCOPED_TRACE(rcc);
    if (!fs::exists(rcc)) {
      continue;  // Qt 6's rcc comes with qt6-base-dev; Qt 5's is checked in SetUp
    }
    std::set<std::string> paths;
    for (const std::string& line : compile(project / "app.qrc", rcc, "--list-mapping")) {
      paths.insert(line.substr(0, line.find('\t')));
    }
    EXPECT_EQ(paths, expected);
  }
}

}  // namespace
}  // namespace resweaver
