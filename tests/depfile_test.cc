// What a depfile can name: each row was read back by Ninja 1.11 and GNU make 4.3 (a dependency
// that changes reruns the step, one that vanishes reruns it without an error).
#include "depfile.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace resweaver {
namespace {

TEST(DepfileTest, EscapesWhatBothReadAndRefusesTheRest) {
  const struct {
    const char* name;
    std::optional<std::string> written;
  } cases[] = {
      {"/p/html/index.html", "/p/html/index.html"},
      {"a b", "a\\ b"},
      {"h#x", "h\\#x"},
      {"d$x", "d$$x"},
      {"c:x", "c\\:x"},
      {"C:\\web\\a", "C\\:\\web\\a"},
      {"\xC3\xA9t\xC3\xA9 +,_.~-!@{})", "\xC3\xA9t\xC3\xA9\\ +,_.~-!@{})"},
      // Ninja ends a name there.
      {"a&b", std::nullopt},
      {"a'b", std::nullopt},
      {"a;b", std::nullopt},
      {"a\"b<c>|`^", std::nullopt},
      // make: a variable, a pattern, an archive member, wildcards, a home folder.
      {"a=b", std::nullopt},
      {"50%", std::nullopt},
      {"lib(x)", std::nullopt},
      {"a*", std::nullopt},
      {"a?", std::nullopt},
      {"[a]", std::nullopt},
      {"~a", std::nullopt},
      // Ninja: a backslash before a space, # or : escapes it; a colon at the end ends a target.
      {"a\\ b", std::nullopt},
      {"a\\", std::nullopt},
      {"a:", std::nullopt},
      {"line\nfeed", std::nullopt},
      {"tab\t", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(depfileName(c.name), c.written);
  }
}

TEST(DepfileTest, ReplacesWhatCannotBeWrittenByAPathThatNeverExists) {
  EXPECT_EQ(depfileText("out/a b.stamp", {"/p/x", "/p/a&b", "/p/x", "/p/y z"}),
            "out/a\\ b.stamp: \\\n  /p/x \\\n  /p/y\\ z \\\n"
            "  out/a\\ b.stamp/unwritable-name-in-depfile\n\n"
            "/p/x:\n/p/y\\ z:\nout/a\\ b.stamp/unwritable-name-in-depfile:\n");
  EXPECT_EQ(depfileText("t", {}), "t:\n\n");
  EXPECT_THROW(depfileText("a;b", {}), std::runtime_error);
}

}  // namespace
}  // namespace resweaver
