// Loading and saving the .qrc; the platform halves open, lock, read and write it.
#include "qrc_file.h"

#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "qrc_file_platform.h"

namespace resweaver {
namespace {

[[noreturn]] void throwCannotWrite(const std::string& uiPath, std::error_code error) {
  throw std::runtime_error("cannot write file " + uiPath + ": " + error.message());
}

// Whether the file holds exactly text, read block by block.
bool sameContent(const SaveFile& file, const PrintedText& text) {
  std::vector<char> current;
  std::uint64_t offset = 0;
  for (const std::string_view block : text.blocks()) {
    current.resize(block.size());
    std::size_t done = 0;
    while (done < block.size()) {
      const long long n = file.readAt(current.data() + done, block.size() - done, offset + done);
      if (n <= 0) {
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    if (block != std::string_view(current.data(), current.size())) {
      return false;
    }
    offset += block.size();
  }
  return true;
}

}  // namespace

QrcFile loadQrc(const std::string& uiPath) {
  QrcFile qrcFile(uiPath.c_str());
  // The buffer holds the file's bytes and one terminating NUL; a NUL before that would end the
  // document silently and drop what follows it.
  const char* data = qrcFile.data();
  if (std::strlen(data) != qrcFile.size() - 1) {
    throw std::runtime_error("NUL byte in file " + uiPath);
  }
  return qrcFile;
}

void saveQrc(const std::string& uiPath, const PrintedText& text) {
  // The file is rewritten in place rather than replaced, so that it keeps its identity: inode,
  // owner, permissions, hard links and symbolic links. Reserving the new size first makes a full
  // disk or a file-size limit fail before any byte changes.
  SaveFile file(uiPath);
  std::uint64_t oldSize = 0;
  if (!file.isOpen() || !file.size(oldSize)) {
    throwCannotWrite(uiPath, lastError());
  }
  // Nothing changed, nothing written: the modification time stays, and so build systems do not
  // rebuild what depends on the file.
  if (oldSize == text.size() && sameContent(file, text)) {
    if (!file.close()) {
      throwCannotWrite(uiPath, lastError());
    }
    return;
  }
  if (!file.reserve(text.size())) {
    throwCannotWrite(uiPath, lastError());
  }
  std::uint64_t offset = 0;
  for (const std::string_view block : text.blocks()) {
    if (!file.writeAt(block.data(), block.size(), offset)) {
      throwCannotWrite(uiPath, lastError());
    }
    offset += block.size();
  }
  if (!file.truncate(text.size()) || !file.close()) {
    throwCannotWrite(uiPath, lastError());
  }
}

}  // namespace resweaver
