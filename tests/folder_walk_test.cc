#include "folder_walk.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::asUnprivileged;
using testing::openToEveryone;
using testing::quoted;
using testing::runCommand;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

std::vector<std::string> walk(const fs::path& folder, bool sorted = false) {
  std::vector<std::string> found;
  walkFolder(folder, sorted,
             {[&](const WalkEntry& entry) {
                found.push_back(std::string(entry.path) + (entry.link ? " link" : ""));
                // The names below the folder follow a separator.
                EXPECT_EQ(entry.path[entry.below - 1], '/');
                EXPECT_NE(entry.path[entry.below], '/');
              },
              {}});
  return found;
}

std::vector<std::string> iterate(const fs::path& folder) {
  std::vector<std::string> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) {
      found.push_back(entry.path().string() + (entry.is_symlink() ? " link" : ""));
    }
  }
  return found;
}

// What the probe prints, run with prefix (a user, an LD_PRELOAD) before it.
std::string probe(const std::string& way, const fs::path& folder, const std::string& prefix = "") {
  const testing::RunResult result =
      runCommand(prefix + " " + quoted(WALK_PROBE) + " " + way + " " + quoted(folder.string()));
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}

class FolderWalkTest : public ::testing::Test {
 protected:
  FolderWalkTest() {
    for (const char* name : {"html/index.html", "html/.hidden", "html/b/c/d.txt", "html/a/x",
                             "html/a-b", "html/a.b", "html/Z", "outside/file.txt"}) {
      writeFile(dir / name, name);
    }
    fs::create_directories(dir / "html/empty");
    fs::create_symlink("../outside/file.txt", dir / "html/to_file");
    fs::create_symlink("nowhere", dir / "html/dangling");
    fs::create_symlink("../outside", dir / "html/to_folder");
    fs::create_symlink("html", dir / "html_link");
    openToEveryone(dir.path());
  }

  TempDir dir;
};

TEST_F(FolderWalkTest, VisitsWhatTheStandardIteratorVisitsInItsOrder) {
  for (const fs::path& folder : {dir / "html", fs::path(dir / "html/"), dir / "html_link",
                                 fs::path(dir.path().string() + "//html//")}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(walk(folder), iterate(folder));
  }
}

TEST_F(FolderWalkTest, SortsEachFolderByName) {
  const fs::path html = dir / "html";
  const std::string h = html.string();
  EXPECT_EQ(walk(html, true),
            (std::vector<std::string>{h + "/.hidden", h + "/Z", h + "/a/x", h + "/a-b", h + "/a.b",
                                      h + "/b/c/d.txt", h + "/dangling link", h + "/index.html",
                                      h + "/to_file link"}));
}

TEST_F(FolderWalkTest, FindsTypesWhereTheListingGivesNone) {
  // Under AddressSanitizer, its runtime would insist on coming first.
  const std::string preload =
      "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + quoted(UNKNOWN_TYPES_PRELOAD);
  for (const fs::path& folder : {dir / "html", dir / "html_link"}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(probe("walk", folder, preload), probe("iterator", folder));
  }
}

#if defined(__GLIBCXX__)
constexpr bool kLibraryTextsAreOurs = true;
#else
constexpr bool kLibraryTextsAreOurs = false;
#endif

// As a user that permissions apply to, every failure comes where the standard iterator's comes,
// after the same entries. Its text is the tool's own, the one libstdc++ gives; other standard
// libraries (libc++) word theirs differently.
TEST_F(FolderWalkTest, FailsAsTheStandardIteratorFails) {
  const fs::path html = dir / "html";
  const auto expectSame = [&](const char* what, const fs::path& folder, const std::string& error) {
    SCOPED_TRACE(what);
    const std::string expected = probe("iterator", folder, asUnprivileged());
    const std::string walked = probe("walk", folder, asUnprivileged());
    const std::size_t failure = expected.find("error: ");
    ASSERT_NE(failure, std::string::npos) << expected;
    EXPECT_EQ(walked, expected.substr(0, failure) + "error: filesystem error: " + error + "\n");
    if (kLibraryTextsAreOurs) {
      EXPECT_EQ(walked, expected);
    }
  };
  const std::string h = html.string();
  fs::permissions(html, fs::perms::others_read, fs::perm_options::remove);
  expectSame("an unreadable folder", html,
             "recursive directory iterator cannot open directory: Permission denied [" + h + "]");
  fs::permissions(html, fs::perms::others_read, fs::perm_options::add);
  fs::permissions(html / "b", fs::perms::others_all, fs::perm_options::remove);
  expectSame("an unreadable subfolder", html,
             "cannot increment recursive directory iterator: Permission denied");
  fs::permissions(html / "b", fs::perms::others_all, fs::perm_options::add);
  fs::create_symlink("loop", html / "loop");
  expectSame("a link to itself", html,
             "status: Too many levels of symbolic links [" + h + "/loop]");
  fs::remove(html / "loop");
  expectSame("a missing folder", dir / "missing",
             "recursive directory iterator cannot open directory: No such file or directory [" +
                 (dir / "missing").string() + "]");
  expectSame("a file", html / "index.html",
             "recursive directory iterator cannot open directory: Not a directory [" + h +
                 "/index.html]");
}

TEST_F(FolderWalkTest, FailsAtAFolderThatVanishedAfterTheListing) {
  const fs::path html = dir / "html";
  std::string message;
  try {
    walkFolder(html, true, {[&](const WalkEntry&) { fs::remove_all(html / "b"); }, {}});
  } catch (const fs::filesystem_error& error) {
    message = error.what();
  }
  EXPECT_EQ(message,
            "filesystem error: cannot increment recursive directory iterator: No such file or "
            "directory");
}

// A folder whose listing takes several reads, with names that begin like "." and "..".
TEST_F(FolderWalkTest, WalksALongListingAndNamesThatBeginWithDots) {
  const fs::path many = dir / "many";
  for (int i = 0; i < 700; ++i) {  // 64 KiB hold fewer than 300 of these names
    writeFile(many / (std::to_string(i) + std::string(200, 'n')), "");
  }
  for (const char* name : {"...", "..x", ".x"}) {
    writeFile(many / name, "");
  }
  std::vector<std::string> expected = iterate(many);
  EXPECT_EQ(walk(many), expected);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(walk(many, true), expected);
}

// A folder swapped for a link to a folder outside between the listing and its opening is not
// entered: the walk fails there, or passes it by, but lists nothing from outside. At the first
// entry, every folder beside the one it lies in is swapped; each holds one file, so none of them
// has been entered yet.
TEST_F(FolderWalkTest, EntersNoLinkThatReplacedAFolderAfterTheListing) {
  const std::vector<std::string> names = {"f1", "f2", "f3", "f4"};
  for (bool sorted : {false, true}) {
    SCOPED_TRACE(sorted ? "sorted" : "in listing order");
    const fs::path html = dir / (sorted ? "sorted" : "listed");
    for (const std::string& name : names) {
      writeFile(html / name / "page.html", "");
    }
    std::vector<std::string> found;
    try {
      const WalkVisitor swapping{
          [&](const WalkEntry& entry) {
            for (const std::string& name : names) {
              if (found.empty() &&
                  std::string(entry.path).find("/" + name + "/") == std::string::npos) {
                fs::remove_all(html / name);
                fs::create_symlink(dir / "outside", html / name);
              }
            }
            found.emplace_back(entry.path);
          },
          {}};
      walkFolder(html, sorted, swapping);
    } catch (const fs::filesystem_error&) {
    }
    EXPECT_FALSE(found.empty());
    for (const std::string& path : found) {
      EXPECT_EQ(path.find("file.txt"), std::string::npos) << path;
    }
  }
}

}  // namespace
}  // namespace resweaver
