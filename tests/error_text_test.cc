#include "error_text.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace resweaver {
namespace {

#if defined(__GLIBC__)
constexpr bool kGnuLibc = true;
#else
constexpr bool kGnuLibc = false;
#endif

// The reasons read as on Linux with GNU libc, whichever C library the tool is built with.
TEST(ErrorTextTest, WordsReasonsAsGnuLibcDoes) {
  EXPECT_EQ(errorText(EIO), "Input/output error");
  EXPECT_EQ(errorText(ELOOP), "Too many levels of symbolic links");
  EXPECT_EQ(errorText(EMFILE), "Too many open files");
  EXPECT_EQ(errorText(ENOTSUP), "Operation not supported");
  EXPECT_EQ(errorText(EOPNOTSUPP), "Operation not supported");
  EXPECT_EQ(errorText(EDQUOT), "Disk quota exceeded");
}

// Built with GNU libc, every number up to the last POSIX one reads as its strerror(): the table
// holds its words, and the numbers it leaves out fall back to it.
TEST(ErrorTextTest, MatchesGnuLibcWhereItIsTheCLibrary) {
  if (!kGnuLibc) {
    GTEST_SKIP() << "built with another C library";
  }
  for (int error = 1; error < 200; ++error) {
    // Copied first: GNU libc builds the text of an unknown number in a buffer that its next call
    // frees.
    const std::string expected = std::strerror(error);
    EXPECT_EQ(errorText(error), expected) << error;
  }
}

}  // namespace
}  // namespace resweaver
