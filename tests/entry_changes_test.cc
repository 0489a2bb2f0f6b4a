#include "entry_changes.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace resweaver {
namespace {

TEST(EntryChangesTest, ListsWhatWouldBeAddedAndRemoved) {
  const struct {
    const char* name;
    std::vector<FileEntry> before;
    std::vector<FileEntry> after;
    std::vector<std::string> lines;
  } cases[] = {
      {"added and removed",
       {{"a"}, {"old"}, {"b"}},
       {{"new"}, {"a"}, {"b"}, {"z"}},
       {"+ new", "+ z", "- old"}},
      {"renamed", {{"x/a.html"}}, {{"x/b.html"}}, {"+ x/b.html", "- x/a.html"}},
      {"all new", {}, {{"a"}, {"b"}}, {"+ a", "+ b"}},
      {"all gone", {{"a"}, {"b"}}, {}, {"- a", "- b"}},
      {"an entry listed twice counts twice",
       {{"a"}, {"a"}, {"b"}},
       {{"a"}, {"b"}, {"b"}},
       {"+ b", "- a"}},
      {"reordered",
       {{"b"}, {"a"}},
       {{"a"}, {"b"}},
       {"app.qrc: the entries stay the same; their order would change"}},
      {"the same entries",
       {{"a"}, {"b"}},
       {{"a"}, {"b"}},
       {"app.qrc: the entries stay the same; the layout would change"}},
      {"aliases given, changed and taken away",
       {{"h/a", "a"}, {"h/b", "b"}, {"h/c", "c"}},
       {{"h/a"}, {"h/b", "x/b"}, {"h/c", "c"}},
       {"+ h/a", "+ x/b <- h/b", "- a <- h/a", "- b <- h/b"}},
      {"the same entries with aliases",
       {{"h/a", "a"}},
       {{"h/a", "a"}},
       {"app.qrc: the entries stay the same; the layout would change"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describeChanges(c.before, c.after, "app.qrc", "/", true), c.lines);
  }
}

TEST(EntryChangesTest, SaysFirstThatTheGroupWouldBeAdded) {
  EXPECT_EQ(describeChanges({}, {{"h/a", "a"}, {"h/b"}}, "app.qrc", "/help", false),
            (std::vector<std::string>{"app.qrc: no group /help; a run would add one", "+ a <- h/a",
                                      "+ h/b"}));
  EXPECT_EQ(describeChanges({}, {}, "app.qrc", "/help", false),
            (std::vector<std::string>{"app.qrc: no group /help; a run would add one"}));
}

}  // namespace
}  // namespace resweaver
