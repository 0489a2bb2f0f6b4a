#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace resweaver::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "resweaver-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  // Tests take permissions away; give them back so that everything can be removed.
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink()) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::remove_all(path_, error);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) {
    fs::create_directories(path.parent_path());
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::string quoted(const std::string& word) {
  std::string result = "'";
  for (char c : word) {
    result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return result + "'";
}

RunResult runCommand(const std::string& command) {
  const TempDir capture;
  const fs::path out = capture / "out";
  const fs::path err = capture / "err";
  const std::string line =
      "(" + command + ") >" + quoted(out.string()) + " 2>" + quoted(err.string()) + " </dev/null";
  const int status = std::system(line.c_str());
  if (status == -1 || !WIFEXITED(status)) {
    throw std::runtime_error("cannot run: " + command);
  }
  return {WEXITSTATUS(status), readFile(out), readFile(err)};
}

RunResult runTool(const std::vector<std::string>& args, const std::string& prefix) {
  std::string command = prefix + " " + quoted(RESWEAVER_BINARY);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  return runCommand(command);
}

std::string asUnprivileged() {
  return ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups" : "";
}

void openToEveryone(const fs::path& path) {
  for (fs::path folder = fs::absolute(path); folder != folder.root_path();
       folder = folder.parent_path()) {
    std::error_code ignored;  // folders owned by others stay as they are
    fs::permissions(folder,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add, ignored);
  }
}

}  // namespace resweaver::testing
