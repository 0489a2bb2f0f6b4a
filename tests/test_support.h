// Helpers shared by the tests: a fresh temporary folder per test, whole-file reads and writes, and
// running the built tool the way a user does.
#ifndef RESWEAVER_TEST_SUPPORT_H_
#define RESWEAVER_TEST_SUPPORT_H_

#include <filesystem>
#include <string>
#include <vector>

namespace resweaver::testing {

namespace fs = std::filesystem;

// A folder below the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string readFile(const fs::path& path);
// Writes bytes to path, creating the folders above it.
void writeFile(const fs::path& path, const std::string& bytes);

// The tool's exit status on failure: -1, as the shell sees it.
constexpr int kFailure = 255;

// What the build under test can do, from its system checks: exchange two names at once (so that a
// file replaced right before the rename is noticed), and carry Linux's extended attributes.
#if RESWEAVER_HAVE_RENAME_EXCHANGE || RESWEAVER_HAVE_SYS_RENAMEAT2 || RESWEAVER_HAVE_RENAME_SWAP
constexpr bool kExchangesNames = true;
#else
constexpr bool kExchangesNames = false;
#endif
#if RESWEAVER_HAVE_LINUX_XATTR
constexpr bool kCarriesLinuxAttributes = true;
#else
constexpr bool kCarriesLinuxAttributes = false;
#endif

struct RunResult {
  int status;       // the exit status as the shell sees it
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a shell command, capturing both outputs.
RunResult runCommand(const std::string& command);

// Runs the built tool with args. prefix is shell text put before the command, for example "cd
// /some/folder &&", "ulimit -f 1;" or a command that runs it as another user.
RunResult runTool(const std::vector<std::string>& args, const std::string& prefix = "");

// word quoted for the shell.
std::string quoted(const std::string& word);

// Shell text that makes the command after it run as an unprivileged user, so that file permissions
// apply even when the tests run as root.
std::string asUnprivileged();

// Makes path and every folder above it searchable by anyone, so an unprivileged run reaches it.
void openToEveryone(const fs::path& path);

}  // namespace resweaver::testing

#endif  // RESWEAVER_TEST_SUPPORT_H_
