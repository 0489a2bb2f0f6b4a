#include "folder_scan.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.h"

namespace resweaver {
namespace {

using ::testing::StrEq;
using testing::TempDir;
using ::testing::ThrowsMessage;
using testing::writeFile;
namespace fs = std::filesystem;

std::vector<std::string> scan(const fs::path& rootPath, const fs::path& htmlPath) {
  return entryTexts(rootPath, htmlPath, false);
}

// The straightforward scan: every entry resolved against the root through the file system.
std::vector<std::string> oracle(const fs::path& rootPath, const fs::path& htmlPath) {
  std::vector<std::string> texts;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(htmlPath)) {
    if (!entry.is_directory()) {
      texts.push_back(fs::relative(entry.path(), rootPath).string());
    }
  }
  return texts;
}

template <typename Entry>
std::vector<Entry> sorted(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end());
  return entries;
}

// A project with files at several depths, hidden files, awkward names and links of every kind.
class FolderScanTest : public ::testing::Test {
 protected:
  FolderScanTest() {
    for (const char* name :
         {"proj/app.qrc", "proj/html/index.html", "proj/html/.hidden", "proj/html/css/site.css",
          "proj/html/deep/a/b/c/d.txt", "proj/html/names/a&b's <x>.html",
          "proj/html/names/space name.html", "proj/html/names/\xC3\xA9t\xC3\xA9.html",
          "proj/html/names/\xFF\xFE.bin", "outside/file.txt", "outside/site/page.html"}) {
      writeFile(dir / name, name);
    }
    fs::create_directories(dir / "proj/html/img/empty");
    const fs::path links = dir / "proj/html/links";
    fs::create_directories(links);
    fs::create_symlink("../index.html", links / "to_file");
    fs::create_symlink("../../../outside/file.txt", links / "to_outside");
    fs::create_symlink(dir / "outside/site/page.html", links / "absolute");
    fs::create_symlink("nowhere", links / "dangling");
    fs::create_symlink("../css", links / "to_folder");
    fs::create_symlink("../..", links / "to_ancestor");
    fs::create_directory_symlink("html", dir / "proj/html_link");
    fs::create_directory_symlink("proj", dir / "proj_link");
  }

  TempDir dir;
};

TEST_F(FolderScanTest, GivesTheTextsOfStdFilesystemRelative) {
  const fs::path proj = dir / "proj";
  const struct {
    fs::path root;
    fs::path html;
  } cases[] = {
      {proj, proj / "html"},
      {proj.string() + "/", proj / "html"},
      {proj / "../proj", proj / "html/../html/"},
      {proj, proj / "html_link"},
      {dir / "proj_link", dir / "proj_link/html"},
      {proj / "html/deep/a", proj / "html"},
      {proj / "html", proj / "html"},
      {proj, proj},
      {proj, dir / "outside"},
      {proj / "html/names", dir / "outside"},
      {dir / "proj/missing", proj / "html/css"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("root " + c.root.string() + ", html " + c.html.string());
    const std::vector<std::string> expected = oracle(c.root, c.html);
    EXPECT_EQ(scan(c.root, c.html), expected);
    // Sorted: the same texts, in order, whatever the layout.
    const std::vector<std::string> inOrder = entryTexts(c.root, c.html, true);
    EXPECT_TRUE(std::is_sorted(inOrder.begin(), inOrder.end(), sortsBefore));
    EXPECT_EQ(sorted(inOrder), sorted(expected));
  }
}

// Each entry's alias is its own path below the HTML folder, links included; sorted with aliases,
// the entries follow them.
TEST_F(FolderScanTest, GivesEachEntryItsPathBelowTheHtmlFolder) {
  const fs::path proj = dir / "proj";
  using Entries = std::vector<std::pair<std::string, std::string>>;  // alias, text
  for (const fs::path& html : {proj / "html", proj / "html_link", dir / "outside"}) {
    SCOPED_TRACE(html);
    Entries expected;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(html)) {
      if (!entry.is_directory()) {
        expected.emplace_back(entry.path().lexically_relative(html).generic_string(),
                              fs::relative(entry.path(), proj).string());
      }
    }
    for (const bool inOrder : {false, true}) {
      ScanOptions options;
      options.sorted = inOrder;
      options.aliases = true;
      Entries entries;
      scanFolder(proj, html, options, [&](const EntryText& text) {
        entries.emplace_back(std::string(text.alias), text.str());
      });
      if (inOrder) {
        EXPECT_TRUE(std::is_sorted(
            entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return sortsBefore(a.first, b.first); }));
        EXPECT_EQ(sorted(entries), sorted(expected));
      } else {
        EXPECT_EQ(entries, expected);
      }
    }
  }
}

TEST_F(FolderScanTest, WorksWithARelativeRoot) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  std::vector<std::string> texts;
  std::vector<std::string> expected;
  try {
    texts = scan("proj", "proj/html");
    expected = oracle("proj", "proj/html");
  } catch (...) {
    fs::current_path(previous);
    throw;
  }
  fs::current_path(previous);
  EXPECT_EQ(texts, expected);
}

TEST_F(FolderScanTest, ListsEveryFileAndLinkButNoFolder) {
  EXPECT_EQ(sorted(scan(dir / "proj", dir / "proj/html")),
            sorted(std::vector<std::string>{
                "../outside/file.txt", "../outside/site/page.html", "html/.hidden",
                "html/css/site.css", "html/deep/a/b/c/d.txt", "html/index.html", "html/index.html",
                "html/links/dangling", "html/names/a&b's <x>.html", "html/names/space name.html",
                "html/names/\xC3\xA9t\xC3\xA9.html", "html/names/\xFF\xFE.bin"}));
}

TEST_F(FolderScanTest, RefusesAnEntryWithoutRelativeForm) {
  // A relative root that does not exist stays relative, and an absolute entry has no form relative
  // to it.
  const std::string html = (dir / "proj/html/css").string();
  EXPECT_THAT([&] { scan("no/such/root", html); },
              ThrowsMessage<std::runtime_error>(
                  StrEq("cannot make " + html + "/site.css relative to no/such/root")));
}

TEST_F(FolderScanTest, ResolvesTheRootOnlyWhenThereIsAnEntry) {
  fs::create_symlink("loop", dir / "loop");
  const fs::path root = dir / "loop/proj";
  EXPECT_TRUE(scan(root, dir / "proj/html/img").empty());
  EXPECT_THROW(oracle(root, dir / "proj/html/css"), fs::filesystem_error);
  EXPECT_THAT(
      [&] { scan(root, dir / "proj/html/css"); },
      ThrowsMessage<fs::filesystem_error>(StrEq(
          "filesystem error: status: Too many levels of symbolic links [" + root.string() + "]")));
}

TEST_F(FolderScanTest, EndsAtALinkToItself) {
  fs::create_symlink("self", dir / "proj/html/self");
  const std::string self = (dir / "proj/html/self").string();
  EXPECT_THAT([&] { scan(dir / "proj", dir / "proj/html"); },
              ThrowsMessage<fs::filesystem_error>(StrEq(
                  "filesystem error: status: Too many levels of symbolic links [" + self + "]")));
}

TEST(SortOrderTest, SortsComponentByComponentBytewise) {
  // Each list is in sorted order.
  const std::vector<std::vector<std::string>> lists = {
      {"a/b", "a-b", "a.b"},      // the separator before every other byte
      {"a/z/z", "a/zz", "ab"},    // a folder's files stay together
      {"A", "B", "a", "b"},       // bytewise: upper case first
      {"a", "a/b"},               // a prefix first
      {"z", "\xC3\xA9", "\xFF"},  // bytes above 0x7F after ASCII
      {"./y", "../x", "html/a"},  // "." is a prefix of ".."
  };
  for (const auto& list : lists) {
    SCOPED_TRACE(list.front());
    for (std::size_t i = 0; i < list.size(); ++i) {
      for (std::size_t j = 0; j < list.size(); ++j) {
        EXPECT_EQ(sortsBefore(list[i], list[j]), i < j) << list[i] << " " << list[j];
      }
    }
  }
}

}  // namespace
}  // namespace resweaver
