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
       {"d", "--check", "h", "/", "more"},
       false,
       false,
       false,
       false,
       {"d", "--check", "h", "/", "more"}},
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

TEST(CommandLineTest, TakesValuesAfterEqualsOrAsTheNextWord) {
  const CommandLine line =
      parse({"--base", "--exclude", "*.map", "--exclude=.*", "--require-group",
             "--output=out/a.qrc", "--depfile", "a.d", "--stamp", "--sort", "d", "a", "h", "/"});
  EXPECT_TRUE(line.base);
  EXPECT_TRUE(line.requireGroup);
  EXPECT_EQ(line.excludes, (std::vector<std::string>{"*.map", ".*"}));
  EXPECT_EQ(line.output, "out/a.qrc");
  EXPECT_EQ(line.depfile, "a.d");
  EXPECT_EQ(line.stamp, "--sort");  // a value may begin with --
  EXPECT_FALSE(line.sort);
  EXPECT_EQ(line.arguments, (std::vector<std::string>{"d", "a", "h", "/"}));
  EXPECT_EQ(parse({"--exclude=", "d"}).excludes, std::vector<std::string>{""});
  const CommandLine rcc = parse({"--rcc-depfile=r.d", "--rcc-target", "qrc.cpp", "d"});
  EXPECT_EQ(rcc.rccDepfile, "r.d");
  EXPECT_EQ(rcc.rccTarget, "qrc.cpp");
}

TEST(CommandLineTest, RefusesWhatWouldBeIgnoredOrMisread) {
  const struct {
    std::vector<const char*> words;
    const char* message;
  } cases[] = {
      {{"--sort", "--Check", "d", "a", "h", "/"}, "unknown option --Check"},
      {{"--sorted", "d", "a", "h", "/"}, "unknown option --sorted"},
      {{"---", "d", "a", "h", "/"}, "unknown option ---"},
      {{"--check=yes", "d", "a", "h", "/"}, "unknown option --check=yes"},
      {{"--help ", "d", "a", "h", "/"}, "unknown option --help "},
      {{"--exclude"}, "option --exclude needs a value"},
      {{"--output", "a", "--output=b", "d", "a", "h", "/"}, "option --output given twice"},
      {{"--rcc-target=a", "--rcc-target=b", "d"}, "option --rcc-target given twice"},
      {{"d", "a", "h", "/", "--check"}, "option --check must come before the arguments"},
      {{"d", "a", "h", "/", "x", "--sort"}, "option --sort must come before the arguments"},
      {{"--", "d", "a", "h", "/", "--"}, "option -- must come before the arguments"},
      {{"d", "a", "h", "/", "--nonsense"}, "option --nonsense must come before the arguments"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_THAT([&] { parse(c.words); }, ThrowsMessage<std::runtime_error>(StrEq(c.message)));
  }
}

}  // namespace
}  // namespace resweaver
