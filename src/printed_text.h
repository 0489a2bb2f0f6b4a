// The printed document: the bytes of the new .qrc, held in large-page blocks so that it grows
// without copying. Given the old content, it compares the new bytes with the old ones as they come
// and keeps nothing while they are equal, so that a run that changes nothing never holds the new
// text beside the old one.
#ifndef RESWEAVER_PRINTED_TEXT_H_
#define RESWEAVER_PRINTED_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "large_pages.h"

namespace resweaver {

// Whether text files end their lines with CR LF, as a text-mode stream writes them on Windows.
#ifdef _WIN32
inline constexpr bool kCrLfLineEnds = true;
#else
inline constexpr bool kCrLfLineEnds = false;
#endif

// The old bytes of the file that the printed text will replace.
class OldContent {
 public:
  virtual ~OldContent() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly count bytes at offset, which lie within size(); throws on failure.
  virtual void readAt(char* data, std::size_t count, std::uint64_t offset) const = 0;
};

class PrintedText {
 public:
  // Keeps every byte.
  PrintedText();
  // Compares with old while the bytes are equal; with keepChanges false, it keeps nothing at all
  // and only finds out whether the text differs.
  explicit PrintedText(const OldContent& old, bool keepChanges = true);
  ~PrintedText();
  PrintedText(PrintedText&&) noexcept;
  PrintedText& operator=(PrintedText&&) noexcept;

  using value_type = char;  // for std::back_inserter

  // Appends bytes; on Windows every line feed becomes CR LF.
  void append(std::string_view bytes) {
    if (bytes.empty()) {
      return;  // an empty view may hold no pointer at all, which memcpy must not see
    }
    // if constexpr: a condition with a constant part is a warning of its own for MSVC (C4127).
    if constexpr (!kCrLfLineEnds) {
      if (bytes.size() <= limit_ - used_) {
        std::memcpy(blocks_.back().get() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        size_ += bytes.size();
        return;
      }
    }
    appendSlowly(bytes);
  }
  void append(char c) { append(std::string_view(&c, 1)); }
  void push_back(char c) { append(c); }

  // Ends the text. Afterwards, with old content: whether the text equals it byte for byte.
  void finish();
  bool unchanged() const { return unchanged_; }

  std::uint64_t size() const { return size_; }
  // The kept bytes, block by block: the whole text, unless it was only compared.
  std::vector<std::string_view> blocks() const;
  std::string str() const;

 private:
  void appendSlowly(std::string_view bytes);
  void appendRaw(std::string_view bytes);
  std::size_t limit() const;
  void blockFull();
  void keepFromHere();

  // While comparing, the bytes are held in steps of about 1/128 of the old content (4 to 64 KiB):
  // small enough to keep a small run's memory, large enough to read a large file in few calls.
  static std::size_t compareStep(std::uint64_t oldSize);
  std::size_t compareStep_ = 0;

  struct Release {
    void operator()(char* block) const { releaseLarge(block); }
  };
  using Block = std::unique_ptr<char[], Release>;
  Block newBlock();

  std::vector<Block> blocks_;
  std::size_t used_ = 0;    // bytes used in the last block
  std::size_t limit_ = 0;   // how many it may hold before it is compared or full
  std::uint64_t size_ = 0;  // bytes appended in all
  const OldContent* old_ = nullptr;
  bool keepChanges_ = true;
  bool comparing_ = false;  // the bytes so far equal the old ones; only the last block is held
  bool unchanged_ = false;
  std::vector<char> oldBytes_;  // the old bytes that the held ones are compared with
};

}  // namespace resweaver

#endif  // RESWEAVER_PRINTED_TEXT_H_
