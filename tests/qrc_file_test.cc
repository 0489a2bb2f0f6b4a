#include "qrc_file.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::readFile;
using ::testing::StrEq;
using testing::TempDir;
using ::testing::ThrowsMessage;
using testing::writeFile;
namespace fs = std::filesystem;

// Loads path as a run does and saves text as its new content.
void save(const fs::path& path, const std::string& text) {
  LockedQrc qrc(path.string(), Access::kUpdate);
  qrc.load();
  PrintedText out(qrc);
  out.append(text);
  out.finish();
  qrc.save(out);
}

struct stat statusOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0);
  return status;
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(QrcFileTest, ReplacesTheFileAndKeepsItsMode) {
  const TempDir dir;
  const fs::path qrc = dir / "app.qrc";
  writeFile(qrc, std::string(1000, 'x'));
  fs::permissions(qrc, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  for (const std::string& text : {std::string("<RCC/>\n\n"), std::string(5u << 20, 'y')}) {
    const struct stat before = statusOf(qrc);
    save(qrc, text);
    EXPECT_EQ(readFile(qrc), text);
    EXPECT_EQ(statusOf(qrc).st_mode, before.st_mode);
    EXPECT_NE(statusOf(qrc).st_ino, before.st_ino);
  }
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"app.qrc"});
}

TEST(QrcFileTest, ReplacesTheTargetOfASymbolicLink) {
  const TempDir dir;
  writeFile(dir / "real/app.qrc", "old");
  fs::create_directories(dir / "project");
  fs::create_symlink("../real/app.qrc", dir / "project/app.qrc");
  save(dir / "project/app.qrc", "new");
  EXPECT_TRUE(fs::is_symlink(dir / "project/app.qrc"));
  EXPECT_EQ(readFile(dir / "real/app.qrc"), "new");
  EXPECT_EQ(namesIn(dir / "real"), std::vector<std::string>{"app.qrc"});
  EXPECT_EQ(namesIn(dir / "project"), std::vector<std::string>{"app.qrc"});
}

TEST(QrcFileTest, LeavesAnUnchangedFileAlone) {
  const TempDir dir;
  const fs::path qrc = dir / "app.qrc";
  const std::string text(3u << 20, 'z');  // more than one block
  writeFile(qrc, text);
  const struct stat before = statusOf(qrc);
  ::usleep(20000);
  save(qrc, text);
  const struct stat after = statusOf(qrc);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(QrcFileTest, CutsAnOldFileThatGoesOnAfterTheNewBytes) {
  const TempDir dir;
  const fs::path qrc = dir / "app.qrc";
  for (const std::string& tail : {std::string("<!-- more -->\n"), std::string(3u << 20, 't')}) {
    const std::string text(2u << 20, 'n');
    writeFile(qrc, text + tail);
    save(qrc, text);
    EXPECT_EQ(readFile(qrc), text);
  }
}

TEST(QrcFileTest, RewritesAHardLinkedFileInPlace) {
  const TempDir dir;
  writeFile(dir / "app.qrc", std::string(100, 'o'));
  fs::create_hard_link(dir / "app.qrc", dir / "other.qrc");
  const struct stat before = statusOf(dir / "app.qrc");
  for (const std::string& text : {std::string(10, 's'), std::string(3u << 20, 'l')}) {
    save(dir / "app.qrc", text);
    EXPECT_EQ(readFile(dir / "app.qrc"), text);
    EXPECT_EQ(readFile(dir / "other.qrc"), text);
    EXPECT_EQ(statusOf(dir / "app.qrc").st_ino, before.st_ino);
  }
}

TEST(QrcFileTest, RemovesLeftoversOfItsOwnFileOnly) {
  const TempDir dir;
  writeFile(dir / "app.qrc", "<RCC/>");
  const std::vector<std::string> kept = {".app.qrc.backup", ".app.qrc.resweaver-abc", "app.qrc",
                                         ".other.qrc.resweaver-x7Qp2Z",
                                         ".app.qrc.resweaver-x7Qp2Z~"};
  for (const std::string& name : kept) {
    writeFile(dir / name, "user's");
  }
  writeFile(dir / ".app.qrc.resweaver-x7Qp2Z", "leftover");
  writeFile(dir / ".app.qrc.resweaver-000000", "leftover");
  {
    const LockedQrc check((dir / "app.qrc").string(), Access::kCheck);
    EXPECT_EQ(namesIn(dir.path()).size(), kept.size() + 2);  // a check never writes
  }
  const LockedQrc qrc((dir / "app.qrc").string(), Access::kUpdate);
  std::vector<std::string> expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(namesIn(dir.path()), expected);
}

TEST(QrcFileTest, NamesTemporaryFilesAfterTheirQrc) {
  for (int i = 0; i < 100; ++i) {
    const std::string name = temporaryName("app.qrc");
    EXPECT_THAT(name, ::testing::MatchesRegex("\\.app\\.qrc\\.resweaver-[A-Za-z0-9]{6}"));
    EXPECT_TRUE(isTemporaryName(name, "app.qrc"));
    EXPECT_FALSE(isTemporaryName(name, "app.qr"));
    EXPECT_FALSE(isTemporaryName(name, "pp.qrc"));
  }
}

TEST(QrcFileTest, RefusesWhatCannotBeRead) {
  const TempDir dir;
  fs::create_directories(dir / "folder.qrc");
  const std::string folder = (dir / "folder.qrc").string();
  EXPECT_THAT([&] { LockedQrc qrc(folder, Access::kUpdate); },
              ThrowsMessage<std::runtime_error>(StrEq("cannot open file " + folder)));
  const std::string missing = (dir / "missing.qrc").string();
  EXPECT_THAT([&] { LockedQrc qrc(missing, Access::kCheck); },
              ThrowsMessage<std::runtime_error>(StrEq("cannot open file " + missing)));
  writeFile(dir / "nul.qrc", std::string("<a/>\0", 5));
  LockedQrc nul((dir / "nul.qrc").string(), Access::kUpdate);
  EXPECT_THAT([&] { nul.load(); }, ThrowsMessage<std::runtime_error>(
                                       StrEq("NUL byte in file " + (dir / "nul.qrc").string())));
}

}  // namespace
}  // namespace resweaver
