// File-system failures with the tool's own message text. The standard libraries word their
// filesystem_error messages differently (libc++ quotes the paths, libstdc++ does not), and the
// same failure must read the same on every platform:
//   filesystem error: <operation>: <reason> [<path>]
#ifndef RESWEAVER_FILE_SYSTEM_ERROR_H_
#define RESWEAVER_FILE_SYSTEM_ERROR_H_

#include <filesystem>
#include <string>
#include <system_error>

#include "error_text.h"

namespace resweaver {

class FileSystemError : public std::filesystem::filesystem_error {
 public:
  FileSystemError(const std::string& operation, int error)
      : filesystem_error(operation, std::error_code(error, std::generic_category())),
        message_("filesystem error: " + operation + ": " + errorText(error)) {}
  FileSystemError(const std::string& operation, const std::filesystem::path& path, int error)
      : filesystem_error(operation, path, std::error_code(error, std::generic_category())),
        message_("filesystem error: " + operation + ": " + errorText(error) + " [" +
                 path.string() + "]") {}

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace resweaver

#endif  // RESWEAVER_FILE_SYSTEM_ERROR_H_
