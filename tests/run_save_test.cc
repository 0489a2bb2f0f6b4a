// The save as users meet it under real failures: the built tool killed or failed at chosen system
// calls, full disks, size limits, links, permissions and concurrent replacement of the file.
//
// Every check compares exact bytes: after any fault the .qrc holds either the old bytes or the
// complete new ones, and nothing of the run is left beside it.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <grp.h>
#include <map>
#include <pwd.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "extended_attributes.h"
#include "test_support.h"

namespace resweaver {
namespace {

#if RESWEAVER_HAVE_FALLOCATE_KEEP_SIZE
constexpr bool kReservesSpace = true;
#else
constexpr bool kReservesSpace = false;
#endif

using testing::asUnprivileged;
using testing::kCarriesLinuxAttributes;
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

// The exit status the shell reports for a process ended by signal.
int endedBy(int signal) {
  return 128 + signal;
}

bool isRoot() {
  return ::geteuid() == 0;
}

// ---------------------------------------------------------------------------------------------
// The bytes of a .qrc in the tool's own layout.

struct Group {
  std::string prefix;
  std::vector<std::string> files;
};

std::string qrcText(const std::vector<Group>& groups) {
  std::string text = "<RCC>\n";
  for (const Group& group : groups) {
    if (group.files.empty()) {
      text += "\t<qresource prefix=\"" + group.prefix + "\"/>\n";
      continue;
    }
    text += "\t<qresource prefix=\"" + group.prefix + "\">\n";
    for (const std::string& file : group.files) {
      text += "\t\t<file>" + file + "</file>\n";
    }
    text += "\t</qresource>\n";
  }
  return text + "</RCC>\n\n";
}

// count names like assets/image-000042.png: 100000 of them make a group of about 3.9 MB.
std::vector<std::string> numbered(const std::string& stem, int count, const std::string& ending) {
  std::vector<std::string> names;
  char digits[16];
  for (int i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%06d", i);
    names.push_back(stem + digits + ending);
  }
  return names;
}

// Where two byte strings that should be equal part, for messages that cannot print megabytes.
std::string firstDifference(const std::string& actual, const std::string& expected) {
  const auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  std::ostringstream text;
  text << "size " << actual.size() << " (expected " << expected.size() << "), first difference at "
       << (at.first - actual.begin());
  return text.str();
}

// Which of the two allowed contents the file holds: "old", "new", or a description of the damage.
std::string heldContent(const fs::path& file, const std::string& old, const std::string& fresh) {
  const std::string now = readFile(file);
  if (now == old) {
    return "old";
  }
  if (now == fresh) {
    return "new";
  }
  return "damaged: against the old bytes " + firstDifference(now, old) + "; against the new " +
         firstDifference(now, fresh);
}

std::set<std::string> entriesOf(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

struct stat statusOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status;
}

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Owner, group, mode and extended attributes: what a replacing save must carry over.
struct Metadata {
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;
  std::map<std::string, std::string> attributes;

  bool operator==(const Metadata& other) const {
    return uid == other.uid && gid == other.gid && mode == other.mode &&
           attributes == other.attributes;
  }
};

std::ostream& operator<<(std::ostream& out, const Metadata& m) {
  out << "owner " << m.uid << ":" << m.gid << " mode " << std::oct << m.mode << std::dec
      << " attributes";
  for (const auto& [name, value] : m.attributes) {
    out << " " << name << "(" << value.size() << " bytes)";
  }
  return out;
}

Metadata metadataOf(const fs::path& path) {
  const struct stat status = statusOf(path);
  Metadata m{status.st_uid, status.st_gid, static_cast<mode_t>(status.st_mode & 07777), {}};
  if (!kCarriesAttributes) {
    return m;  // a build for systems whose attributes it does not carry
  }
  const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
  std::vector<char> names(size > 0 ? static_cast<std::size_t>(size) : 0);
  const ssize_t length = size > 0 ? ::listxattr(path.c_str(), names.data(), names.size()) : 0;
  for (ssize_t at = 0; at < length;) {
    const std::string name(names.data() + at);
    at += static_cast<ssize_t>(name.size()) + 1;
    std::string value(256, '\0');
    const ssize_t got = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
    value.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    m.attributes[name] = value;
  }
  return m;
}

uid_t nobodyUser() {
  const passwd* user = ::getpwnam("nobody");
  return user != nullptr ? user->pw_uid : 65534;
}

gid_t nobodyGroup() {
  const group* found = ::getgrnam("nogroup");
  return found != nullptr ? found->gr_gid : 65534;
}

// A default ACL on folder that gives nobody read and write: every file created in it, the tool's
// new file included, gets an access ACL. Returns false where the file system has no ACLs.
bool giveDefaultAcl(const fs::path& folder) {
  const auto entry = [](std::uint16_t tag, std::uint16_t permissions, std::uint32_t id) {
    std::string bytes(8, '\0');
    std::memcpy(&bytes[0], &tag, 2);
    std::memcpy(&bytes[2], &permissions, 2);
    std::memcpy(&bytes[4], &id, 4);
    return bytes;
  };
  constexpr std::uint32_t kNoId = 0xFFFFFFFF;
  const std::uint32_t version = 2;
  std::string acl(reinterpret_cast<const char*>(&version), 4);
  acl += entry(0x01, 6, kNoId);         // the owner
  acl += entry(0x02, 6, nobodyUser());  // the named user nobody
  acl += entry(0x04, 4, kNoId);         // the group
  acl += entry(0x10, 6, kNoId);         // the mask
  acl += entry(0x20, 4, kNoId);         // others
  return ::setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;
}

// ---------------------------------------------------------------------------------------------
// A project: app.qrc with a large "/assets" group that every save must carry over unchanged, and
// the "/" group that the run rewrites from the HTML folder "html".

struct ProjectShape {
  int assets = 0;      // entries of "/assets": 100000 make the .qrc about 3.9 MB
  int stalePages = 0;  // entries of "/" that the run drops: many make the new text shorter
  std::vector<std::string> pages = {"index.html"};
  bool assetsFirst = false;
  // The old .qrc without line breaks and indentation, which the tool drops: the new text is then
  // longer by three bytes per asset.
  bool compactOld = false;
};

std::string withoutLayout(std::string text) {
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\t'; }),
      text.end());
  return text;
}

class Project {
 public:
  explicit Project(const ProjectShape& shape, const fs::path& root = {})
      : root_(root.empty() ? own_.path() : root), shape_(shape) {
    for (const std::string& page : shape.pages) {
      writeFile(root_ / "html" / page, "<p>" + page + "</p>\n");
    }
    old_ = text(numbered("gone-", shape.stalePages, ".html"));
    if (shape.compactOld) {
      old_ = withoutLayout(old_);
    }
    fresh_ = text(shape.pages);  // the listing order is the file system's: right for one page
  }

  // Takes written as the new bytes if it is the old text with "/" listing the pages in some
  // order: the tool lists several pages in the order the file system gives them.
  bool adoptListingOrder(const std::string& written) {
    std::vector<std::string> pages = shape_.pages;
    std::sort(pages.begin(), pages.end());
    do {
      if (text(pages) == written) {
        fresh_ = written;
        return true;
      }
    } while (std::next_permutation(pages.begin(), pages.end()));
    return false;
  }

  fs::path root() const { return root_; }
  fs::path qrc() const { return root_ / "app.qrc"; }
  fs::path link() const { return root_ / "link.qrc"; }
  std::string uiPath() const { return qrc().string(); }
  std::vector<std::string> args() const { return {root_.string(), "app", "html", "/"}; }
  const std::string& oldBytes() const { return old_; }
  const std::string& newBytes() const { return fresh_; }
  void setOldBytes(std::string bytes) { old_ = std::move(bytes); }

  // The "/assets" group as the tool writes it; it must survive every save.
  std::string assetsGroup() const {
    std::string group = qrcText({{"/assets", numbered("assets/image-", shape_.assets, ".png")}});
    return group.substr(6, group.size() - 6 - 9);  // without "<RCC>\n" and "</RCC>\n\n"
  }

  // The .qrc as before a run: the old bytes in a new file, hard-linked as link.qrc if asked, and
  // (as root, if asked) owned by nobody:nogroup with mode 0640 and a user attribute but no ACL.
  void reset(bool hardLinked = false, bool foreignOwner = false) {
    fs::remove(qrc());
    fs::remove(link());
    writeFile(qrc(), old_);
    ::removexattr(qrc().c_str(), "system.posix_acl_access");
    if (foreignOwner && isRoot()) {
      EXPECT_EQ(::chown(qrc().c_str(), nobodyUser(), nobodyGroup()), 0);
      EXPECT_EQ(::chmod(qrc().c_str(), 0640), 0);
      ::setxattr(qrc().c_str(), "user.origin", "kept", 4, 0);
    }
    if (hardLinked) {
      fs::create_hard_link(qrc(), link());
    }
  }

  // The names in the project folder when nothing of a run is left beside the .qrc.
  std::set<std::string> cleanEntries() const {
    std::set<std::string> names = {"app.qrc", "html"};
    if (fs::exists(link())) {
      names.insert("link.qrc");
    }
    return names;
  }

 private:
  // The .qrc with "/" listing pages of the HTML folder.
  std::string text(const std::vector<std::string>& pages) const {
    Group assets{"/assets", numbered("assets/image-", shape_.assets, ".png")};
    Group own{"/", {}};
    for (const std::string& page : pages) {
      own.files.push_back("html/" + page);
    }
    return shape_.assetsFirst ? qrcText({assets, own}) : qrcText({own, assets});
  }

  TempDir own_;
  fs::path root_;
  ProjectShape shape_;
  std::string old_;
  std::string fresh_;
};

// ---------------------------------------------------------------------------------------------
// Runs under strace.

bool straceWorks() {
  return runCommand("strace -f -o /dev/null true").status == 0;
}

struct Injection {
  std::string call;
  int when;               // counted from the start of the run, as strace's when= counts
  std::size_t index = 0;  // its place among all calls of the clean run
};

struct Call {
  std::string name;
  std::string line;
};

// The system calls of one run in order, from a log of strace -f -o.
std::vector<Call> callsIn(const fs::path& log) {
  std::vector<Call> calls;
  std::istringstream lines(readFile(log));
  for (std::string line; std::getline(lines, line);) {
    std::size_t at = line.find_first_not_of("0123456789");
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos || line.compare(at, 4, "<...") == 0) {
      continue;
    }
    const std::size_t open = line.find('(', at);
    const std::string name = line.substr(at, open == std::string::npos ? 0 : open - at);
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
          return std::islower(static_cast<unsigned char>(c)) || std::isdigit(c) || c == '_';
        })) {
      calls.push_back({name, line});
    }
  }
  return calls;
}

// The index of the first call whose line contains marker: the save's first step.
std::size_t firstWith(const std::vector<Call>& calls, const std::string& marker) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].line.find(marker) != std::string::npos) {
      return i;
    }
  }
  return calls.size();
}

// Each occurrence of name from index from on.
std::vector<Injection> occurrencesOf(const std::vector<Call>& calls, std::size_t from,
                                     const std::string& name) {
  std::vector<Injection> found;
  int count = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name == name) {
      ++count;
      if (i >= from) {
        found.push_back({name, count, i});
      }
    }
  }
  return found;
}

// The numbers of each occurrence of name from index from on, as strace's when= counts them.
std::vector<int> occurrencesFrom(const std::vector<Call>& calls, std::size_t from,
                                 const std::string& name) {
  std::vector<int> numbers;
  for (const Injection& found : occurrencesOf(calls, from, name)) {
    numbers.push_back(found.when);
  }
  return numbers;
}

int countOf(const std::vector<Call>& calls, const std::string& name) {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const Call& call) { return call.name == name; }));
}

// Every call from the save's first step on and each of its occurrences; of a call made very often,
// the first, second, a middle and the last. Memory management and the exit itself are left out.
std::vector<Injection> plannedInjections(const std::vector<Call>& calls, std::size_t from) {
  static const std::set<std::string> kLeftOut = {"mmap", "munmap", "madvise",    "mprotect",
                                                 "brk",  "mremap", "exit_group", "exit"};
  std::vector<std::string> names;
  for (std::size_t i = from; i < calls.size(); ++i) {
    if (kLeftOut.count(calls[i].name) == 0 &&
        std::find(names.begin(), names.end(), calls[i].name) == names.end()) {
      names.push_back(calls[i].name);
    }
  }
  std::vector<Injection> planned;
  for (const std::string& name : names) {
    std::vector<Injection> found = occurrencesOf(calls, from, name);
    if (found.size() > 8) {
      found = {found[0], found[1], found[found.size() / 2], found.back()};
    }
    planned.insert(planned.end(), found.begin(), found.end());
  }
  return planned;
}

// Shell text that runs the command after it under strace with options, without core dumps, in a
// shell of its own whose notice of a killed process ("Killed") goes to the captured error output.
// Every signal takes its default action, also where the tests run with SIGHUP ignored (nohup).
// LeakSanitizer cannot work under ptrace: a sanitizer build's leak check is off for traced runs.
std::string underStrace(const fs::path& log, const std::string& options) {
  return "sh -c " +
         quoted("ulimit -c 0; ASAN_OPTIONS=detect_leaks=0 env --default-signal strace -f -o " +
                quoted(log.string()) + " " + options + " \"$@\"; exit $?") +
         " sh";
}

// underStrace with action (such as "signal=SIGKILL" or "error=EIO") at the when-th call of name.
std::string injecting(const fs::path& log, const std::string& name, const std::string& action,
                      int when) {
  return underStrace(log, "-e trace=" + name + " -e inject=" + name + ":" + action +
                              ":when=" + std::to_string(when));
}

std::string describe(const Injection& injection, const std::string& action) {
  return injection.call + " #" + std::to_string(injection.when) + " " + action;
}

// A call's first argument as strace -y shows a descriptor: "5</path/of/the/file>".
std::string firstArgument(const Call& call) {
  const std::size_t open = call.line.find('(') + 1;
  return call.line.substr(open, call.line.find_first_of(",)", open) - open);
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The failure tests only cut calls that a clean run makes, so a promise whose call is missing
// would go unnoticed: in the clean run, the calls that carry the save's promises come in their
// order. Replaced: the new file's last write, its flush, the rename, the folder's flush. In place:
// the file's last write or truncation, then its flush, on the descriptor that wrote.
void expectPromisesInOrder(const std::vector<Call>& calls, const Project& project, bool inPlace) {
  const auto changes = [](const Call& c) {
    return c.name.find("write") != std::string::npos || c.name == "ftruncate";
  };
  const auto flushes = [](const Call& c) { return c.name == "fsync" || c.name == "fdatasync"; };
  const std::string written = inPlace ? "/" + project.qrc().filename().string() + ">" : ">";
  const std::string marker = inPlace ? "" : ".resweaver-";
  std::size_t lastChange = calls.size();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const std::string argument = firstArgument(calls[i]);
    if (changes(calls[i]) && endsWith(argument, written) &&
        argument.find(marker) != std::string::npos) {
      lastChange = i;
    }
  }
  ASSERT_LT(lastChange, calls.size()) << "the file was never written";
  const std::string fd = firstArgument(calls[lastChange]);
  std::size_t flush = lastChange;
  while (flush < calls.size() && !(flushes(calls[flush]) && firstArgument(calls[flush]) == fd)) {
    ++flush;
  }
  ASSERT_LT(flush, calls.size()) << "not flushed after " << calls[lastChange].line;
  if (inPlace) {
    return;
  }
  std::size_t rename = 0;
  while (rename < calls.size() && calls[rename].name.rfind("rename", 0) != 0) {
    ++rename;
  }
  ASSERT_LT(rename, calls.size()) << "nothing renamed";
  EXPECT_LT(flush, rename) << calls[rename].line;
  const std::string folder = "<" + fs::canonical(project.root()).string() + ">";
  std::size_t folderFlush = rename;
  while (folderFlush < calls.size() &&
         !(flushes(calls[folderFlush]) && endsWith(firstArgument(calls[folderFlush]), folder))) {
    ++folderFlush;
  }
  EXPECT_LT(folderFlush, calls.size()) << "the folder was not flushed after the rename";
}

class SaveFaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!straceWorks()) {
      GTEST_SKIP() << "strace cannot trace here";
    }
  }

  // One clean run, traced in full, each descriptor shown with its path, in which the calls that
  // carry the save's promises come in their order. Its bytes are the new bytes once they are found
  // to be the old ones with "/" relisted; the .qrc is then reset to the old bytes.
  std::vector<Call> traceCleanRun(Project& project, bool hardLinked, bool foreignOwner) {
    project.reset(hardLinked, foreignOwner);
    const fs::path log = logs / "clean.log";
    const RunResult result = runTool(
        project.args(), "ASAN_OPTIONS=detect_leaks=0 strace -f -y -o " + quoted(log.string()));
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    const std::string written = readFile(project.qrc());
    if (!project.adoptListingOrder(written)) {
      ADD_FAILURE() << "the clean run wrote " << firstDifference(written, project.newBytes());
    }
    project.reset(hardLinked, foreignOwner);
    const std::vector<Call> calls = callsIn(log);
    expectPromisesInOrder(calls, project, hardLinked);
    return calls;
  }

  TempDir logs;
};

const ProjectShape kShorter{100000, 2000, {"index.html", "about.html", "contact.html"}};
const ProjectShape kLonger{100000, 0, {"index.html", "about.html", "contact.html"}};

// Every save is tried with a new text shorter than the old one, and with one longer.
const struct {
  const char* name;
  ProjectShape shape;
} kScenes[] = {{"new text shorter", kShorter}, {"new text longer", kLonger}};

// Every call of the save that replaces the .qrc, killed and failed in turn, on a .qrc of about
// 4 MB whose new text is shorter, and one whose new text is longer. As root the old file belongs
// to nobody and carries an attribute while the folder gives new files an ACL, so that the calls
// that carry owner and attributes over are among those cut.
TEST_F(SaveFaultInjectionTest, EveryCallOfTheReplacingSaveKilledOrFailedKeepsOldOrNewBytes) {
  for (const auto& scene : kScenes) {
    SCOPED_TRACE(scene.name);
    Project project(scene.shape);
    if (isRoot()) {
      giveDefaultAcl(project.root());
    }
    const std::vector<Call> calls = traceCleanRun(project, false, true);
    ASSERT_FALSE(HasFailure());
    const std::string& fresh = project.newBytes();
    ASSERT_EQ(fresh.size() < project.oldBytes().size(), scene.shape.stalePages > 0);
    const Metadata metadata = metadataOf(project.qrc());
    const std::size_t start = firstWith(calls, ".resweaver-");
    ASSERT_LT(start, calls.size()) << "no new file beside the .qrc in the clean run";
    const std::vector<Injection> planned = plannedInjections(calls, start);
    // The rename divides the save: before it the old file is untouched, after it the new one is
    // in place.
    std::size_t rename = start;
    while (rename < calls.size() && calls[rename].name.rfind("rename", 0) != 0) {
      ++rename;
    }
    ASSERT_LT(rename, calls.size()) << "the clean run renamed nothing";

    const fs::path log = logs / "injected.log";
    for (const Injection& injection : planned) {
      const int error = injection.call == "write" ? ENOSPC : EIO;
      const std::string errorName = error == ENOSPC ? "ENOSPC" : "EIO";
      for (const std::string& action : {std::string("signal=SIGKILL"), "error=" + errorName}) {
        SCOPED_TRACE(describe(injection, action));
        project.reset(false, true);
        const ino_t inode = statusOf(project.qrc()).st_ino;
        const RunResult result =
            runTool(project.args(), injecting(log, injection.call, action, injection.when));
        const std::string traced = readFile(log);
        const std::string held = heldContent(project.qrc(), project.oldBytes(), fresh);
        if (action == "signal=SIGKILL") {
          ASSERT_NE(traced.find("+++ killed by SIGKILL +++"), std::string::npos)
              << "the call was not reached";
          EXPECT_EQ(result.status, endedBy(SIGKILL));
          if (injection.index < rename) {
            EXPECT_EQ(held, "old");
            EXPECT_EQ(statusOf(project.qrc()).st_ino, inode) << "the old file was replaced";
          } else if (injection.index > rename) {
            EXPECT_EQ(held, "new");
          } else {
            EXPECT_TRUE(held == "old" || held == "new") << held;
          }
          // The next run tidies up whatever the killed one left and saves.
          const RunResult next = runTool(project.args());
          EXPECT_EQ(next.status, 0) << next.out;
          EXPECT_EQ(next.out, "");
          EXPECT_EQ(next.err, "");
          EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), fresh), "new");
        } else if (injection.index <= rename) {
          ASSERT_NE(traced.find("(INJECTED)"), std::string::npos) << "the call was not reached";
          EXPECT_EQ(result.status, kFailure);
          EXPECT_EQ(result.out,
                    "cannot write file " + project.uiPath() + ": " + std::strerror(error) + "\n");
          EXPECT_EQ(result.err, "");
          EXPECT_EQ(held, "old");
          EXPECT_EQ(statusOf(project.qrc()).st_ino, inode) << "the old file was replaced";
        } else {
          // After the rename a failure is at most a warning.
          ASSERT_NE(traced.find("(INJECTED)"), std::string::npos) << "the call was not reached";
          EXPECT_EQ(result.status, 0) << result.out;
          EXPECT_EQ(result.out, "");
          EXPECT_TRUE(result.err.empty() ||
                      (result.err.rfind("warning: ", 0) == 0 &&
                       std::count(result.err.begin(), result.err.end(), '\n') == 1))
              << result.err;
          EXPECT_EQ(held, "new");
          if (injection.call == "unlinkat") {
            // The old file, swapped out under a temporary name, could not be removed: the next
            // run tidies it up.
            EXPECT_EQ(runTool(project.args()).status, 0);
          }
        }
        EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
        if (heldContent(project.qrc(), project.oldBytes(), fresh) == "new") {
          EXPECT_EQ(metadataOf(project.qrc()), metadata);
        }
      }
    }
  }
}

// Where the new file cannot be made, or cannot be given the old file's owner or attributes, for
// lack of permission, the old file is rewritten in place instead: same file, new bytes, and the new
// file removed again.
TEST_F(SaveFaultInjectionTest, ANewFileThatCannotBeLikeTheOldOneGivesWayToAnInPlaceSave) {
  Project project({2000, 10});
  if (isRoot()) {
    giveDefaultAcl(project.root());
  }
  const std::vector<Call> calls = traceCleanRun(project, false, true);
  const Metadata metadata = metadataOf(project.qrc());
  const std::size_t start = firstWith(calls, ".resweaver-");
  ASSERT_LT(start, calls.size());
  struct Case {
    std::string call;
    std::string error;
  };
  std::vector<Case> cases = {{"openat", "EACCES"}, {"openat", "EPERM"}, {"openat", "EROFS"}};
  // As root the old file is nobody's, with an attribute, and the folder gives new files an ACL.
  for (const char* call : {"fchown", "fsetxattr", "fremovexattr"}) {
    if (!occurrencesFrom(calls, start, call).empty()) {
      cases.push_back({call, "EPERM"});
    }
  }
  const fs::path log = logs / "injected.log";
  for (const Case& c : cases) {
    const int when = occurrencesFrom(calls, start, c.call).front();
    SCOPED_TRACE(c.call + " #" + std::to_string(when) + " " + c.error);
    project.reset(false, true);
    const ino_t inode = statusOf(project.qrc()).st_ino;
    const RunResult result =
        runTool(project.args(), injecting(log, c.call, "error=" + c.error, when));
    ASSERT_NE(readFile(log).find("(INJECTED)"), std::string::npos) << "the call was not reached";
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
    EXPECT_EQ(statusOf(project.qrc()).st_ino, inode) << "not saved in place";
    EXPECT_EQ(metadataOf(project.qrc()), metadata);
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
  }
}

// Another program replaces the .qrc by rename, without taking the lock, while the run stands still
// for two seconds just before it writes: at the flush of its new file, or, in place, where it opens
// the file for writing. The run fails, and the replacement and the old file keep their bytes.
TEST_F(SaveFaultInjectionTest, AFileReplacedWithoutTheLockIsNotOverwritten) {
  const struct {
    const char* name;
    bool hardLinked;
    const char* marker;  // in the first call of the save
    std::string call;    // the call that stands still: the first one from the marker on, or
                         // the marked call itself (open or openat, as the C library calls it)
  } cases[] = {
      {"replaced", false, ".resweaver-", "fsync"},
      {"in place", true, "O_WRONLY", ""},
  };
  Project project({2000, 10});
  const fs::path log = logs / "delayed.log";
  const std::string qrc = quoted(project.qrc().string());
  const std::string replacement = "<RCC><qresource prefix=\"/other\"/></RCC>\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Call> calls = traceCleanRun(project, c.hardLinked, false);
    ASSERT_FALSE(HasFailure());
    const std::size_t marked = firstWith(calls, c.marker);
    ASSERT_LT(marked, calls.size());
    const std::string call = c.call.empty() ? calls[marked].name : c.call;
    const std::vector<int> found = occurrencesFrom(calls, marked, call);
    ASSERT_FALSE(found.empty());
    const std::string when = std::to_string(found.front());
    std::string command = underStrace(
        log, "-e trace=" + call + " -e inject=" + call + ":delay_enter=2000000:when=" + when);
    command += " " + quoted(RESWEAVER_BINARY);
    for (const std::string& arg : project.args()) {
      command += " " + quoted(arg);
    }
    // strace logs the call as it begins to stand still.
    const std::string reached = "n=$(grep -sc '" + call + "(' " + quoted(log.string()) +
                                "); [ ${n:-0} -ge " + when + " ]";
    const RunResult result =
        runCommand(command + " & for i in $(seq 3000); do " + reached +
                   " && break; sleep 0.01; done; printf " + quoted(replacement) + " >" + qrc +
                   ".swap && mv " + qrc + ".swap " + qrc + "; wait $!");
    ASSERT_NE(readFile(log).find("(DELAYED)"), std::string::npos) << "the call was not reached";
    EXPECT_EQ(result.status, kFailure);
    EXPECT_EQ(result.out,
              "cannot write file " + project.uiPath() + ": the file was replaced during the run\n");
    EXPECT_EQ(readFile(project.qrc()), replacement);
    if (c.hardLinked) {
      EXPECT_EQ(heldContent(project.link(), project.oldBytes(), project.newBytes()), "old");
    }
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
  }
}

// A file system without extended attributes, or without advisory locks, still gets its .qrc
// replaced.
TEST_F(SaveFaultInjectionTest, SavesWithoutExtendedAttributesOrLocks) {
  Project project({2000, 10});
  const fs::path log = logs / "injected.log";
  for (const char* injection :
       {"-e inject=flistxattr,llistxattr:error=EOPNOTSUPP", "-e inject=flock:error=EOPNOTSUPP",
        "-e inject=flock:error=ENOLCK"}) {
    SCOPED_TRACE(injection);
    if (!kCarriesLinuxAttributes && std::string(injection).find("xattr") != std::string::npos) {
      continue;  // this build makes no attribute calls
    }
    project.reset();
    const ino_t inode = statusOf(project.qrc()).st_ino;
    const RunResult result =
        runTool(project.args(),
                underStrace(log, std::string("-e trace=flistxattr,llistxattr,flock ") + injection));
    ASSERT_NE(readFile(log).find("(INJECTED)"), std::string::npos) << "the call was not reached";
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
    EXPECT_NE(statusOf(project.qrc()).st_ino, inode) << "not replaced";
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
  }
}

// A failed save whose own tidying up fails or is killed too leaves its new file behind; the old
// bytes are kept, and the next run removes the leftover.
TEST_F(SaveFaultInjectionTest, ALeftoverOfACutTidyingUpIsRemovedByTheNextRun) {
  Project project(kShorter);
  const std::vector<Call> calls = traceCleanRun(project, false, false);
  ASSERT_FALSE(HasFailure());
  const std::string& fresh = project.newBytes();
  const std::size_t start = firstWith(calls, ".resweaver-");
  ASSERT_LT(start, calls.size());
  const std::vector<int> writes = occurrencesFrom(calls, start, "write");
  ASSERT_FALSE(writes.empty());
  // The failed run's removal of its new file is the first unlinkat after those before the save.
  const std::string unlinkAt = std::to_string(
      countOf(std::vector<Call>(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(start)),
              "unlinkat") +
      1);
  const fs::path log = logs / "injected.log";
  const std::string failedWrite =
      "-e trace=write,unlinkat -e inject=write:error=ENOSPC:when=" + std::to_string(writes.back());
  const struct {
    const char* name;
    std::string prefix;
    int status;
  } cases[] = {
      {"the removal fails",
       underStrace(log, failedWrite + " -e inject=unlinkat:error=EIO:when=" + unlinkAt), kFailure},
      {"the run is killed at the removal",
       underStrace(log, failedWrite + " -e inject=unlinkat:signal=SIGKILL:when=" + unlinkAt),
       endedBy(SIGKILL)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    project.reset();
    const RunResult result = runTool(project.args(), c.prefix);
    ASSERT_NE(readFile(log).find("unlinkat("), std::string::npos) << "no removal was tried";
    EXPECT_EQ(result.status, c.status) << result.out;
    if (c.status == kFailure) {
      EXPECT_EQ(result.out,
                "cannot write file " + project.uiPath() + ": No space left on device\n");
    }
    EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), fresh), "old");
    // The leftover: one name beside the .qrc that the next run must recognise as its own.
    std::set<std::string> left = entriesOf(project.root());
    for (const std::string& name : project.cleanEntries()) {
      left.erase(name);
    }
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.begin()->rfind(".app.qrc.resweaver-", 0), 0u) << *left.begin();
    const RunResult next = runTool(project.args());
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), fresh), "new");
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
  }
}

// The in-place save of a hard-linked .qrc: the signals that end a build, sent while the file is
// being written, take effect only once it holds the complete new bytes; a kill or failure before
// the first byte keeps the old bytes.
TEST_F(SaveFaultInjectionTest, InPlaceSaveHoldsSignalsBackUntilTheFileIsComplete) {
  for (const auto& scene : kScenes) {
    SCOPED_TRACE(scene.name);
    Project project(scene.shape);
    const std::vector<Call> calls = traceCleanRun(project, true, false);
    ASSERT_FALSE(HasFailure());
    const std::string& fresh = project.newBytes();
    // The in-place save begins where the .qrc is opened for writing: through /proc/self/fd where
    // the build uses it, by its name elsewhere.
    std::size_t start = 0;
    while (start < calls.size() && (calls[start].line.find("O_WRONLY") == std::string::npos ||
                                    calls[start].line.find("O_CREAT") != std::string::npos)) {
      ++start;
    }
    ASSERT_LT(start, calls.size()) << "the clean run did not rewrite the file in place";

    struct Case {
      Injection at;
      std::string action;
      int status;
      std::string content;  // "old" or "new"
      std::string message;  // on standard output
    };
    std::vector<Case> cases;
    const std::vector<int> writes = occurrencesFrom(calls, start, "write");
    ASSERT_FALSE(writes.empty());
    for (int when : writes) {
      cases.push_back({{"write", when}, "signal=SIGTERM", endedBy(SIGTERM), "new", ""});
    }
    const std::pair<int, const char*> others[] = {
        {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}, {SIGPIPE, "SIGPIPE"}};
    for (const auto& [signal, name] : others) {
      cases.push_back(
          {{"write", writes.front()}, std::string("signal=") + name, endedBy(signal), "new", ""});
    }
    const std::string cannotWrite = "cannot write file " + project.uiPath() + ": ";
    // A write, truncation or flush that fails part-way puts the old bytes back.
    for (const char* name : {"write", "ftruncate", "fsync"}) {
      for (int when : occurrencesFrom(calls, start, name)) {
        if (std::string(name) != "write") {
          cases.push_back({{name, when}, "signal=SIGTERM", endedBy(SIGTERM), "new", ""});
        }
        cases.push_back(
            {{name, when}, "error=EIO", kFailure, "old", cannotWrite + "Input/output error\n"});
      }
    }
    // The C library opens with open or openat (musl with open).
    const std::string& opening = calls[start].name;
    const int reopen = occurrencesFrom(calls, start, opening).front();
    cases.push_back({{opening, reopen}, "signal=SIGKILL", endedBy(SIGKILL), "old", ""});
    cases.push_back(
        {{opening, reopen}, "error=EIO", kFailure, "old", cannotWrite + "Input/output error\n"});
    const std::vector<int> reserved = occurrencesFrom(calls, start, "fallocate");
    EXPECT_EQ(reserved.empty(), scene.shape.stalePages > 0 || !kReservesSpace)
        << "space is reserved when growing";
    for (int when : reserved) {
      cases.push_back({{"fallocate", when}, "signal=SIGKILL", endedBy(SIGKILL), "old", ""});
      cases.push_back({{"fallocate", when},
                       "error=ENOSPC",
                       kFailure,
                       "old",
                       cannotWrite + "No space left on device\n"});
    }

    const fs::path log = logs / "injected.log";
    for (const Case& c : cases) {
      SCOPED_TRACE(describe(c.at, c.action));
      project.reset(true);
      const ino_t inode = statusOf(project.qrc()).st_ino;
      const RunResult result =
          runTool(project.args(), injecting(log, c.at.call, c.action, c.at.when));
      const std::string traced = readFile(log);
      ASSERT_TRUE(traced.find("(INJECTED)") != std::string::npos ||
                  traced.find("+++ killed by SIG") != std::string::npos)
          << "the call was not reached";
      EXPECT_EQ(result.status, c.status) << result.out;
      EXPECT_EQ(result.out, c.message);
      EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), fresh), c.content);
      EXPECT_EQ(heldContent(project.link(), project.oldBytes(), fresh), c.content);
      EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
      EXPECT_EQ(statusOf(project.link()).st_ino, inode);
      EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
    }

    // Where the old bytes cannot be written back either, the message says so, and where their
    // copy is.
    project.reset(true);
    const TempDir copies;
    const RunResult damaged = runTool(
        project.args(),
        "TMPDIR=" + quoted(copies.path().string()) + " " +
            underStrace(log, "-e trace=write,pwrite64 -e inject=write:error=EIO:when=" +
                                 std::to_string(writes.back()) + " -e inject=pwrite64:error=EIO"));
    EXPECT_EQ(damaged.status, kFailure);
    const std::string copy = (copies.path() / "app.qrc").string() + ".old-";
    EXPECT_EQ(damaged.out.rfind(cannotWrite +
                                    "Input/output error; the file is damaged, and its "
                                    "old content is saved in " +
                                    copy,
                                0),
              0u)
        << damaged.out;
    const std::string copyPath = damaged.out.substr(damaged.out.rfind(' ') + 1);
    EXPECT_EQ(readFile(copyPath.substr(0, copyPath.size() - 1)), project.oldBytes());
  }
}

// ---------------------------------------------------------------------------------------------
// File systems, limits, links and permissions.

// A small tmpfs mounted for one test and unmounted at its end, whatever happened.
class SmallFileSystem {
 public:
  SmallFileSystem(const fs::path& at, const std::string& size) : at_(at) {
    fs::create_directories(at);
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    error_ = mounted_ ? 0 : errno;
  }
  ~SmallFileSystem() {
    if (mounted_) {
      ::umount2(at_.c_str(), MNT_DETACH);
    }
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  int error() const { return error_; }

 private:
  fs::path at_;
  bool mounted_ = false;
  int error_ = 0;
};

// Writes zeros to path until the file system is full.
void fillUp(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string zeros(4096, '\0');
  while (::write(fd, zeros.data(), zeros.size()) > 0) {
  }
  ::close(fd);
}

// Every way a save can fail for lack of room: the old bytes stay, in the same file, and nothing is
// left beside them. Rewritten in place, a shorter text needs no room and succeeds.
TEST(SaveFileSystemTest, AFullFileSystemKeepsTheOldBytes) {
  if (!isRoot()) {
    GTEST_SKIP() << "mounting a file system needs root";
  }
  const TempDir dir;
  const SmallFileSystem small(dir / "small", "1m");
  if (!small.mounted()) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(small.error());
  }
  const struct {
    const char* name;
    int stalePages;  // -1: none, and the old text compact
    bool hardLinked;
    bool full;  // filled up, leaving not even room for the new size
    int status;
  } cases[] = {
      {"replaced, new text longer", 0, false, false, kFailure},
      {"replaced, new text shorter", 200, false, false, kFailure},
      {"in place, new text longer", -1, true, true, kFailure},
      // In place, the whole new size must be free: a copy-on-write file system writes even the
      // bytes it overwrites into new blocks.
      {"in place, new text shorter", 200, true, true, kFailure},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // About 600 KB in a file system of 1 MB: no room for a second copy. Rewritten in place, the
    // new text must need more pages than the old one, so the old one is compact.
    ProjectShape shape{15000, std::max(c.stalePages, 0)};
    shape.compactOld = c.stalePages < 0;
    Project project(shape, dir / "small/project");
    project.reset(c.hardLinked);
    if (c.full) {
      fillUp(dir / "small/filler");
    }
    const ino_t inode = statusOf(project.qrc()).st_ino;
    const RunResult result = runTool(project.args());
    EXPECT_EQ(result.status, c.status) << result.out;
    if (c.status == kFailure) {
      EXPECT_EQ(result.out,
                "cannot write file " + project.uiPath() + ": No space left on device\n");
      EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "old");
    } else {
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
    }
    EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
    fs::remove_all(dir / "small/project");
    fs::remove(dir / "small/filler");
  }
}

// ulimit -f counts blocks of 512 bytes. A limit below both sizes fails the save cleanly; one
// between the new, shorter size and the old size lets it succeed.
TEST(SaveFileSystemTest, AFileSizeLimitFailsCleanlyOrIsMet) {
  const struct {
    const char* name;
    int stalePages;  // 3000 make the new text about 100 KB shorter
    bool hardLinked;
    bool limitBelowNewSize;
  } cases[] = {
      {"replaced, new text shorter, limit below both", 3000, false, true},
      {"replaced, new text longer, limit below both", 0, false, true},
      {"in place, new text shorter, limit below both", 3000, true, true},
      {"in place, new text longer, limit below both", 0, true, true},
      {"replaced, limit between the new and the old size", 3000, false, false},
      {"in place, limit between the new and the old size", 3000, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Project project({5000, c.stalePages});
    project.reset(c.hardLinked);
    const std::size_t newSize = project.newBytes().size();
    const std::size_t blocks = c.limitBelowNewSize
                                   ? std::min(newSize, project.oldBytes().size()) / 512 / 2
                                   : newSize / 512 + 20;
    ASSERT_LT(blocks * 512, project.oldBytes().size());
    const ino_t inode = statusOf(project.qrc()).st_ino;
    const RunResult result = runTool(project.args(), "ulimit -f " + std::to_string(blocks) + ";");
    if (c.limitBelowNewSize) {
      EXPECT_EQ(result.status, kFailure);
      EXPECT_EQ(result.out, "cannot write file " + project.uiPath() + ": File too large\n");
      EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "old");
      EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
    } else {
      EXPECT_EQ(result.status, 0) << result.out;
      EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
    }
    if (c.hardLinked) {
      EXPECT_EQ(readFile(project.link()), readFile(project.qrc()));
      EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
    }
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
  }
}

TEST(SaveFileSystemTest, AHardLinkedQrcIsRewrittenInPlaceUnderBothNames) {
  Project project({2000, 10});
  project.reset(true);
  const ino_t inode = statusOf(project.qrc()).st_ino;
  const RunResult result = runTool(project.args());
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
  EXPECT_EQ(heldContent(project.link(), project.oldBytes(), project.newBytes()), "new");
  EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
  EXPECT_EQ(statusOf(project.link()).st_ino, inode);
  EXPECT_EQ(statusOf(project.qrc()).st_nlink, 2u);
  EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
}

// app.qrc -> links/middle.qrc -> ../store/real.qrc: the file at the end of the chain is replaced,
// both links stay links to the same names, and the new file was made in the store, where the
// leftovers of this .qrc are removed and other names are left alone.
TEST(SaveFileSystemTest, ASymlinkedQrcReplacesTheFileAtTheEndOfTheChain) {
  Project project({2000, 10});
  project.reset();
  const fs::path real = project.root() / "store/real.qrc";
  fs::create_directories(real.parent_path());
  fs::create_directories(project.root() / "links");
  fs::rename(project.qrc(), real);
  fs::create_symlink("../store/real.qrc", project.root() / "links/middle.qrc");
  fs::create_symlink("links/middle.qrc", project.qrc());
  const std::set<std::string> kept = {
      "real.qrc",
      ".real.qrc.resweaver-AbC12",    // one character short
      ".real.qrc.resweaver-AbC1234",  // one too many
      ".real.qrc.resweaver-AbC_23",   // not a letter or digit
      ".other.qrc.resweaver-AbC123",  // another .qrc's
      "real.qrc.resweaver-AbC123",    // without the leading dot
  };
  for (const std::string& name : kept) {
    if (name != "real.qrc") {
      writeFile(real.parent_path() / name, "someone else's");
    }
  }
  writeFile(real.parent_path() / ".real.qrc.resweaver-AbC123", "left by a killed run");
  writeFile(real.parent_path() / ".real.qrc.resweaver-000000", "left by a killed run");
  // Beside the first link, a name that would be the link's own leftover is not this file's.
  writeFile(project.root() / ".app.qrc.resweaver-AbC123", "not a leftover of real.qrc");
  const ino_t inode = statusOf(real).st_ino;

  const RunResult result = runTool(project.args());
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(heldContent(real, project.oldBytes(), project.newBytes()), "new");
  EXPECT_NE(statusOf(real).st_ino, inode) << "the file was not replaced";
  ASSERT_TRUE(fs::is_symlink(project.qrc()));
  EXPECT_EQ(fs::read_symlink(project.qrc()), "links/middle.qrc");
  ASSERT_TRUE(fs::is_symlink(project.root() / "links/middle.qrc"));
  EXPECT_EQ(fs::read_symlink(project.root() / "links/middle.qrc"), "../store/real.qrc");
  EXPECT_EQ(entriesOf(real.parent_path()), kept);
  EXPECT_EQ(entriesOf(project.root() / "links"), std::set<std::string>{"middle.qrc"});
  EXPECT_EQ(entriesOf(project.root()), (std::set<std::string>{"app.qrc", "html", "links", "store",
                                                              ".app.qrc.resweaver-AbC123"}));
}

// A folder that its user cannot write to holds a .qrc that the user can: the save happens in place.
TEST(SaveFileSystemTest, AWritableQrcInAReadOnlyFolderIsRewrittenInPlace) {
  Project project({2000, 10});
  project.reset();
  openToEveryone(project.root());
  fs::permissions(project.qrc(), fs::perms::all);
  fs::permissions(project.root(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const ino_t inode = statusOf(project.qrc()).st_ino;
  const RunResult result = runTool(project.args(), asUnprivileged());
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
  EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
  EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
}

// A read-only .qrc of the user's own, in a folder that the user can write, is not replaced either:
// no new file appears beside it, even for a moment.
TEST(SaveFileSystemTest, AReadOnlyQrcOfTheUsersOwnIsLeftAlone) {
  Project project({2000, 10});
  project.reset();
  openToEveryone(project.root());
  if (isRoot()) {
    ASSERT_EQ(::chown(project.root().c_str(), nobodyUser(), nobodyGroup()), 0);
    ASSERT_EQ(::chown(project.qrc().c_str(), nobodyUser(), nobodyGroup()), 0);
  }
  fs::permissions(project.qrc(), fs::perms::owner_read | fs::perms::group_read);
  const ino_t inode = statusOf(project.qrc()).st_ino;
  const struct stat folder = statusOf(project.root());
  const RunResult result = runTool(project.args(), asUnprivileged());
  EXPECT_EQ(result.status, kFailure);
  EXPECT_EQ(result.out, "cannot write file " + project.uiPath() + ": Permission denied\n");
  EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "old");
  EXPECT_EQ(statusOf(project.qrc()).st_ino, inode);
  EXPECT_TRUE(sameTime(statusOf(project.root()).st_mtim, folder.st_mtim));
  EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
}

// A root run replaces a .qrc that belongs to someone else: the new file gets the old owner, group,
// mode (set-ID bits included, which a change of owner clears) and attributes, and no ACL that the
// folder's default would give it.
TEST(SaveFileSystemTest, AReplacedQrcKeepsOwnerModeAndAttributes) {
  if (!isRoot()) {
    GTEST_SKIP() << "giving files away needs root";
  }
  const struct {
    const char* name;
    uid_t uid;
    gid_t gid;
    mode_t mode;
  } cases[] = {
      {"nobody's, 0640", nobodyUser(), nobodyGroup(), 0640},
      {"nobody's, set-ID bits", nobodyUser(), nobodyGroup(), 06750},
      {"root's, read-only", 0, 0, 0400},
      {"root's user, nobody's group", 0, nobodyGroup(), 0664},
  };
  for (bool withAcl : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (withAcl ? ", folder with a default ACL" : ""));
      Project project({2000, 10});
      if (withAcl && !giveDefaultAcl(project.root())) {
        GTEST_SKIP() << "no ACLs on this file system";
      }
      project.reset();
      ASSERT_EQ(::chown(project.qrc().c_str(), c.uid, c.gid), 0);
      ASSERT_EQ(::chmod(project.qrc().c_str(), c.mode), 0);
      const bool attributes = ::setxattr(project.qrc().c_str(), "user.origin", "kept", 4, 0) == 0;
      const Metadata before = metadataOf(project.qrc());
      EXPECT_EQ(before.attributes.count("user.origin"), attributes && kCarriesAttributes ? 1u : 0u);
      EXPECT_EQ(before.attributes.count("system.posix_acl_access"), 0u);
      const ino_t inode = statusOf(project.qrc()).st_ino;
      const RunResult result = runTool(project.args());
      EXPECT_EQ(result.status, 0) << result.out;
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(heldContent(project.qrc(), project.oldBytes(), project.newBytes()), "new");
      EXPECT_NE(statusOf(project.qrc()).st_ino, inode) << "the file was not replaced";
      EXPECT_EQ(metadataOf(project.qrc()), before);
      EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// What is written.

// The old bytes against the new: any difference, wherever it is, and a difference in size alone,
// gets exactly the new bytes written; the same bytes leave the file and its folder untouched.
TEST(SaveContentTest, WritesExactlyTheNewBytesWheneverTheyDiffer) {
  const struct {
    const char* name;
    bool assetsFirst;
    std::string (*old)(const std::string& fresh);
  } cases[] = {
      {"old bytes are the new ones and a comment", false,
       [](const std::string& fresh) { return fresh + "<!-- trailing -->\n"; }},
      {"old bytes are the new ones and 3 MB more", false,
       [](const std::string& fresh) { return fresh + "<!--" + std::string(3u << 20, '-') + ">"; }},
      {"same size, one byte differs at the start", false,
       [](const std::string& fresh) {
         std::string old = fresh;
         old[old.find("index.html")] = 'j';
         return old;
       }},
      {"same size, one byte differs at the end", true,
       [](const std::string& fresh) {
         std::string old = fresh;
         old[old.rfind("index.html")] = 'j';
         return old;
       }},
      {"same bytes", false, [](const std::string& fresh) { return fresh; }},
  };
  for (bool hardLinked : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (hardLinked ? ", in place" : ", replaced"));
      ProjectShape shape{100000, 0};
      shape.assetsFirst = c.assetsFirst;
      Project project(shape);
      project.setOldBytes(c.old(project.newBytes()));
      project.reset(hardLinked);
      const struct stat file = statusOf(project.qrc());
      const struct stat folder = statusOf(project.root());
      const RunResult result = runTool(project.args());
      EXPECT_EQ(result.status, 0) << result.out;
      EXPECT_EQ(result.err, "");
      const std::string written = readFile(project.qrc());
      EXPECT_TRUE(written == project.newBytes()) << firstDifference(written, project.newBytes());
      if (project.oldBytes() == project.newBytes()) {
        const struct stat after = statusOf(project.qrc());
        EXPECT_EQ(after.st_ino, file.st_ino);
        EXPECT_TRUE(sameTime(after.st_mtim, file.st_mtim));
        EXPECT_TRUE(sameTime(after.st_ctim, file.st_ctim));
        // No new file was made beside it, even for a moment.
        EXPECT_TRUE(sameTime(statusOf(project.root()).st_mtim, folder.st_mtim));
      }
      if (hardLinked) {
        EXPECT_EQ(statusOf(project.qrc()).st_ino, file.st_ino);
        EXPECT_TRUE(readFile(project.link()) == project.newBytes());
      }
      EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The lock.

// A script that holds the lock on the .qrc the way runs take it, says so by creating a file, waits
// two seconds, then replaces the .qrc by rename with a copy that has one more group, "/late".
const char kLateReplacer[] = R"(
import fcntl, os, sys, time
qrc, ready = sys.argv[1:3]
fd = os.open(qrc, os.O_RDONLY)
fcntl.flock(fd, fcntl.LOCK_EX)
open(ready, 'w').close()
time.sleep(2)
data = os.pread(fd, os.fstat(fd).st_size, 0)
at = data.rindex(b'</RCC>')
with open(qrc + '.swap', 'wb') as out:
    out.write(data[:at] + b'\t<qresource prefix="/late"/>\n' + data[at:])
os.rename(qrc + '.swap', qrc)
os.close(fd)
)";

// Shell text that waits until ready exists (giving up after a minute, failing).
std::string untilExists(const fs::path& ready) {
  return "for i in $(seq 6000); do [ -e " + quoted(ready.string()) +
         " ] && break; sleep 0.01; done; [ -e " + quoted(ready.string()) + " ]";
}

// Shell text that starts holder in the background and goes on once it has created ready.
std::string whileHeld(const std::string& holder, const fs::path& ready) {
  return holder + " & " + untilExists(ready) + " &&";
}

TEST(SaveLockTest, TellsOnceOnStandardErrorThatItWaitsForAnotherRun) {
  const TempDir markers;
  const struct {
    const char* name;
    bool replaces;
  } cases[] = {
      {"another process holds the lock", false},
      {"another process holds the lock, then replaces the file", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Project project({2000, 10});
    project.reset();
    const fs::path ready = markers / (std::string(c.replaces ? "replacing" : "holding"));
    const std::string qrc = quoted(project.qrc().string());
    const std::string holder =
        c.replaces
            ? "python3 -c " + quoted(kLateReplacer) + " " + qrc + " " + quoted(ready.string())
            : "flock " + qrc + " sh -c " +
                  quoted("touch " + quoted(ready.string()) + "; exec sleep 3");
    const RunResult result = runTool(project.args(), whileHeld(holder, ready));
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "waiting for another run on " + project.uiPath() + "\n");
    std::string expected = project.newBytes();
    if (c.replaces) {
      // The run locked the file that replaced the one it waited for, and read that one.
      expected.insert(expected.rfind("</RCC>"), "\t<qresource prefix=\"/late\"/>\n");
    }
    const std::string written = readFile(project.qrc());
    EXPECT_TRUE(written == expected) << firstDifference(written, expected);
    EXPECT_EQ(entriesOf(project.root()), project.cleanEntries());

    // Nobody else holds it now: not a word.
    project.reset();
    const RunResult alone = runTool(project.args());
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.out, "");
    EXPECT_EQ(alone.err, "");
  }
}

// A process that, over and over, takes the lock the way runs take it (locking, then checking that
// the name still leads to the locked file), and replaces the .qrc by rename with a copy that has a
// new group "/swap-<n>". It creates ready after its first replacement, stops once stop exists, and
// prints how many replacements it made. Between two replacements it pauses for a few
// milliseconds: without a pause it takes the lock again before any waiting run can, and starved
// runs give up.
const char kReplacer[] = R"(
import fcntl, os, sys, time
qrc, ready, stop = sys.argv[1:4]
count = 0
while not os.path.exists(stop):
    fd = os.open(qrc, os.O_RDONLY)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        held, named = os.fstat(fd), os.stat(qrc)
        if (held.st_dev, held.st_ino) != (named.st_dev, named.st_ino):
            continue
        data = os.pread(fd, held.st_size, 0)
        count += 1
        at = data.rindex(b'</RCC>')
        with open(qrc + '.swap', 'wb') as out:
            out.write(data[:at] + b'\t<qresource prefix="/swap-%d"/>\n' % count + data[at:])
        os.rename(qrc + '.swap', qrc)
        if count == 1:
            open(ready, 'w').close()
    finally:
        os.close(fd)
    time.sleep(0.005)
print(count)
)";

// 16 runs at once, each with its own HTML folder and prefix, while the file keeps being replaced
// under the same lock: every run's group and every replacement's group is in the final file.
TEST(SaveLockTest, ParallelRunsLoseNoGroupWhileTheFileIsReplacedUnderTheLock) {
  constexpr int kRuns = 16;
  constexpr int kPages = 4;
  constexpr int kRounds = 10;
  Project project({5000, 0});
  for (int run = 0; run < kRuns; ++run) {
    for (int page = 0; page < kPages; ++page) {
      writeFile(project.root() / ("html" + std::to_string(run)) / ("p" + std::to_string(page)), "");
    }
  }
  const TempDir markers;
  int replacements = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    project.reset();
    const fs::path ready = markers / ("ready" + std::to_string(round));
    const fs::path stop = markers / ("stop" + std::to_string(round));
    auto replacer = std::async(std::launch::async, [&] {
      return runCommand("python3 -c " + quoted(kReplacer) + " " + quoted(project.qrc().string()) +
                        " " + quoted(ready.string()) + " " + quoted(stop.string()));
    });
    // However this round ends, the replacer is told to stop before it is waited for.
    struct Stopper {
      fs::path stop;
      ~Stopper() {
        if (!fs::exists(stop)) {
          writeFile(stop, "");
        }
      }
    } stopper{stop};
    ASSERT_EQ(runCommand(untilExists(ready)).status, 0) << "the replacer did not start";
    std::vector<std::future<RunResult>> runs;
    for (int run = 0; run < kRuns; ++run) {
      runs.push_back(std::async(std::launch::async, [&, run] {
        const std::string n = std::to_string(run);
        return runTool({project.root().string(), "app", "html" + n, "/" + n});
      }));
    }
    std::vector<int> succeeded;
    for (int run = 0; run < kRuns; ++run) {
      const RunResult result = runs[static_cast<std::size_t>(run)].get();
      EXPECT_EQ(result.status, 0) << run << ": " << result.out;
      EXPECT_TRUE(result.err.empty() ||
                  result.err == "waiting for another run on " + project.uiPath() + "\n")
          << result.err;
      if (result.status == 0) {
        succeeded.push_back(run);
      }
    }
    writeFile(stop, "");
    const RunResult replaced = replacer.get();
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    const int count = std::stoi(replaced.out);
    replacements += count;

    const std::string written = readFile(project.qrc());
    for (int run : succeeded) {
      const std::string n = std::to_string(run);
      std::string group = "\t<qresource prefix=\"/" + n + "\">\n";
      const std::size_t at = written.find(group);
      if (at == std::string::npos) {
        ADD_FAILURE() << "the group of run " << n << " is lost";
        continue;
      }
      const std::string listing = written.substr(at, written.find("</qresource>", at) - at);
      for (int page = 0; page < kPages; ++page) {
        EXPECT_NE(listing.find("<file>html" + n + "/p" + std::to_string(page) + "</file>"),
                  std::string::npos)
            << n;
      }
    }
    for (int swap = 1; swap <= count; ++swap) {
      EXPECT_NE(written.find("<qresource prefix=\"/swap-" + std::to_string(swap) + "\"/>"),
                std::string::npos)
          << "the group of replacement " << swap << " is lost";
    }
    EXPECT_NE(written.find(project.assetsGroup()), std::string::npos);
    std::set<std::string> expected = {"app.qrc", "html"};
    for (int run = 0; run < kRuns; ++run) {
      expected.insert("html" + std::to_string(run));
    }
    EXPECT_EQ(entriesOf(project.root()), expected);
  }
  RecordProperty("replacements", replacements);
}

}  // namespace
}  // namespace resweaver
