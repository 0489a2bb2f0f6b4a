// What the .qrc file unit needs from the platform: the file opened for the save, with positioned
// reads and writes, reservation and truncation. Implemented once per platform.
#ifndef RESWEAVER_QRC_FILE_PLATFORM_H_
#define RESWEAVER_QRC_FILE_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace resweaver {

// The error of the system call that failed last.
std::error_code lastError();

// Each operation returns whether it succeeded, and lastError() tells why not; nothing throws. The
// destructor closes a file that close() did not, on a failure path where the first error is the
// one to report.
class SaveFile {
 public:
  // Opens path for reading and writing, creating it if it vanished.
  explicit SaveFile(const std::string& path);
  ~SaveFile();
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  bool isOpen() const;
  bool size(std::uint64_t& size) const;
  // Bytes read, 0 at the end of the file, -1 on failure.
  long long readAt(char* data, std::size_t count, std::uint64_t offset) const;
  bool writeAt(const char* data, std::size_t count, std::uint64_t offset) const;
  // Makes room for size bytes, so that a full disk or a file-size limit fails before any byte
  // changes.
  bool reserve(std::uint64_t size) const;
  bool truncate(std::uint64_t size) const;
  // On some file systems a failed write shows only when the file is closed.
  bool close();

 private:
  std::intptr_t handle_;  // a file descriptor, or a Windows handle
};

}  // namespace resweaver

#endif  // RESWEAVER_QRC_FILE_PLATFORM_H_
