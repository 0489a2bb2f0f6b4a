#include "qrc_file.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

TEST(QrcFileTest, SaveRewritesTheFileInPlace) {
  const TempDir dir;
  const fs::path target = dir / "real.qrc";
  const fs::path linkPath = dir / "link.qrc";
  writeFile(target, std::string(1000, 'x'));
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real.qrc", linkPath);
  struct stat before;
  ASSERT_EQ(::stat(target.c_str(), &before), 0);

  saveQrc(linkPath.string(), PrintedText("<RCC/>\n\n"));
  EXPECT_EQ(readFile(target), "<RCC/>\n\n");
  EXPECT_TRUE(fs::is_symlink(linkPath));
  struct stat after;
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);

  saveQrc(target.string(), PrintedText(std::string(5000, 'y')));
  EXPECT_EQ(readFile(target), std::string(5000, 'y'));

  // A file that vanished after loading is created again.
  fs::remove(target);
  saveQrc(target.string(), PrintedText("<a/>\n\n"));
  EXPECT_EQ(readFile(target), "<a/>\n\n");
}

}  // namespace
}  // namespace resweaver
