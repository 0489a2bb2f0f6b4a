// The options that shape the group, run through the built tool: --base, --exclude,
// --require-group, what --check says of them, and options misplaced after the arguments. Exit
// status, standard output and the bytes of the .qrc are compared exactly.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::asUnprivileged;
using testing::kFailure;
using testing::openToEveryone;
using testing::readFile;
using testing::RunResult;
using testing::runTool;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

// <RCC> with one group and its entries, as the tool prints it.
std::string qrcWith(const std::string& prefix, const std::vector<std::string>& files) {
  std::string text = "<RCC>\n\t<qresource prefix=\"" + prefix + "\">\n";
  for (const std::string& file : files) {
    text += "\t\t" + file + "\n";
  }
  return text + "\t</qresource>\n</RCC>\n\n";
}

class RunOptionsTest : public ::testing::Test {
 protected:
  RunOptionsTest() {
    for (const char* name : {"index.html", "css/site.css", "a&b's \"q\" <1>.html",
                             "\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html", "css-extra.css"}) {
      writeFile(dir / "html" / name, name);
    }
    // A link to a file: its resource path is its own, its text its target's.
    fs::create_symlink("../index.html", dir / "html/css/link.html");
  }

  // Runs the tool with options before the four arguments (the prefix /help).
  RunResult run(std::vector<std::string> options, const std::string& prefix = "/help",
                const std::string& shellPrefix = "") const {
    options.insert(options.end(), {dir.path().string(), "app", "html", prefix});
    return runTool(options, shellPrefix);
  }

  // Expects a failure with message that leaves the .qrc's bytes and time as they were.
  void expectRefusal(const std::vector<std::string>& words, const std::string& message) const {
    const std::string before = readFile(qrcPath());
    const auto time = fs::last_write_time(qrcPath()) - std::chrono::hours(1);
    fs::last_write_time(qrcPath(), time);
    const RunResult result = runTool(words);
    EXPECT_EQ(result.status, kFailure);
    EXPECT_EQ(result.out, message);
    EXPECT_EQ(readFile(qrcPath()), before);
    EXPECT_EQ(fs::last_write_time(qrcPath()), time);
  }

  std::vector<std::string> args(const std::string& prefix = "/help") const {
    return {dir.path().string(), "app", "html", prefix};
  }
  fs::path qrcPath() const { return dir / "app.qrc"; }
  std::string qrc() const { return qrcPath().string(); }

  TempDir dir;
};

TEST_F(RunOptionsTest, GivesEachEntryItsPathBelowTheHtmlFolderAsAlias) {
  writeFile(qrcPath(), "<RCC/>");
  RunResult result = run({"--base", "--sort"});
  ASSERT_EQ(result.status, 0) << result.out;
  const std::string expected = qrcWith(
      "/help",
      {"<file alias='a&amp;b&apos;s \"q\" &lt;1&gt;.html'>html/a&amp;b&apos;s &quot;q&quot; "
       "&lt;1&gt;.html</file>",
       "<file alias=\"css/link.html\">html/index.html</file>",
       "<file alias=\"css/site.css\">html/css/site.css</file>",
       "<file alias=\"css-extra.css\">html/css-extra.css</file>",
       "<file alias=\"index.html\">html/index.html</file>",
       "<file alias=\"\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html\">html/\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html"
       "</file>"});
  EXPECT_EQ(readFile(qrcPath()), expected);

  // Up to date: a check passes, and a second run leaves the file and its time alone.
  const auto written = fs::last_write_time(qrcPath());
  EXPECT_EQ(run({"--check", "--sort", "--base"}).status, 0);
  EXPECT_EQ(run({"--sort", "--base"}).status, 0);
  EXPECT_EQ(fs::last_write_time(qrcPath()), written);
  EXPECT_EQ(readFile(qrcPath()), expected);

  // Without --base, every alias would go.
  result = run({"--check", "--sort"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "+ html/a&b's \"q\" <1>.html\n"
            "+ html/css/site.css\n"
            "+ html/css-extra.css\n"
            "+ html/index.html\n"
            "+ html/index.html\n"
            "+ html/\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html\n"
            "- a&b's \"q\" <1>.html <- html/a&b's \"q\" <1>.html\n"
            "- css/link.html <- html/index.html\n"
            "- css/site.css <- html/css/site.css\n"
            "- css-extra.css <- html/css-extra.css\n"
            "- index.html <- html/index.html\n"
            "- \xC3\xA9t\xC3\xA9/caf\xC3\xA9.html <- html/\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html\n");
}

// Sorted with --base, the entries follow their resource paths: a link by its own path, not by
// its target's, and an HTML folder outside the root like any other.
TEST_F(RunOptionsTest, SortsByTheResourcePath) {
  writeFile(dir / "web/b.html", "");
  writeFile(dir / "web/z/target.html", "");
  fs::create_symlink("z/target.html", dir / "web/a.html");
  writeFile(dir / "app/app.qrc", "<RCC/>");
  const std::vector<std::string> call = {(dir / "app").string(), "app", "../web", "/"};
  std::vector<std::string> sorted = call;
  sorted.insert(sorted.begin(), {"--sort", "--base"});
  ASSERT_EQ(runTool(sorted).status, 0);
  EXPECT_EQ(readFile(dir / "app/app.qrc"),
            qrcWith("/", {"<file alias=\"a.html\">../web/z/target.html</file>",
                          "<file alias=\"b.html\">../web/b.html</file>",
                          "<file alias=\"z/target.html\">../web/z/target.html</file>"}));
  sorted.erase(sorted.begin() + 1);
  ASSERT_EQ(runTool(sorted).status, 0);
  EXPECT_EQ(readFile(dir / "app/app.qrc"),
            qrcWith("/", {"<file>../web/b.html</file>", "<file>../web/z/target.html</file>",
                          "<file>../web/z/target.html</file>"}));
}

// Each row runs on the same tree, sorted and with aliases, and lists the aliases written.
TEST_F(RunOptionsTest, LeavesOutWhatThePatternsMatch) {
  const fs::path site = dir / "site";
  for (const char* name : {"index.html", ".nojekyll", ".git/config", "js/app.js", "js/app.js.map",
                           "_sources/index.txt", "api/_sources/a.txt", "api/a.html",
                           "api/v1/private/key.html", "build/out.html", "x/build", "Z.HTML"}) {
    writeFile(site / "html" / name, "");
  }
  fs::create_symlink("../index.html", site / "html/js/link.map");
  const struct {
    std::vector<std::string> options;
    std::vector<std::string> aliases;
  } cases[] = {
      {{"--exclude", ".*", "--exclude", "*.map", "--exclude", "_sources"},
       {"Z.HTML", "api/a.html", "api/v1/private/key.html", "build/out.html", "index.html",
        "js/app.js", "x/build"}},
      {{"--exclude=build/"},
       {".git/config", ".nojekyll", "Z.HTML", "_sources/index.txt", "api/_sources/a.txt",
        "api/a.html", "api/v1/private/key.html", "index.html", "js/app.js", "js/app.js.map",
        "js/link.map", "x/build"}},
      {{"--exclude", "/_sources", "--exclude", "api/**/private", "--exclude", "js/*.*"},
       {".git/config", ".nojekyll", "Z.HTML", "api/_sources/a.txt", "api/a.html", "build/out.html",
        "index.html", "x/build"}},
      {{"--exclude", "**/a*", "--exclude", "[!a-z_]*", "--exclude", "*/*/*"},
       {"_sources/index.txt", "build/out.html", "index.html", "js/link.map", "x/build"}},
      {{"--exclude", "*"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.front() + " " + c.options.back());
    writeFile(site / "app.qrc", "<RCC/>");
    std::vector<std::string> call = {"--sort", "--base"};
    call.insert(call.end(), c.options.begin(), c.options.end());
    call.insert(call.end(), {site.string(), "app", "html", "/"});
    const RunResult result = runTool(call);
    ASSERT_EQ(result.status, 0) << result.out;
    std::vector<std::string> files;
    for (const std::string& alias : c.aliases) {
      const std::string text = alias == "js/link.map" ? "index.html" : alias;
      files.push_back("<file alias=\"" + alias + "\">html/" + text + "</file>");
    }
    EXPECT_EQ(readFile(site / "app.qrc"), files.empty()
                                              ? "<RCC>\n\t<qresource prefix=\"/\"/>\n</RCC>\n\n"
                                              : qrcWith("/", files));
  }
  // A bad pattern is refused before anything is read.
  writeFile(qrcPath(), "<RCC/>");
  std::vector<std::string> call = args();
  call.insert(call.begin(), {"--exclude", "*.map", "--exclude", "a//b"});
  expectRefusal(call, "bad exclude pattern a//b: it holds an empty name\n");
}

// A folder left out is not even opened: one that cannot be read fails the run only when it is
// listed.
TEST_F(RunOptionsTest, NeverOpensAFolderLeftOut) {
  writeFile(qrcPath(), "<RCC/>");
  writeFile(dir / "html/closed/secret.html", "");
  openToEveryone(dir.path());
  fs::permissions(qrcPath(), fs::perms::all);
  fs::permissions(dir / "html/closed", fs::perms::owner_all);
  const RunResult refused = run({}, "/help", asUnprivileged());
  EXPECT_EQ(refused.status, kFailure);
  EXPECT_NE(refused.out.find("Permission denied"), std::string::npos) << refused.out;
  for (const char* pattern : {"closed", "closed/", "/closed", "c*d"}) {
    SCOPED_TRACE(pattern);
    writeFile(qrcPath(), "<RCC/>");
    const RunResult result = run({"--exclude", pattern, "--sort"}, "/help", asUnprivileged());
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, "");
    const std::string written = readFile(qrcPath());
    EXPECT_NE(written.find("<file>html/index.html</file>"), std::string::npos);
    EXPECT_EQ(written.find("closed"), std::string::npos);
  }
}

TEST_F(RunOptionsTest, ChecksAliases) {
  writeFile(qrcPath(), qrcWith("/help", {"<file alias=\"old.html\">html/index.html</file>",
                                         "<file alias=\"css/site.css\">html/css/site.css</file>",
                                         "<file>html/css-extra.css</file>"}));
  fs::remove_all(dir / "html/\xC3\xA9t\xC3\xA9");
  fs::remove(dir / "html/a&b's \"q\" <1>.html");
  fs::remove(dir / "html/css/link.html");
  const RunResult result = run({"--check", "--base"});
  EXPECT_EQ(result.status, 1);
  // The listing order is the file system's: compare the lines as a set.
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < result.out.size();) {
    const std::size_t end = result.out.find('\n', at);
    lines.push_back(result.out.substr(at, end - at));
    at = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "+ css-extra.css <- html/css-extra.css", "+ index.html <- html/index.html",
                       "- html/css-extra.css", "- old.html <- html/index.html"}));
}

TEST_F(RunOptionsTest, SaysWhenTheGroupWouldBeAdded) {
  writeFile(qrcPath(), "<RCC><qresource prefix='/other'/></RCC>");
  RunResult result = run({"--check", "--sort", "--base"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.out,
      qrc() +
          ": no group /help; a run would add one\n"
          "+ a&b's \"q\" <1>.html <- html/a&b's \"q\" <1>.html\n"
          "+ css/link.html <- html/index.html\n"
          "+ css/site.css <- html/css/site.css\n"
          "+ css-extra.css <- html/css-extra.css\n"
          "+ index.html <- html/index.html\n"
          "+ \xC3\xA9t\xC3\xA9/caf\xC3\xA9.html <- html/\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html\n");
  fs::remove_all(dir / "html");
  fs::create_directories(dir / "html");
  result = run({"--check"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, qrc() + ": no group /help; a run would add one\n");
}

TEST_F(RunOptionsTest, RequireGroupRefusesToAddOne) {
  writeFile(qrcPath(), "<RCC><qresource prefix='/other'/></RCC>");
  for (const auto& options : std::vector<std::vector<std::string>>{
           {"--require-group"}, {"--require-group", "--check"}, {"--check", "--require-group"}}) {
    std::vector<std::string> call = args();
    call.insert(call.begin(), options.begin(), options.end());
    expectRefusal(call, "no group /help in " + qrc() + "\n");
  }
  // With the group there, it runs as without the option.
  RunResult result = run({"--require-group", "--sort"}, "/other");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(readFile(qrcPath()).find("<file>html/index.html</file>"), std::string::npos);
  result = run({"--require-group", "--check", "--sort"}, "/other");
  EXPECT_EQ(result.status, 0) << result.out;
}

TEST_F(RunOptionsTest, RefusesOptionsAfterTheArguments) {
  writeFile(qrcPath(), "<RCC/>");
  for (const char* option : {"--check", "--sort", "--base", "--exclude=*.map"}) {
    std::vector<std::string> call = args();
    call.push_back(option);
    expectRefusal(call, "option " + std::string(option) + " must come before the arguments\n");
  }
  // Words that are not options are still ignored there.
  std::vector<std::string> call = args();
  call.insert(call.end(), {"extra", "-x"});
  const RunResult result = runTool(call);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(readFile(qrcPath()).find("<file>html/index.html</file>"), std::string::npos);
}

}  // namespace
}  // namespace resweaver
