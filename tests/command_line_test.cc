#include "command_line.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace resweaver {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

CommandLine parse(std::vector<const char*> words) {
  words.insert(words.begin(), "resweaver");
  return parseCommandLine(static_cast<int>(words.size()), words.data());
}

TEST(CommandLineTest, TakesOptionsBeforeTheArguments) {
  const struct {
    const char* name;
    std::vector<const char*> words;
    bool check, sort, help, version;
    std::vector<std::string> arguments;
  } cases[] = {
      {"none", {"d", "app", "html", "/"}, false, false, false, false, {"d", "app", "html", "/"}},
      {"both",
       {"--check", "--sort", "d", "a", "h", "/"},
       true,
       true,
       false,
       false,
       {"d", "a", "h", "/"}},
      {"repeated", {"--sort", "--sort"}, false, true, false, false, {}},
      {"help and version", {"--version", "--help"}, false, false, true, true, {}},
      {"after the first argument, words are arguments",
       {"d", "--check", "h", "/", "--sort"},
       false,
       false,
       false,
       false,
       {"d", "--check", "h", "/", "--sort"}},
      {"-- ends the options",
       {"--sort", "--", "--check", "a", "h", "/"},
       false,
       true,
       false,
       false,
       {"--check", "a", "h", "/"}},
      {"only the first -- ends them", {"--", "--", "a"}, false, false, false, false, {"--", "a"}},
      {"one dash is an argument", {"-h", "a"}, false, false, false, false, {"-h", "a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandLine line = parse(c.words);
    EXPECT_EQ(line.check, c.check);
    EXPECT_EQ(line.sort, c.sort);
    EXPECT_EQ(line.help, c.help);
    EXPECT_EQ(line.version, c.version);
    EXPECT_EQ(line.arguments, c.arguments);
  }
}

TEST(CommandLineTest, RefusesUnknownOptions) {
  for (const char* word : {"--Check", "--sorted", "---", "--check=yes", "--help "}) {
    SCOPED_TRACE(word);
    EXPECT_THAT(
        [&] {
          parse({"--sort", word, "d", "a", "h", "/"});
        },
        ThrowsMessage<std::runtime_error>(StrEq(std::string("unknown option ") + word)));
  }
}

}  // namespace
}  // namespace resweaver
