#include "text_arena.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace resweaver {
namespace {

// Each text is stored after its length. After the first text, the block has room for a text of 10
// bytes but not for its length too: that text must start a new block. Every text must lie inside
// its block and come back whole, in order.
TEST(TextArenaTest, KeepsEveryTextInsideItsBlock) {
  constexpr std::size_t kField = sizeof(std::size_t);
  const std::string first(kLargeBlockSize - kField - 12, 'a');
  const std::vector<std::pair<std::string, std::string>> added = {
      {first.substr(0, 100), first.substr(100)},
      {"0123456789", ""},
      {"", ""},
      {"", std::string(kLargeBlockSize, 'b')},  // longer than a block
      {"c", "d"},
  };
  TextArena arena;
  const char* blockStart = nullptr;
  std::size_t blockLength = 0;
  const char* end = nullptr;  // of the last text
  std::vector<std::string> expected;
  for (const auto& [head, tail] : added) {
    const std::string_view text = arena.add(head, tail);
    ASSERT_EQ(text, head + tail);
    if (text.data() - kField != end) {  // a new block
      blockStart = text.data() - kField;
      blockLength = std::max(kLargeBlockSize, kField + text.size());
    }
    end = text.data() + text.size();
    ASSERT_LE(end, blockStart + blockLength) << "past the block, at text " << expected.size();
    expected.push_back(head + tail);
  }
  std::vector<std::string> visited;
  arena.forEach([&](std::string_view text) { visited.emplace_back(text); });
  EXPECT_TRUE(visited == expected);
}

}  // namespace
}  // namespace resweaver
