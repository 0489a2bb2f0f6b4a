#include "qrc_file.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The save itself is tested on the built tool (run_save_test.cc), under real failures.
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

}  // namespace
}  // namespace resweaver
