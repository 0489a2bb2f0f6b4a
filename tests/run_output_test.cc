// The build-system side of the tool, through the built binary: --output writes the result beside
// rcc and never the template, --depfile and --rcc-depfile tell Ninja and GNU make what the step
// depends on, and --stamp is their target. Real Ninja and make builds check that a step runs
// exactly when the list of files changes.
#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::asUnprivileged;
using testing::kFailure;
using testing::openToEveryone;
using testing::quoted;
using testing::readFile;
using testing::runCommand;
using testing::RunResult;
using testing::runTool;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

const fs::file_time_type kLongAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A project with a template src/app.qrc whose group /icons holds every kind of entry that rcc
// takes, a group /more, and pages below src/html for the group /help.
class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"icons/a.svg", "icons/c.svg", "icons/e.svg", "icons/h.svg", "icons/a&b's.svg",
          "tree/f.txt", "tree/deep/g.txt", "more/m.txt", "html/index.html", "html/sub/a b#$.html",
          "html/\xC3\xA9t\xC3\xA9.html"}) {
      writeFile(src / name, name);
    }
    writeFile(dir / "shared/b.txt", "b");
    writeFile(dir / "shared/d.txt", "d");
    writeFile(src / "app.qrc",
              "<RCC>\n<qresource prefix='/icons'>\n"
              "  <file>icons/a.svg</file>\n"
              "  <file>../shared/b.txt</file>\n"
              "  <file>./icons/./c.svg</file>\n"
              "  <file>" +
                  (dir / "shared/d.txt").string() +
                  "</file>\n"
                  "  <file alias='e-alias'>icons/e.svg</file>\n"
                  "  <file>tree</file>\n"
                  "  <file><![CDATA[icons/h.svg]]></file>\n"
                  "  <file>icons/a&amp;b&apos;s.svg</file>\n"
                  "</qresource>\n"
                  "<qresource prefix='/help'><file>old.html</file></qresource>\n"
                  "<qresource prefix='/more'><file compress='9'>more/m.txt</file></qresource>\n"
                  "</RCC>\n");
  }

  RunResult run(std::vector<std::string> options, const std::string& prefix = "") {
    options.insert(options.end(), {"--sort", src.string(), "app", "html", "/help"});
    return runTool(options, prefix);
  }

  TempDir dir;
  const fs::path src = dir / "src";
};

TEST_F(OutputTest, WritesTheResultForItsFolderAndNeverTheTemplate) {
  const std::string template_ = readFile(src / "app.qrc");
  fs::last_write_time(src / "app.qrc", kLongAgo);
  // The template's folder cannot be written: a run that only reads it needs no more.
  openToEveryone(dir.path());
  fs::permissions(src, fs::perms::owner_write, fs::perm_options::remove);
  fs::create_directories(dir / "build");
  fs::permissions(dir / "build", fs::perms::all);
  const fs::path out = dir / "build/deep/out.qrc";
  RunResult result = run({"--output", out.string()}, "umask 027; " + asUnprivileged());
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");
  const std::string expected =
      "<RCC>\n"
      "\t<qresource prefix=\"/icons\">\n"
      "\t\t<file alias=\"icons/a.svg\">../../src/icons/a.svg</file>\n"
      "\t\t<file alias=\"../shared/b.txt\">../../shared/b.txt</file>\n"
      "\t\t<file alias=\"./icons/./c.svg\">../../src/icons/c.svg</file>\n"
      "\t\t<file>" +
      (dir / "shared/d.txt").string() +
      "</file>\n"
      "\t\t<file alias=\"e-alias\">../../src/icons/e.svg</file>\n"
      "\t\t<file alias=\"tree\">../../src/tree</file>\n"
      "\t\t<file alias=\"icons/h.svg\">../../src/icons/h.svg</file>\n"
      "\t\t<file alias=\"icons/a&amp;b's.svg\">../../src/icons/a&amp;b&apos;s.svg</file>\n"
      "\t</qresource>\n"
      "\t<qresource prefix=\"/help\">\n"
      "\t\t<file alias=\"html/index.html\">../../src/html/index.html</file>\n"
      "\t\t<file alias=\"html/sub/a b#$.html\">../../src/html/sub/a b#$.html</file>\n"
      "\t\t<file "
      "alias=\"html/\xC3\xA9t\xC3\xA9.html\">../../src/html/\xC3\xA9t\xC3\xA9.html</file>\n"
      "\t</qresource>\n"
      "\t<qresource prefix=\"/more\">\n"
      "\t\t<file compress=\"9\" alias=\"more/m.txt\">../../src/more/m.txt</file>\n"
      "\t</qresource>\n"
      "</RCC>\n\n";
  EXPECT_EQ(readFile(out), expected);
  EXPECT_EQ(readFile(src / "app.qrc"), template_);
  EXPECT_EQ(fs::last_write_time(src / "app.qrc"), kLongAgo);
  // A new file: the umask's mode, and no temporary file left beside it.
  struct stat status {};
  ASSERT_EQ(::stat(out.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(namesIn(out.parent_path()), std::set<std::string>{"out.qrc"});

  // Unchanged: not written. Changed: replaced.
  fs::last_write_time(out, kLongAgo);
  ASSERT_EQ(run({"--output", out.string()}).status, 0);
  EXPECT_EQ(fs::last_write_time(out), kLongAgo);
  writeFile(src / "html/new.html", "");
  ASSERT_EQ(run({"--output=" + out.string()}).status, 0);
  EXPECT_NE(readFile(out).find("<file alias=\"html/new.html\">../../src/html/new.html</file>"),
            std::string::npos);
  EXPECT_EQ(readFile(src / "app.qrc"), template_);

  // In the template's own folder nothing moves: the bytes of a run in place.
  ASSERT_EQ(run({"--output", (src / "beside.qrc").string()}).status, 0);
  fs::permissions(src, fs::perms::owner_write, fs::perm_options::add);
  ASSERT_EQ(run({}).status, 0);
  EXPECT_EQ(readFile(src / "beside.qrc"), readFile(src / "app.qrc"));
}

// rcc finds the same files under the same resource paths in the output as in the template
// brought up to date in place, for every kind of entry.
TEST_F(OutputTest, RccMapsTheOutputAsTheTemplateInPlace) {
  const fs::path out = dir / "build/deep/out.qrc";
  ASSERT_EQ(run({"--output", out.string()}).status, 0);
  ASSERT_EQ(run({}).status, 0);
  // Each line "resource path<TAB>file", the file made canonical.
  const auto mapping = [](const std::string& rcc, const fs::path& qrc) {
    const RunResult listed = runCommand(rcc + " --list-mapping " + quoted(qrc.string()));
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    std::set<std::string> lines;
    std::istringstream in(listed.out);
    for (std::string line; std::getline(in, line);) {
      const std::size_t tab = line.find('\t');
      lines.insert(line.substr(0, tab + 1) + fs::canonical(line.substr(tab + 1)).string());
    }
    return lines;
  };
  int compared = 0;
  for (const std::string rcc : {"/usr/lib/qt5/bin/rcc", "/usr/lib/qt6/libexec/rcc"}) {
    if (!fs::exists(rcc)) {
      continue;
    }
    SCOPED_TRACE(rcc);
    const std::set<std::string> inPlace = mapping(rcc, src / "app.qrc");
    EXPECT_EQ(mapping(rcc, out), inPlace);
    EXPECT_EQ(inPlace.size(), 13u);  // nine in /icons (the folder gives two), four more
    ++compared;
  }
  if (compared == 0) {
    GTEST_SKIP() << "no rcc (Debian packages qtbase5-dev-tools, qt6-base-dev-tools)";
  }
}

TEST_F(OutputTest, RefusesWhatItCannotDoAndWritesNothing) {
  const std::string template_ = readFile(src / "app.qrc");
  fs::create_hard_link(src / "app.qrc", dir / "link.qrc");
  fs::create_directories(dir / "folder.qrc");
  const std::string qrc = (src / "app.qrc").string();
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--output", qrc}, "option --output names the .qrc itself"},
      {{"--output", (dir / "link.qrc").string()}, "option --output names the .qrc itself"},
      {{"--output", (dir / "folder.qrc").string()},
       "cannot open file " + (dir / "folder.qrc").string()},
      {{"--check", "--output", "o.qrc"}, "option --output does not go with --check"},
      {{"--check", "--depfile", "o.d"}, "option --depfile does not go with --check"},
      {{"--check", "--stamp", "o.stamp"}, "option --stamp does not go with --check"},
      {{"--rcc-depfile", "o.d"}, "options --rcc-depfile and --rcc-target go together"},
      {{"--rcc-target", "o.cpp"}, "options --rcc-depfile and --rcc-target go together"},
      {{"--output", "o.qrc", "--depfile", "o.d", "--stamp", "a&b.stamp"},
       "cannot write a&b.stamp as the target of a depfile"},
      {{"--output", "o.qrc", "--rcc-depfile", "o.d", "--rcc-target", "a;b.cpp"},
       "cannot write a;b.cpp as the target of a depfile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult result = run(c.options, "cd " + quoted(dir.path().string()) + " &&");
    EXPECT_EQ(result.status, kFailure);
    EXPECT_EQ(result.out, c.message + "\n");
    EXPECT_EQ(readFile(src / "app.qrc"), template_);
  }
  EXPECT_EQ(namesIn(dir.path()),
            (std::set<std::string>{"folder.qrc", "link.qrc", "shared", "src"}));
  EXPECT_TRUE(fs::is_empty(dir / "folder.qrc"));
}

// Runs that create the same output wait for each other on its folder, and all succeed.
TEST_F(OutputTest, ParallelRunsCreateOneOutput) {
  const fs::path out = dir / "build/out.qrc";
  std::vector<std::future<RunResult>> runs;
  for (int i = 0; i < 8; ++i) {
    runs.push_back(std::async(std::launch::async, [&] { return run({"--output", out.string()}); }));
  }
  for (auto& result : runs) {
    EXPECT_EQ(result.get().status, 0);
  }
  EXPECT_EQ(namesIn(dir / "build"), std::set<std::string>{"out.qrc"});
  EXPECT_NE(readFile(out).find("../src/html/index.html</file>"), std::string::npos);
}

// A project whose group /help lists src/html, built by a step that writes build/out.qrc, its
// depfile and a stamp.
class BuildStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(src / "app.qrc", "<RCC/>");
    writeFile(src / "html/index.html", "");
    writeFile(src / "html/sub/page.html", "");
  }

  std::string command(const std::string& options = "") const {
    return quoted(RESWEAVER_BINARY) + " --sort" + (inPlace ? "" : " --output build/out.qrc") +
           " --depfile build/app.d " + options + " --stamp build/app.stamp src app html /help";
  }

  RunResult inDir(const std::string& shell) const {
    return runCommand("cd " + quoted(dir.path().string()) + " && " + shell);
  }

  std::string listed() const { return readFile(inPlace ? src / "app.qrc" : dir / "build/out.qrc"); }

  // Changes the tree in each way that changes the list, and in one that does not, and expects
  // upToDate() to say so before and after each build().
  void expectRunsExactlyWhenTheListChanges(const std::function<bool()>& upToDate,
                                           const std::function<void()>& build) {
    const fs::path html = src / "html";
    build();
    ASSERT_TRUE(upToDate());
    const struct {
      const char* what;
      std::function<void()> change;
      const char* entry;  // what the list holds afterwards (or not, with a leading '!')
    } changes[] = {
        {"a file added below", [&] { writeFile(html / "sub/new.html", ""); }, "sub/new.html"},
        {"a file renamed", [&] { fs::rename(html / "sub/new.html", html / "sub/old.html"); },
         "sub/old.html"},
        {"a file removed", [&] { fs::remove(html / "sub/old.html"); }, "!sub/old.html"},
        {"a folder added", [&] { writeFile(html / "new/deeper/x.html", ""); }, "deeper/x.html"},
        {"a file added to it", [&] { writeFile(html / "new/deeper/y.html", ""); }, "y.html"},
        {"a folder removed", [&] { fs::remove_all(html / "new"); }, "!deeper"},
        {"odd names",
         [&] {
           for (const char* name : {"a b", "h#x", "d$x", "c:x", "\xC3\xA9"}) {
             fs::create_directories(html / name);
           }
         },
         "sub/page.html"},
        {"a file in a b", [&] { writeFile(html / "a b/1.html", ""); }, "a b/1.html"},
        {"a file in h#x", [&] { writeFile(html / "h#x/2.html", ""); }, "h#x/2.html"},
        {"a file in d$x", [&] { writeFile(html / "d$x/3.html", ""); }, "d$x/3.html"},
        {"a file in c:x", [&] { writeFile(html / "c:x/4.html", ""); }, "c:x/4.html"},
        {"a file in \xC3\xA9", [&] { writeFile(html / "\xC3\xA9/5.html", ""); }, "\xC3\xA9/5.html"},
    };
    for (const auto& c : changes) {
      SCOPED_TRACE(c.what);
      runCommand("sleep 0.02");  // beyond the granularity of any file-system clock here
      c.change();
      EXPECT_FALSE(upToDate());
      build();
      EXPECT_TRUE(upToDate());
      const bool absent = c.entry[0] == '!';
      EXPECT_EQ(listed().find(c.entry + (absent ? 1 : 0)) == std::string::npos, absent);
    }
    // A file's content is not the list's business.
    writeFile(html / "index.html", "changed");
    EXPECT_TRUE(upToDate());
    // A folder whose name the depfile cannot hold: the step runs at every build, until it goes.
    fs::create_directories(html / "a&b';c");
    for (int i = 0; i < 2; ++i) {
      EXPECT_FALSE(upToDate());
      build();
    }
    fs::remove(html / "a&b';c");
    EXPECT_FALSE(upToDate());
    build();
    EXPECT_TRUE(upToDate());
  }

  TempDir dir;
  const fs::path src = dir / "src";

  // The same, for a Ninja rule that runs command() with its depfile, as Ninja's users write it.
  void expectNinjaRunsExactlyWhenTheListChanges() {
    writeFile(dir / "build.ninja", "rule weave\n  command = " + command() +
                                       "\n  depfile = build/app.d\n  deps = gcc\n  restat = 1\n"
                                       "build build/app.stamp: weave\n");
    expectRunsExactlyWhenTheListChanges(
        [&] { return inDir("ninja -n").out.find("no work to do") != std::string::npos; },
        [&] {
          const RunResult built = inDir("ninja");
          EXPECT_EQ(built.status, 0) << built.out;
        });
  }

  bool inPlace = false;  // the group filled in src/app.qrc itself rather than in an output
};

TEST_F(BuildStepTest, DepfileNamesTheTemplateAndEveryFolderListed) {
  for (const char* name : {"a b", "a&b", "c:x", "d$x", "h#x", "\xC3\xA9"}) {
    fs::create_directories(src / "html" / name);
  }
  ASSERT_EQ(inDir(command()).status, 0);
  const std::string html = (src / "html").string();
  const std::string folders = html + " \\\n  " + html + "/a\\ b \\\n  " + html + "/c\\:x \\\n  " +
                              html + "/d$$x \\\n  " + html + "/h\\#x \\\n  " + html +
                              "/sub \\\n  " + html + "/\xC3\xA9";
  const std::string rules = html + ":\n" + html + "/a\\ b:\n" + html + "/c\\:x:\n" + html +
                            "/d$$x:\n" + html + "/h\\#x:\n" + html + "/sub:\n" + html +
                            "/\xC3\xA9:\n";
  const std::string qrc = (src / "app.qrc").string();
  EXPECT_EQ(readFile(dir / "build/app.d"),
            "build/app.stamp: \\\n  " + qrc + " \\\n  " + folders +
                " \\\n  build/app.stamp/unwritable-name-in-depfile\n\n" + qrc + ":\n" + rules +
                "build/app.stamp/unwritable-name-in-depfile:\n");
  fs::remove(src / "html/a&b");
  // Without a stamp, the target is the .qrc written: the output, or the template in place.
  ASSERT_EQ(
      inDir(quoted(RESWEAVER_BINARY) + " --output build/out.qrc --depfile app.d src app html /help")
          .status,
      0);
  EXPECT_EQ(readFile(dir / "app.d").rfind("build/out.qrc: \\\n  " + qrc + " ", 0), 0u);
  ASSERT_EQ(inDir(quoted(RESWEAVER_BINARY) + " --depfile app.d src app html /help").status, 0);
  EXPECT_EQ(readFile(dir / "app.d").rfind("src/app.qrc: \\\n  " + qrc + " ", 0), 0u);
}

// The stamp gets the time at which a successful run began, also when nothing else changed.
TEST_F(BuildStepTest, EverySuccessfulRunAndNoOtherTouchesTheStamp) {
  ASSERT_EQ(inDir(command()).status, 0);
  const auto written = fs::last_write_time(dir / "build/out.qrc");
  fs::last_write_time(dir / "build/app.stamp", kLongAgo);
  const auto before = fs::file_time_type::clock::now();
  ASSERT_EQ(inDir(command()).status, 0);
  EXPECT_EQ(fs::last_write_time(dir / "build/out.qrc"), written);
  const auto stamped = fs::last_write_time(dir / "build/app.stamp");
  EXPECT_GT(stamped, before - std::chrono::milliseconds(50));
  EXPECT_LE(stamped, fs::file_time_type::clock::now());
  EXPECT_EQ(namesIn(dir / "build"), (std::set<std::string>{"app.d", "app.stamp", "out.qrc"}));

  fs::last_write_time(dir / "build/app.stamp", kLongAgo);
  const std::string depfile = readFile(dir / "build/app.d");
  fs::rename(src / "html", src / "gone");
  EXPECT_EQ(inDir(command()).status, kFailure);
  EXPECT_EQ(fs::last_write_time(dir / "build/app.stamp"), kLongAgo);
  EXPECT_EQ(readFile(dir / "build/app.d"), depfile);
}

TEST_F(BuildStepTest, NinjaRunsTheStepExactlyWhenTheListChanges) {
  if (runCommand("ninja --version").status != 0) {
    GTEST_SKIP() << "no ninja (Debian package ninja-build)";
  }
  expectNinjaRunsExactlyWhenTheListChanges();
}

// In place, the run rewrites src/app.qrc, which its depfile names: that write of its own does not
// make the next build run the step again.
TEST_F(BuildStepTest, NinjaRunsAnInPlaceStepExactlyWhenTheListChanges) {
  if (runCommand("ninja --version").status != 0) {
    GTEST_SKIP() << "no ninja (Debian package ninja-build)";
  }
  inPlace = true;
  expectNinjaRunsExactlyWhenTheListChanges();
}

// A folder that changes while an in-place run saves, after it listed the folder, is newer than
// the stamp: the next build runs the step again.
TEST_F(BuildStepTest, AFolderChangedDuringAnInPlaceRunKeepsTheStepOutOfDate) {
  if (runCommand("command -v strace").status != 0) {
    GTEST_SKIP() << "needs strace";
  }
  inPlace = true;
  // In braces: "cd ... && a & b" would run the cd in the background too.
  const RunResult result = inDir(
      "{ ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e trace=fsync "
      "-e inject=fsync:delay_enter=500000:when=1 " +
      command() + " & sleep 0.2; echo >src/html/late.html; wait $!; }");
  ASSERT_EQ(result.status, 0) << result.out;
  ASSERT_TRUE(fs::exists(src / "html/late.html"));
  ASSERT_EQ(listed().find("late.html"), std::string::npos) << "the run saw the late file";
  EXPECT_GT(fs::last_write_time(src / "html"), fs::last_write_time(dir / "build/app.stamp"));
}

TEST_F(BuildStepTest, MakeRunsTheStepExactlyWhenTheListChanges) {
  if (runCommand("make --version").status != 0) {
    GTEST_SKIP() << "no GNU make";
  }
  writeFile(dir / "Makefile", "build/app.stamp:\n\t" + command() + "\n-include build/app.d\n");
  expectRunsExactlyWhenTheListChanges([&] { return inDir("make -q").status == 0; },
                                      [&] {
                                        const RunResult built = inDir("make");
                                        EXPECT_EQ(built.status, 0) << built.err;
                                      });
}

// One step that runs the tool and then rcc, with the depfile that --rcc-depfile writes: it runs
// again when any file that rcc reads changes, including those of other groups and folder entries.
TEST_F(BuildStepTest, RccDepfileCoversEveryFileThatRccReads) {
  const std::string rcc = "/usr/lib/qt5/bin/rcc";
  if (runCommand("ninja --version").status != 0 || !fs::exists(rcc)) {
    GTEST_SKIP() << "no ninja or no rcc (Debian packages ninja-build, qtbase5-dev-tools)";
  }
  writeFile(src / "app.qrc",
            "<RCC><qresource prefix='/i'><file>icons/a b.svg</file><file>tree</file></qresource>"
            "</RCC>");
  writeFile(src / "icons/a b.svg", "");
  writeFile(src / "tree/deep/f.txt", "");
  writeFile(dir / "build.ninja",
            "rule both\n  command = " + quoted(RESWEAVER_BINARY) +
                " --output build/out.qrc --rcc-depfile build/rcc.d --rcc-target build/qrc_app.cpp"
                " src app html /help && " +
                rcc +
                " -o build/qrc_app.cpp build/out.qrc\n"
                "  depfile = build/rcc.d\n  deps = gcc\n"
                "build build/qrc_app.cpp: both\n");
  const auto upToDate = [&] {
    return inDir("ninja -n").out.find("no work to do") != std::string::npos;
  };
  ASSERT_EQ(inDir("ninja").status, 0);
  EXPECT_TRUE(upToDate());
  for (const char* file : {"html/index.html", "icons/a b.svg", "tree/deep/f.txt", "app.qrc"}) {
    SCOPED_TRACE(file);
    runCommand("sleep 0.02");
    writeFile(src / file, readFile(src / file) + " ");
    EXPECT_FALSE(upToDate());
    ASSERT_EQ(inDir("ninja").status, 0);
    EXPECT_TRUE(upToDate());
  }
  runCommand("sleep 0.02");
  writeFile(src / "tree/deep/g.txt", "");
  EXPECT_FALSE(upToDate());
  ASSERT_EQ(inDir("ninja").status, 0);
  EXPECT_NE(readFile(dir / "build/qrc_app.cpp").find("g.txt"), std::string::npos);
}

}  // namespace
}  // namespace resweaver
