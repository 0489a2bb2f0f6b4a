#include "printed_text.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace resweaver {
namespace {

class OldString : public OldContent {
 public:
  explicit OldString(std::string text) : text_(std::move(text)) {}
  std::uint64_t size() const override { return text_.size(); }
  void readAt(char* data, std::size_t count, std::uint64_t offset) const override {
    if (offset + count > text_.size()) {
      throw std::logic_error("read beyond the old content");
    }
    text_.copy(data, count, static_cast<std::size_t>(offset));
    ++reads;
  }
  mutable int reads = 0;

 private:
  std::string text_;
};

// Text of size bytes that differs from one position to the next.
std::string pattern(std::size_t size, char salt = 'a') {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i) {
    text[i] = static_cast<char>(static_cast<std::size_t>(salt) + i * 7 % 23);
  }
  return text;
}

// Appends text in pieces of varying sizes, as the printer does.
void appendInPieces(PrintedText& out, const std::string& text) {
  for (std::size_t at = 0, piece = 1; at < text.size(); at += piece, piece = piece * 3 % 4099 + 1) {
    out.append(std::string_view(text).substr(at, piece));
  }
  out.finish();
}

TEST(PrintedTextTest, FindsOutWhetherTheTextChangedAndKeepsItWhole) {
  const std::size_t block = kLargeBlockSize;
  const std::string old = pattern(2 * block + 70000);
  const auto changedAt = [&](std::size_t at) {
    std::string text = old;
    text[at] = '#';
    return text;
  };
  const struct {
    const char* name;
    std::string text;
    bool unchanged;
  } cases[] = {
      {"the same", old, true},
      {"first byte", changedAt(0), false},
      {"at the end of the first step", changedAt(64 * 1024 - 1), false},
      {"in the second block", changedAt(block + 5), false},
      {"at a block boundary", changedAt(block), false},
      {"last byte", changedAt(old.size() - 1), false},
      {"shorter", old.substr(0, old.size() - 1), false},
      {"shorter by whole blocks", old.substr(0, block), false},
      {"longer", old + "tail", false},
      {"empty", "", false},
      {"other", pattern(100, 'b'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const OldString oldContent(old);
    PrintedText kept(oldContent);
    appendInPieces(kept, c.text);
    EXPECT_EQ(kept.unchanged(), c.unchanged);
    EXPECT_EQ(kept.size(), c.text.size());
    EXPECT_EQ(kept.str(), c.unchanged ? "" : c.text);

    PrintedText compared(oldContent, /*keepChanges=*/false);
    appendInPieces(compared, c.text);
    EXPECT_EQ(compared.unchanged(), c.unchanged);
    EXPECT_EQ(compared.str(), "");
  }
}

TEST(PrintedTextTest, ComparesAnEmptyText) {
  const OldString empty("");
  PrintedText out(empty);
  out.finish();
  EXPECT_TRUE(out.unchanged());
  const OldString some("x");
  PrintedText other(some);
  other.finish();
  EXPECT_FALSE(other.unchanged());
  EXPECT_EQ(other.str(), "");
}

TEST(PrintedTextTest, KeepsEveryByteWithoutOldContent) {
  const std::string text = pattern(3 * kLargeBlockSize + 1);
  PrintedText out;
  appendInPieces(out, text);
  EXPECT_EQ(out.str(), text);
  EXPECT_EQ(out.blocks().size(), 4u);
}

}  // namespace
}  // namespace resweaver
