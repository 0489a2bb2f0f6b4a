// The built tool as users meet it: arguments in; exit status, standard output and the bytes of the
// .qrc compared exactly.
#include <algorithm>
#include <cstdlib>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

const char kUsage[] =
    "创建包含html的qrc资源文件，使用方法：resweaver.exe folder rcname html "
    "prefix:\n"
    "\t folder: 文件夹\n"
    "\t rcname: QT资源名称\n"
    "\t html: 生成的Html目录名称\n"
    "\t prefix: 资源前缀\n";

std::string repeated(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) {
    result += text;
  }
  return result;
}

class RunTest : public ::testing::Test {
 protected:
  // Runs the tool on <dir>/app.qrc with the HTML folder "html" and expects success.
  std::string update(const std::string& qrc, const std::string& prefix = "/") {
    writeFile(qrcPath(), qrc);
    fs::create_directories(dir / "html");
    const RunResult result = runTool({dir.path().string(), "app", "html", prefix});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    return readFile(qrcPath());
  }

  // Runs the tool and expects it to fail with message, leaving the .qrc byte for byte as it was.
  void expectFailure(const std::vector<std::string>& args, const std::string& message,
                     const std::string& prefix = "", const std::string& err = "") {
    const bool existed = fs::exists(qrcPath());
    const std::string before = existed ? readFile(qrcPath()) : "";
    const RunResult result = runTool(args, prefix);
    EXPECT_EQ(result.status, kFailure);
    EXPECT_EQ(result.out, message);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(fs::exists(qrcPath()), existed);
    if (existed) {
      EXPECT_EQ(readFile(qrcPath()), before);
    }
  }

  std::vector<std::string> args(const std::string& html = "html") const {
    return {dir.path().string(), "app", html, "/"};
  }
  fs::path qrcPath() const { return dir / "app.qrc"; }

  TempDir dir;
};

TEST_F(RunTest, PrintsUsageForFewerThanFourArguments) {
  writeFile(qrcPath(), "<RCC/>");
  const std::vector<std::vector<std::string>> calls = {
      {}, {dir.path().string()}, {dir.path().string(), "app", "html"}};
  for (const auto& call : calls) {
    expectFailure(call, kUsage);
  }
}

// The scan appends index.html and app.js: the .qrc lies beside the site (rcname ../qrc/app), so
// that the HTML folder "." holds just those two files.
TEST_F(RunTest, RewritesTheWorkedExample) {
  writeFile(dir / "qrc/app.qrc",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!DOCTYPE RCC>\r\n"
            "<RCC version=\"1.0\">\r\n    <!-- generated pages -->\r\n"
            "    <qresource prefix='/'>\r\n        <file>old.html</file>\r\n    </qresource>\r\n"
            "    <qresource prefix=\"/img\">\r\n"
            "        <file alias=\"logo\">logo&#46;png</file>\r\n    </qresource>\r\n</RCC>\r\n");
  writeFile(dir / "site/index.html", "");
  writeFile(dir / "site/app.js", "");
  const RunResult result = runTool({(dir / "site").string(), "../qrc/app", ".", "/"});
  ASSERT_EQ(result.status, 0) << result.out;
  const std::string written = readFile(dir / "qrc/app.qrc");
  const auto expected = [](const char* first, const char* second) {
    return std::string("<RCC version=\"1.0\">\n\t<qresource prefix=\"/\">\n\t\t<file>") + first +
           "</file>\n\t\t<file>" + second +
           "</file>\n\t</qresource>\n\t<qresource prefix=\"/img\">\n"
           "\t\t<file alias=\"logo\">logo.png</file>\n\t</qresource>\n</RCC>\n\n";
  };
  // The listing order is the file system's.
  EXPECT_TRUE(written == expected("index.html", "app.js") ||
              written == expected("app.js", "index.html"))
      << written;
  EXPECT_EQ(written.size(), 192u);
}

TEST_F(RunTest, FindsTheFileByTheRules) {
  // A name that already ends in ".qrc" gets the ending twice; a path in the name puts the file in a
  // subfolder while entries stay relative to the root folder.
  writeFile(dir / "res/app.qrc.qrc", "<RCC/>");
  writeFile(dir / "html/a.html", "");
  // Arguments after the fourth are ignored.
  EXPECT_EQ(runTool({dir.path().string(), "res/app.qrc", "html", "/", "extra", "more"}).status, 0);
  EXPECT_EQ(readFile(dir / "res/app.qrc.qrc"),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/a.html</file>\n"
            "\t</qresource>\n</RCC>\n\n");
  // A relative root folder.
  writeFile(qrcPath(), "<RCC/>");
  const RunResult result = runTool({".", "app", "html", "/"}, "cd " + dir.path().string() + " &&");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(qrcPath()),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/a.html</file>\n"
            "\t</qresource>\n</RCC>\n\n");
}

TEST_F(RunTest, ReportsEachFailureAndLeavesTheFileAlone) {
  fs::create_directories(dir / "html");
  const std::string qrc = qrcPath().string();
  expectFailure(args(), "cannot open file " + qrc + "\n");

  // A parse failure also tells on standard error where it happened, as compilers do.
  const struct {
    std::string content;
    std::string message;
    std::string where;
  } cases[] = {
      {"", "can't find root node...", ""},
      {" \r\n\t<?xml version='1.0'?><!-- nothing -->\n", "can't find root node...", ""},
      {"<![CDATA[no element]]>", "can't find root node...", ""},
      {"<RCC/>trailing", "expected <\n", "1:7"},
      {std::string("\xFF\xFE<\0R\0/\0>\0", 10), "NUL byte in file " + qrc + "\n", ""},
      {std::string("<RCC/>\0<more/>", 14), "NUL byte in file " + qrc + "\n", ""},
      {std::string("<RCC/>\0", 7), "NUL byte in file " + qrc + "\n", ""},
      {"<RCC><file>a&#0;</file></RCC>", "invalid numeric character entity\n", "1:13"},
      {"<RCC><file>&#18446744073709551681;</file></RCC>", "invalid numeric character entity\n",
       "1:12"},
      {repeated("<a>", 50000), "document nested too deeply\n", "1:3002"},
      {"<RCC><qresource prefix='/'>", "unexpected end of data\n", "1:28"},
      // Counted in the bytes as read: a byte-order mark, CR LF line ends and references that the
      // parser shortened in place before it failed.
      {"\xEF\xBB\xBF<RCC>\r\n  <a v='&#10;&#10;'>&amp;&#x4E2D;\r\n &lt;</a>\r\n  <b></c x>",
       "expected >\n", "4:10"},
      {"\xEF\xBB\xBF<a>", "unexpected end of data\n", "1:4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 40));
    writeFile(qrcPath(), c.content);
    const std::string err =
        c.where.empty()
            ? ""
            : qrc + ":" + c.where + ": error: " + c.message.substr(0, c.message.size() - 1) + "\n";
    expectFailure(args(), c.message, "", err);
  }

  writeFile(qrcPath(), "<RCC/>");
  const std::string html = (dir / "missing").string();
  expectFailure(args("missing"),
                "filesystem error: recursive directory iterator cannot open directory: "
                "No such file or directory [" +
                    html + "]\n");
  fs::create_symlink("self", dir / "html/self");
  expectFailure(args(), "filesystem error: status: Too many levels of symbolic links [" +
                            (dir / "html/self").string() + "]\n");
}

TEST_F(RunTest, RefusesWhatIsNotARegularFile) {
  fs::create_directories(dir / "html");
  fs::create_directory(qrcPath());
  expectFailure(args(), "cannot open file " + qrcPath().string() + "\n");
  fs::remove(qrcPath());
  // Without a writer, opening a FIFO for reading would block.
  ASSERT_EQ(::mkfifo(qrcPath().c_str(), 0600), 0);
  RunResult result = runTool(args());
  EXPECT_EQ(result.status, kFailure);
  EXPECT_EQ(result.out, "cannot open file " + qrcPath().string() + "\n");
  EXPECT_TRUE(fs::is_fifo(qrcPath()));
  fs::remove(qrcPath());
  fs::create_symlink("/dev/null", qrcPath());
  result = runTool(args());
  EXPECT_EQ(result.out, "cannot open file " + qrcPath().string() + "\n");
}

TEST_F(RunTest, ReportsAFailedSaveAndKeepsTheOldBytes) {
  writeFile(qrcPath(), "<RCC/>");
  for (int i = 0; i < 40; ++i) {
    writeFile(dir / "html" / ("page-" + std::to_string(i) + ".html"), "");
  }
  const std::string qrc = qrcPath().string();
  // A file-size limit of 512 bytes, below the new size.
  expectFailure(args(), "cannot write file " + qrc + ": File too large\n", "ulimit -f 1;");

  openToEveryone(dir.path());
  fs::permissions(qrcPath(),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  expectFailure(args(), "cannot write file " + qrc + ": Permission denied\n", asUnprivileged());
  fs::permissions(dir.path(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  expectFailure(args(), "cannot write file " + qrc + ": Permission denied\n", asUnprivileged());

  // Rewriting in place needs no write permission on the folder, only on the file.
  fs::permissions(qrcPath(), fs::perms::all);
  EXPECT_EQ(runTool(args(), asUnprivileged()).status, 0);
  EXPECT_NE(readFile(qrcPath()).find("page-39.html"), std::string::npos);

  fs::permissions(qrcPath(), fs::perms::none);
  expectFailure(args(), "cannot open file " + qrc + "\n", asUnprivileged());
}

TEST_F(RunTest, ReportsAnUnreadableSubfolder) {
  writeFile(qrcPath(), "<RCC/>");
  writeFile(dir / "html/closed/page.html", "");
  openToEveryone(dir.path());
  fs::permissions(qrcPath(), fs::perms::all);
  fs::permissions(dir / "html/closed", fs::perms::owner_all);
  expectFailure(args(),
                "filesystem error: cannot increment recursive directory iterator: "
                "Permission denied\n",
                asUnprivileged());
  // Listable but not searchable: the first entry is resolved the full way, and fails.
  fs::permissions(dir / "html/closed", fs::perms::owner_all | fs::perms::others_read);
  expectFailure(args(),
                "filesystem error: status: Permission denied [" +
                    (dir / "html/closed/page.html").string() + "]\n",
                asUnprivileged());
}

// Each case runs on an empty HTML folder, so the prefix group is left empty.
TEST_F(RunTest, EmptiesTheFirstMatchingGroupOrAppendsOne) {
  const struct {
    const char* name;
    std::string prefix;
    std::string in;
    std::string out;
  } cases[] = {
      {"root without children", "/", "<RCC></RCC>",
       "<RCC>\n\t<qresource prefix=\"/\"/>\n</RCC>\n\n"},
      {"group emptied in its place with its attributes", "/",
       "<RCC><qresource prefix='/img'><file>a</file></qresource>"
       "<qresource lang='en' "
       "prefix='/'><file>a</file><file>b</file><file>c</file></qresource>"
       "<qresource prefix='/z'/></RCC>",
       "<RCC>\n\t<qresource "
       "prefix=\"/img\">\n\t\t<file>a</file>\n\t</qresource>\n"
       "\t<qresource lang=\"en\" prefix=\"/\"/>\n\t<qresource "
       "prefix=\"/z\"/>\n</RCC>\n\n"},
      {"only the first of two groups", "/",
       "<RCC><qresource prefix='/'><file>a</file></qresource>"
       "<qresource prefix='/'><file>b</file></qresource></RCC>",
       "<RCC>\n\t<qresource prefix=\"/\"/>\n\t<qresource "
       "prefix=\"/\">\n\t\t<file>b</file>\n"
       "\t</qresource>\n</RCC>\n\n"},
      {"match through another attribute", "en", "<RCC><other lang='en'><x/></other></RCC>",
       "<RCC>\n\t<other lang=\"en\"/>\n</RCC>\n\n"},
      {"letter case differs", "/Help", "<RCC><qresource prefix='/help'/></RCC>",
       "<RCC>\n\t<qresource prefix=\"/help\"/>\n\t<qresource "
       "prefix=\"/Help\"/>\n</RCC>\n\n"},
      {"references translated before comparing", "a&b",
       "<RCC><qresource prefix='a&amp;b'><file>x</file></qresource></RCC>",
       "<RCC>\n\t<qresource prefix=\"a&amp;b\"/>\n</RCC>\n\n"},
      {"whitespace not trimmed", "/", "<RCC><qresource prefix=' /'/></RCC>",
       "<RCC>\n\t<qresource prefix=\" /\"/>\n\t<qresource "
       "prefix=\"/\"/>\n</RCC>\n\n"},
      {"empty prefix", "", "<RCC><q a='x'/><q b=''><file/></q></RCC>",
       "<RCC>\n\t<q a=\"x\"/>\n\t<q b=\"\"/>\n</RCC>\n\n"},
      {"new group with an empty prefix", "", "<RCC/>",
       "<RCC>\n\t<qresource prefix=\"\"/>\n</RCC>\n\n"},
      {"former text stays as the value", "/",
       "<RCC><qresource prefix='/'>\n  old text "
       "<file>a</file></qresource></RCC>",
       "<RCC>\n\t<qresource prefix=\"/\">\n  old text "
       "</qresource>\n</RCC>\n\n"},
      {"the root is the first element", "/", "<![CDATA[x]]><RCC/><more/>",
       "<![CDATA[x]]>\n<RCC>\n\t<qresource prefix=\"/\"/>\n</RCC>\n<more/>\n\n"},
      {"text nodes of the root never match", "/", "<RCC>text<q p='/'/></RCC>",
       "<RCC>\n\ttext\n\t<q p=\"/\"/>\n</RCC>\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(update(c.in, c.prefix), c.out);
  }
}

TEST_F(RunTest, ReplacesFormerTextOnceEntriesAreAppended) {
  writeFile(dir / "html/a.html", "");
  EXPECT_EQ(update("<RCC><qresource prefix='/'>old<file>x</file></qresource></RCC>"),
            "<RCC>\n\t<qresource "
            "prefix=\"/\">\n\t\t<file>html/a.html</file>\n\t</qresource>\n"
            "</RCC>\n\n");
}

TEST_F(RunTest, EscapesEntryNamesOnlyInTheWrittenFile) {
  writeFile(dir / "html/a&b's <c>.html", "");
  EXPECT_EQ(update("<RCC/>"),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/a&amp;b&apos;s "
            "&lt;c&gt;.html"
            "</file>\n\t</qresource>\n</RCC>\n\n");
  // A second run reads its own output back and writes the same bytes.
  const std::string first = readFile(qrcPath());
  EXPECT_EQ(update(first), first);
}

// Replaced, and rewritten in place (hard-linked): a run that waited sees the file as the run
// before it left it.
TEST_F(RunTest, ConcurrentRunsOnOneFileAllLand) {
  constexpr int kRuns = 16;
  constexpr int kFiles = 30;
  for (int run = 0; run < kRuns; ++run) {
    for (int file = 0; file < kFiles; ++file) {
      writeFile(dir / ("html" + std::to_string(run)) / ("f" + std::to_string(file)), "");
    }
  }
  for (bool hardLinked : {false, true}) {
    SCOPED_TRACE(hardLinked ? "in place" : "replaced");
    writeFile(qrcPath(), "<RCC/>");
    if (hardLinked) {
      fs::create_hard_link(qrcPath(), dir / "link.qrc");
    }
    std::vector<std::future<RunResult>> runs;
    for (int run = 0; run < kRuns; ++run) {
      runs.push_back(std::async(std::launch::async, [&, run] {
        const std::string n = std::to_string(run);
        return runTool({dir.path().string(), "app", "html" + n, "/" + n});
      }));
    }
    for (auto& run : runs) {
      const RunResult result = run.get();
      EXPECT_EQ(result.status, 0) << result.out;
    }
    const std::string written = readFile(qrcPath());
    for (int run = 0; run < kRuns; ++run) {
      const std::string n = std::to_string(run);
      EXPECT_NE(written.find("<qresource prefix=\"/" + n + "\">"), std::string::npos) << n;
      for (int file = 0; file < kFiles; ++file) {
        EXPECT_NE(written.find("<file>html" + n + "/f" + std::to_string(file) + "</file>"),
                  std::string::npos);
      }
    }
    if (hardLinked) {
      EXPECT_EQ(readFile(dir / "link.qrc"), written);
    }
  }
}

TEST_F(RunTest, AnswersHelpAndVersion) {
  RunResult result = runTool({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("resweaver keeps one prefix group", 0), 0u) << result.out;
  EXPECT_NE(result.out.find("\nUsage: resweaver [options] folder rcname html prefix\n"),
            std::string::npos);
  for (const char* option : {"--check", "--sort", "--help", "--version", "Exit status"}) {
    EXPECT_NE(result.out.find(option), std::string::npos) << option;
  }
  result = runTool({"--version"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, std::string("resweaver ") + RESWEAVER_VERSION + "\n");
  // Without "--", a word is an argument: these are calls with fewer than four.
  for (const char* word : {"-h", "help", "-v"}) {
    result = runTool({word});
    EXPECT_EQ(result.status, kFailure);
    EXPECT_EQ(result.out, kUsage);
  }
}

TEST_F(RunTest, RefusesUnknownOptions) {
  writeFile(qrcPath(), "<RCC/>");
  fs::create_directories(dir / "html");
  std::vector<std::string> call = args();
  call.insert(call.begin(), {"--sort", "--force"});
  expectFailure(call, "unknown option --force\n");
}

TEST_F(RunTest, TakesAFolderNamedLikeAnOptionAfterTwoDashes) {
  writeFile(dir / "--check/app.qrc", "<RCC/>");
  writeFile(dir / "--check/html/a.html", "");
  const RunResult result =
      runTool({"--sort", "--", "--check", "app", "html", "/"}, "cd " + dir.path().string() + " &&");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(readFile(dir / "--check/app.qrc"),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/a.html</file>\n\t</qresource>\n"
            "</RCC>\n\n");
}

TEST_F(RunTest, ChecksWithoutWriting) {
  writeFile(dir / "html/a.html", "");
  writeFile(dir / "html/old.html", "");
  update("<RCC/>");
  const std::string upToDate = readFile(qrcPath());
  const auto written = fs::last_write_time(qrcPath());
  std::vector<std::string> check = args();
  check.insert(check.begin(), "--check");

  // Checks run as another user in a folder they cannot write, and under a shared lock.
  openToEveryone(dir.path());
  fs::permissions(dir.path(), fs::perms::others_write, fs::perm_options::remove);
  RunResult result = runTool(check, asUnprivileged());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");

  fs::remove(dir / "html/old.html");
  writeFile(dir / "html/new.html", "");
  result = runTool(check, asUnprivileged());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "+ html/new.html\n- html/old.html\n");

  // The same entries in another layout.
  std::string spaced = upToDate;
  spaced.insert(spaced.find("\t<qresource"), "  ");
  fs::remove(dir / "html/new.html");
  writeFile(dir / "html/old.html", "");
  writeFile(qrcPath(), spaced);
  fs::last_write_time(qrcPath(), written);
  result = runTool(check);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            qrcPath().string() + ": the entries stay the same; the layout would change\n");

  EXPECT_EQ(readFile(qrcPath()), spaced);
  EXPECT_EQ(fs::last_write_time(qrcPath()), written);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"app.qrc", "html"}));

  fs::remove(qrcPath());
  expectFailure(check, "cannot open file " + qrcPath().string() + "\n");
  EXPECT_FALSE(fs::exists(qrcPath()));
}

// Checks share the lock: one runs while another holds it, where a run that writes waits.
TEST_F(RunTest, ChecksRunSideBySide) {
  writeFile(dir / "html/a.html", "");
  update("<RCC/>");
  const std::string held =
      "flock -s " + testing::quoted(qrcPath().string()) + " sleep 2 & sleep 0.3;";
  std::vector<std::string> check = args();
  check.insert(check.begin(), "--check");
  RunResult result = runTool(check, held);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  result = runTool(args(), held);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "waiting for another run on " + qrcPath().string() + "\n");
}

TEST_F(RunTest, ChecksTheSortedOrder) {
  for (const char* name : {"b.html", "a.html", "c/d.html", "c-d.html"}) {
    writeFile(dir / "html" / name, "");
  }
  writeFile(qrcPath(),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/c-d.html</file>\n"
            "\t\t<file>html/c/d.html</file>\n\t\t<file>html/b.html</file>\n"
            "\t\t<file>html/a.html</file>\n\t</qresource>\n</RCC>\n\n");
  std::vector<std::string> check = args();
  check.insert(check.begin(), {"--check", "--sort"});
  RunResult result = runTool(check);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            qrcPath().string() + ": the entries stay the same; their order would change\n");
  std::vector<std::string> sort = args();
  sort.insert(sort.begin(), "--sort");
  EXPECT_EQ(runTool(sort).status, 0);
  EXPECT_EQ(readFile(qrcPath()),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/a.html</file>\n"
            "\t\t<file>html/b.html</file>\n\t\t<file>html/c/d.html</file>\n"
            "\t\t<file>html/c-d.html</file>\n\t</qresource>\n</RCC>\n\n");
  result = runTool(check);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
}

// The same tree on ext4 and on a tmpfs lists its files in different orders; sorted, the .qrc is the
// same.
TEST_F(RunTest, SortsAlikeOnEveryFileSystem) {
  const fs::path mounted = dir / "tmpfs";
  fs::create_directories(mounted);
  if (testing::runCommand("mount -t tmpfs -o size=8m tmpfs " + testing::quoted(mounted.string()))
          .status != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const fs::path disk = dir / "disk";
  for (int i = 0; i < 40; ++i) {
    writeFile(disk / "html" / ("page-" + std::to_string(i * 7919 % 40) + ".html"), "");
    writeFile(disk / "html" / ("sub" + std::to_string(i % 3)) / ("f" + std::to_string(i)), "");
  }
  writeFile(disk / "app.qrc", "<RCC/>");
  fs::copy(disk, mounted / "copy", fs::copy_options::recursive);
  const auto written = [&](const fs::path& root, bool sorted) {
    writeFile(root / "app.qrc", "<RCC/>");
    std::vector<std::string> call = {root.string(), "app", "html", "/"};
    if (sorted) {
      call.insert(call.begin(), "--sort");
    }
    EXPECT_EQ(runTool(call).status, 0);
    return readFile(root / "app.qrc");
  };
  EXPECT_NE(written(disk, false), written(mounted / "copy", false));
  EXPECT_EQ(written(disk, true), written(mounted / "copy", true));
  testing::runCommand("umount " + testing::quoted(mounted.string()));
}

// Faults provoked for real: the run fails cleanly or succeeds, and never damages the file.
TEST(FaultTest, EveryCutOfARealFileFailsCleanlyOrSucceeds) {
  const TempDir dir;
  const std::string whole = readFile(fs::path(RESWEAVER_EXAMPLE) / "app.qrc");
  fs::create_directories(dir / "html");
  writeFile(dir / "html/index.html", "");
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string cut = whole.substr(0, length);
    writeFile(dir / "app.qrc", cut);
    const RunResult result = runTool({dir.path().string(), "app", "html", "/help"});
    if (result.status == 0) {
      EXPECT_EQ(result.out, "");
    } else {
      ASSERT_EQ(result.status, kFailure);
      EXPECT_EQ(readFile(dir / "app.qrc"), cut);
      EXPECT_TRUE(result.out == "can't find root node..." ||
                  (result.out.size() > 1 && result.out.back() == '\n'))
          << result.out;
    }
  }
}

TEST(FaultTest, HugeInputsNeitherCrashNorHang) {
  const TempDir dir;
  fs::create_directories(dir / "html");
  std::string deep;
  for (int i = 0; i < 1000000; ++i) {
    deep += "<a>";
  }
  std::string siblings = "<RCC>";
  for (int i = 0; i < 1000000; ++i) {
    siblings += "<file>x</file>";
  }
  siblings += "</RCC>";
  std::string big = "<RCC>";
  while (big.size() < (100u << 20)) {
    big += "<qresource prefix='/p'><file alias='a'>html/some/page.html</file></qresource>\n";
  }
  big += "</RCC>";
  const struct {
    const char* name;
    std::string content;
    int status;
  } cases[] = {
      {"a million levels", deep, kFailure},
      {"a 50 MB attribute value", "<RCC a='" + std::string(50u << 20, 'v') + "'/>", 0},
      {"a million siblings", siblings, 0},
      {"a 100 MB file", big, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir / "app.qrc", c.content);
    const RunResult result = runTool({dir.path().string(), "app", "html", "/"});
    EXPECT_EQ(result.status, c.status) << result.out;
  }
}

TEST(FaultTest, ListsSpecialFilesAndOddNamesWithoutOpeningThem) {
  const TempDir dir;
  writeFile(dir / "app.qrc", "<RCC/>");
  writeFile(dir / "html/line\nfeed", "");
  writeFile(dir / "html/latin1-\xE9t\xE9", "");
  // Opening a FIFO without a writer would block the run.
  ASSERT_EQ(::mkfifo((dir / "html/fifo").c_str(), 0600), 0);
  const RunResult socket = testing::runCommand(
      "python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' " +
      testing::quoted((dir / "html/socket").string()));
  ASSERT_EQ(socket.status, 0) << socket.err;
  ASSERT_EQ(runTool({dir.path().string(), "app", "html", "/"}).status, 0);
  const std::string written = readFile(dir / "app.qrc");
  for (const char* entry : {"<file>html/line\nfeed</file>", "<file>html/latin1-\xE9t\xE9</file>",
                            "<file>html/fifo</file>", "<file>html/socket</file>"}) {
    EXPECT_NE(written.find(entry), std::string::npos) << entry;
  }
}

TEST(FaultTest, EndsAtALinkLoop) {
  const TempDir dir;
  writeFile(dir / "app.qrc", "<RCC/>");
  fs::create_directories(dir / "html");
  fs::create_symlink("b", dir / "html/a");
  fs::create_symlink("a", dir / "html/b");
  const RunResult result = runTool({dir.path().string(), "app", "html", "/"});
  EXPECT_EQ(result.status, kFailure);
  EXPECT_EQ(result.out.rfind("filesystem error: status: Too many levels of symbolic links [", 0),
            0u)
      << result.out;
  EXPECT_EQ(readFile(dir / "app.qrc"), "<RCC/>");
}

TEST(FaultTest, ASecondRunWritesTheSameBytes) {
  const TempDir dir;
  fs::copy(RESWEAVER_EXAMPLE, dir.path(), fs::copy_options::recursive);
  ASSERT_EQ(runTool({dir.path().string(), "app", "html", "/help"}).status, 0);
  const std::string first = readFile(dir / "app.qrc");
  const auto written = fs::last_write_time(dir / "app.qrc");
  ASSERT_EQ(runTool({dir.path().string(), "app", "html", "/help"}).status, 0);
  EXPECT_EQ(readFile(dir / "app.qrc"), first);
  EXPECT_EQ(fs::last_write_time(dir / "app.qrc"), written);
}

}  // namespace
}  // namespace resweaver
