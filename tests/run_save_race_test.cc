// The save against what happens beside it: programs that replace the .qrc without the lock while a
// run is at work (the run held back at a chosen system call by strace, so that the window is open
// for sure), programs that follow the lock protocol, a .qrc mounted on its own, full copy-on-write
// file systems, names as long as a file system takes, a run started with SIGALRM blocked, and a
// run short of file descriptors.
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::kCarriesLinuxAttributes;
using testing::kExchangesNames;
using testing::kFailure;
using testing::quoted;
using testing::readFile;
using testing::runCommand;
using testing::RunResult;
using testing::runTool;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

constexpr char kOld[] = "<RCC><qresource prefix=\"/\"><file>gone.html</file></qresource></RCC>";
// What another program put in place meanwhile: a group of its own beside the run's.
constexpr char kOthers[] = "<RCC><qresource prefix=\"/theirs\"/></RCC>";
constexpr char kOthersUpdated[] =
    "<RCC>\n\t<qresource prefix=\"/theirs\"/>\n\t<qresource prefix=\"/\">\n"
    "\t\t<file>html/a.html</file>\n\t</qresource>\n</RCC>\n\n";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool haveStrace() {
  return runCommand("command -v strace").status == 0;
}

class SaveRaceTest : public ::testing::Test {
 protected:
  SaveRaceTest() {
    writeFile(dir / "html/a.html", "a");
    writeFile(qrc(), kOld);
  }

  fs::path qrc() const { return dir / "app.qrc"; }
  std::vector<std::string> args() const { return {dir.path().string(), "app", "html", "/"}; }

  // The index (from 1) of the first call of name whose line holds marker, in a clean run traced
  // on a copy of the project.
  int callIndex(const std::string& name, const std::string& marker) {
    const fs::path log = dir / "clean.log";
    const std::string before = readFile(qrc());
    runTool(args(), "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + quoted(log.string()) +
                        " -e trace=" + name);
    writeFile(qrc(), before);
    int index = 0;
    const std::string text = readFile(log);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      at = end == std::string::npos ? text.size() : end + 1;
      if (line.find(" " + name + "(") == std::string::npos) {
        continue;
      }
      ++index;
      if (line.find(marker) != std::string::npos) {
        return index;
      }
    }
    return 0;
  }

  // Runs the tool held back for half a second before the when-th call of name, while another
  // program renames a file with kOthers over the .qrc a tenth of a second into that wait.
  RunResult runWhileReplaced(const std::string& name, int when) {
    writeFile(dir / "theirs.qrc", kOthers);
    const std::string command =
        "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e inject=" + name +
        ":delay_enter=500000:when=" + std::to_string(when) + " " + quoted(RESWEAVER_BINARY) + " " +
        quoted(dir.path().string()) + " app html / >" + quoted((dir / "out").string()) +
        " & sleep 0.2; mv " + quoted((dir / "theirs.qrc").string()) + " " + quoted(qrc().string()) +
        "; wait $!";
    const RunResult result = runCommand(command);
    return {result.status, readFile(dir / "out"), result.err};
  }

  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".resweaver-") != std::string::npos) {
        names.push_back(name);
      }
    }
    return names;
  }

  TempDir dir;
};

// Replaced after the run checked the lock against the path, before it found the folder: the run
// locks the new file and fills its group there.
TEST_F(SaveRaceTest, AFileReplacedBeforeTheFolderIsFoundIsLockedAnew) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs strace";
  }
  const int folderOpen = callIndex("openat", "O_DIRECTORY");
  ASSERT_GT(folderOpen, 0);
  const RunResult result = runWhileReplaced("openat", folderOpen);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(readFile(qrc()), kOthersUpdated);
  EXPECT_TRUE(leftovers().empty());
}

// Replaced without the lock while the run writes its new file, or right before the new file takes
// the name: the other program's file stays, and the run says why it saved nothing.
TEST_F(SaveRaceTest, AFileReplacedWithoutTheLockIsNeverOverwritten) {
  if (!haveStrace()) {
    GTEST_SKIP() << "needs strace";
  }
  // Where the system cannot exchange names, a file replaced between the last check and the rename
  // is lost: that window stays open there, and is not tried.
  const std::pair<const char*, const char*> windows[] = {
      {"fsync", ""},       // the new file flushed, before the last check
      {"renameat2", ""}};  // after the last check: the exchange is undone
  for (const auto& [name, marker] : windows) {
    SCOPED_TRACE(name);
    if (!kExchangesNames && std::string(name) == "renameat2") {
      continue;
    }
    writeFile(qrc(), kOld);
    const int when = callIndex(name, marker);
    if (when == 0) {
      continue;  // this build does not make that call
    }
    const RunResult result = runWhileReplaced(name, when);
    EXPECT_EQ(result.status, kFailure);
    EXPECT_EQ(result.out,
              "cannot write file " + qrc().string() + ": the file was replaced during the run\n");
    EXPECT_EQ(readFile(qrc()), kOthers);
    EXPECT_TRUE(leftovers().empty());
  }
}

// Replaced right after the last check, and the exchange that would put the other program's file
// back fails: that file gets a visible name of its own, which the message gives and the next run's
// tidying up leaves alone.
TEST_F(SaveRaceTest, AFileThatCannotBePutBackKeepsANameOfItsOwn) {
  if (!haveStrace() || !kExchangesNames) {
    GTEST_SKIP() << "needs strace and a system that exchanges names";
  }
  // The last check is the last look at the .qrc's name before the first exchange.
  const fs::path log = dir / "clean.log";
  runTool(args(), "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + quoted(log.string()) +
                      " -e trace=newfstatat,renameat2");
  writeFile(qrc(), kOld);
  int looks = 0;
  int check = 0;
  std::istringstream lines(readFile(log));
  for (std::string line; std::getline(lines, line) && line.find("renameat2(") == std::string::npos;) {
    if (line.find("newfstatat(") != std::string::npos) {
      ++looks;
      if (line.find("\"app.qrc\"") != std::string::npos) {
        check = looks;
      }
    }
  }
  ASSERT_GT(check, 0) << readFile(log);

  writeFile(dir / "theirs.qrc", kOthers);
  const std::string command =
      "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e inject=newfstatat:delay_exit=500000:"
      "when=" + std::to_string(check) + " -e inject=renameat2:error=EIO:when=2 " +
      quoted(RESWEAVER_BINARY) + " " + quoted(dir.path().string()) + " app html / >" +
      quoted((dir / "out").string()) + " & sleep 0.2; mv " + quoted((dir / "theirs.qrc").string()) +
      " " + quoted(qrc().string()) + "; wait $!";
  EXPECT_EQ(runCommand(command).status, kFailure);
  const std::string out = readFile(dir / "out");
  const std::string said = "cannot write file " + qrc().string() +
                           ": the file was replaced during the run; the other program's file is now ";
  ASSERT_EQ(out.rfind(said, 0), 0U) << out;
  const std::string aside = out.substr(said.size(), out.size() - said.size() - 1);
  EXPECT_EQ(aside.rfind("app.qrc.replaced-", 0), 0U) << aside;
  EXPECT_EQ(readFile(dir / aside), kOthers);
  EXPECT_TRUE(leftovers().empty());
  // The next run fills its group and leaves the other program's file where it is.
  ASSERT_EQ(runTool(args()).status, 0);
  EXPECT_EQ(readFile(dir / aside), kOthers);
}

// A folder whose default ACL names a user who may not read the .qrc: the new file's inherited ACL
// is removed before its mode is set, so at no moment does that user's entry take effect.
TEST_F(SaveRaceTest, TheNewFileIsNeverMoreOpenThanTheOldOne) {
  if (!kCarriesLinuxAttributes) {
    GTEST_SKIP() << "this build does not carry extended attributes";
  }
  if (!haveStrace() || runCommand("command -v setfacl").status != 0 ||
      runCommand("setfacl -d -m u:nobody:rw " + quoted(dir.path().string())).status != 0) {
    GTEST_SKIP() << "needs strace and ACLs";
  }
  ASSERT_EQ(runCommand("chmod 0640 " + quoted(qrc().string())).status, 0);
  const fs::path log = dir / "calls.log";
  const RunResult result =
      runTool(args(), "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + quoted(log.string()) +
                          " -e trace=fchmod,fremovexattr,fsetxattr");
  ASSERT_EQ(result.status, 0) << result.out;
  const std::string calls = readFile(log);
  const std::size_t mode = calls.find("fchmod(");
  ASSERT_NE(mode, std::string::npos) << calls;
  EXPECT_NE(calls.find("fremovexattr("), std::string::npos) << calls;
  EXPECT_EQ(calls.find("xattr(", mode), std::string::npos) << calls;
}

// The protocol that the README gives for scripts: lock the .qrc, check that the path still names
// the locked file, retry otherwise. An editor that follows it while runs fill other groups, each
// replacing the file, loses nothing, and neither do they.
TEST_F(SaveRaceTest, AScriptThatFollowsTheLockProtocolLosesNothing) {
  if (runCommand("command -v flock && command -v stat").status != 0) {
    GTEST_SKIP() << "needs flock and stat";
  }
  writeFile(qrc(), "<RCC></RCC>");
  const std::string qrcPath = quoted(qrc().string());
  const std::string editor =
      "for i in 1 2 3 4 5 6 7 8; do ("
      "exec 9<" +
      qrcPath +
      "; flock 9; "
      "while [ \"$(stat -L -c %d:%i /dev/fd/9)\" != \"$(stat -c %d:%i " +
      qrcPath +
      ")\" ]; do "
      "exec 9<" +
      qrcPath +
      "; flock 9; done; "
      "sed \"s|</RCC>|<qresource prefix=\\\"/e$i\\\"/></RCC>|\" " +
      qrcPath + " >" + qrcPath + ".new && mv " + qrcPath + ".new " + qrcPath + "); done";
  std::string runs;
  for (const char* prefix : {"/a", "/b", "/c"}) {
    runs += "(for i in 1 2 3 4 5 6; do " + quoted(RESWEAVER_BINARY) + " " +
            quoted(dir.path().string()) + " app html " + prefix + " || echo failed; done) & ";
  }
  const RunResult result = runCommand(runs + "(" + editor + ") & wait");
  EXPECT_EQ(result.out.find("failed"), std::string::npos) << result.out;
  const std::string text = readFile(qrc());
  for (const std::string prefix : {"/a", "/b", "/c", "/e1", "/e4", "/e8"}) {
    EXPECT_NE(text.find("prefix=\"" + prefix + "\""), std::string::npos) << prefix << "\n" << text;
  }
}

// A .qrc mounted on its own, as a container mounts a single file, cannot be renamed over: it is
// rewritten in place, and the file it shows is the one that changes.
TEST_F(SaveRaceTest, AFileMountedOnItsOwnIsRewrittenInPlace) {
  writeFile(dir / "outside/app.qrc", kOld);
  if (::mount((dir / "outside/app.qrc").c_str(), qrc().c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here";
  }
  const RunResult result = runTool(args());
  ::umount2(qrc().c_str(), MNT_DETACH);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(readFile(dir / "outside/app.qrc"),
            "<RCC>\n\t<qresource prefix=\"/\">\n\t\t<file>html/a.html</file>\n\t</qresource>\n"
            "</RCC>\n\n");
}

// A loop-mounted file system of a kind, unmounted and removed at the end.
class LoopFileSystem {
 public:
  LoopFileSystem(const fs::path& image, const fs::path& at, const std::string& mkfs,
                 const std::string& size)
      : image_(image), at_(at) {
    fs::create_directories(at);
    mounted_ = runCommand("truncate -s " + size + " " + quoted(image.string()) + " && " + mkfs +
                          " " + quoted(image.string()) + " >/dev/null 2>&1 && mount -o loop " +
                          quoted(image.string()) + " " + quoted(at.string()))
                   .status == 0;
  }
  ~LoopFileSystem() {
    if (mounted_) {
      ::umount2(at_.c_str(), MNT_DETACH);
    }
    fs::remove(image_);
  }
  LoopFileSystem(const LoopFileSystem&) = delete;
  LoopFileSystem& operator=(const LoopFileSystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  fs::path image_;
  fs::path at_;
  bool mounted_ = false;
};

// A hard-linked .qrc is rewritten in place. On a copy-on-write file system every block written
// needs a new one, even over the old bytes (and on XFS the blocks of a reflinked copy are shared):
// a nearly full disk refuses the rewrite before the first byte instead of leaving new bytes in
// front of old ones.
TEST_F(SaveRaceTest, ANearlyFullCopyOnWriteFileSystemKeepsTheOldBytes) {
  const struct {
    const char* name;
    const char* mkfs;
    const char* size;
    bool reflinked;
  } kinds[] = {{"btrfs", "mkfs.btrfs -f", "120M", false},
               {"xfs with a reflinked copy", "mkfs.xfs -f -m reflink=1", "300M", true}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const LoopFileSystem loop(dir / "image", dir / "mnt", kind.mkfs, kind.size);
    if (!loop.mounted()) {
      GTEST_SKIP() << "cannot make and mount " << kind.name << " here";
    }
    const fs::path project = dir / "mnt/project";
    writeFile(project / "html/a.html", "a");
    std::string old = "<RCC><qresource prefix=\"/assets\">";
    for (int i = 0; i < 40000; ++i) {
      old += "<file>assets/image-" + std::to_string(i) + ".png</file>";
    }
    old += "</qresource><qresource prefix=\"/\"><file>gone.html</file></qresource></RCC>";
    if (kind.reflinked) {
      writeFile(dir / "mnt/original.qrc", old);
      ASSERT_EQ(runCommand("cp --reflink=always " + quoted((dir / "mnt/original.qrc").string()) +
                           " " + quoted((project / "app.qrc").string()))
                    .status,
                0);
    } else {
      writeFile(project / "app.qrc", old);
    }
    fs::create_hard_link(project / "app.qrc", project / "link.qrc");
    // Full but for half a megabyte, far less than the new text.
    writeFile(dir / "mnt/reserve", std::string(512 * 1024, 'r'));
    runCommand("dd if=/dev/zero of=" + quoted((dir / "mnt/filler").string()) +
               " bs=1M 2>/dev/null; sync");
    fs::remove(dir / "mnt/reserve");
    runCommand("sync");
    const RunResult result = runTool({project.string(), "app", "html", "/"});
    EXPECT_EQ(result.status, kFailure) << result.out;
    EXPECT_EQ(result.out, "cannot write file " + (project / "app.qrc").string() +
                              ": No space left on device\n");
    EXPECT_TRUE(readFile(project / "app.qrc") == old) << "the .qrc changed";
  }
}

// Names up to the longest a file system takes: the new file's name holds as much of the .qrc's
// name as fits, and a leftover named that way is still recognised.
TEST_F(SaveRaceTest, NamesAsLongAsTheFileSystemTakesAreSaved) {
  const std::string rcname(251, 'n');  // 255 bytes with .qrc
  writeFile(dir / (rcname + ".qrc"), kOld);
  const std::string leftover = "." + std::string(237, 'n') + ".resweaver-AbC123";
  writeFile(dir / leftover, "left by a killed run");
  const RunResult result = runTool({dir.path().string(), rcname, "html", "/"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(readFile(dir / (rcname + ".qrc")).find("html/a.html"), std::string::npos);
  EXPECT_TRUE(leftovers().empty());
}

// A run started with SIGALRM blocked (a build tool's worker thread passes its mask on through
// exec) still says that it waits.
TEST_F(SaveRaceTest, TellsThatItWaitsEvenWithSIGALRMBlocked) {
  if (runCommand("command -v flock && command -v python3").status != 0) {
    GTEST_SKIP() << "needs flock and python3";
  }
  const RunResult result = runCommand(
      "flock " + quoted(qrc().string()) + " sleep 2 & sleep 0.3; python3 -c " +
      quoted("import os, signal, sys; signal.pthread_sigmask(signal.SIG_BLOCK, "
             "[signal.SIGALRM]); os.execv(sys.argv[1], sys.argv[1:])") +
      " " + quoted(RESWEAVER_BINARY) + " " + quoted(dir.path().string()) + " app html /");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "waiting for another run on " + qrc().string() + "\n");
}

// Short of file descriptors, the message says so rather than blame the file.
TEST_F(SaveRaceTest, SaysWhyAFileThatIsFineCannotBeOpened) {
  if (kSanitized) {
    GTEST_SKIP() << "the sanitizers' runtime needs file descriptors of its own";
  }
  const RunResult result = runTool(args(), "ulimit -n 3;");
  EXPECT_EQ(result.status, kFailure);
  EXPECT_EQ(result.out, "cannot open file " + qrc().string() + ": Too many open files\n");
  EXPECT_EQ(readFile(qrc()), kOld);
}

}  // namespace
}  // namespace resweaver
