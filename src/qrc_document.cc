// Loading, checking, parsing, updating, printing and saving the .qrc document.
#include "qrc_document.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>
#include <system_error>
#include <tuple>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <rapidxml/rapidxml_print.hpp>

namespace resweaver {
namespace {

[[noreturn]] void throwCannotOpen(const std::string& uiPath) {
  throw std::runtime_error("cannot open file " + uiPath);
}

[[noreturn]] void throwCannotWrite(const std::string& uiPath, std::error_code error) {
  throw std::runtime_error("cannot write file " + uiPath + ": " + error.message());
}

// The error of the system call that failed last.
std::error_code lastError() {
#ifdef _WIN32
  return {static_cast<int>(::GetLastError()), std::system_category()};
#else
  return {errno, std::generic_category()};
#endif
}

// The .qrc opened for the save: positioned reads and writes, reservation and truncation. Each
// operation returns whether it succeeded, and lastError() tells why not; nothing throws. The
// destructor closes a file that close() did not, on a failure path where the first error is the
// one to report.
class SaveFile {
 public:
#ifdef _WIN32
  explicit SaveFile(const std::string& path)
      : handle_(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~SaveFile() {
    if (isOpen()) {
      ::CloseHandle(handle_);
    }
  }
  bool isOpen() const {
    return handle_ != INVALID_HANDLE_VALUE;
  }
  bool size(std::uint64_t& size) const {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_, &value)) {
      return false;
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }
  // Bytes read, 0 at the end of the file, -1 on failure.
  long long readAt(char* data, std::size_t count, std::uint64_t offset) const {
    OVERLAPPED where = at(offset);
    DWORD done = 0;
    if (!::ReadFile(handle_, data, static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)),
                    &done, &where)) {
      return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return done;
  }
  bool writeAt(const char* data, std::size_t count, std::uint64_t offset) const {
    while (count > 0) {
      OVERLAPPED where = at(offset);
      DWORD done = 0;
      if (!::WriteFile(handle_, data, static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)),
                       &done, &where)) {
        return false;
      }
      data += done;
      count -= done;
      offset += done;
    }
    return true;
  }
  // Grows the file to size first, as posix_fallocate does, so that a full disk fails before any
  // byte changes.
  bool reserve(std::uint64_t size) const {
    std::uint64_t current = 0;
    return this->size(current) && (current >= size || truncate(size));
  }
  bool truncate(std::uint64_t size) const {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle_);
  }
  bool close() {
    return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  static OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
  }
  HANDLE handle_;
#else
  explicit SaveFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666)) {}
  ~SaveFile() {
    if (isOpen()) {
      ::close(fd_);
    }
  }
  bool isOpen() const {
    return fd_ >= 0;
  }
  bool size(std::uint64_t& size) const {
    struct stat status;
    if (::fstat(fd_, &status) != 0) {
      return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
  }
  long long readAt(char* data, std::size_t count, std::uint64_t offset) const {
    ssize_t done;
    do {
      done = ::pread(fd_, data, count, static_cast<off_t>(offset));
    } while (done < 0 && errno == EINTR);
    return done;
  }
  bool writeAt(const char* data, std::size_t count, std::uint64_t offset) const {
    while (count > 0) {
      const ssize_t done = ::pwrite(fd_, data, count, static_cast<off_t>(offset));
      if (done < 0) {
        if (errno == EINTR) {
          continue;
        }
        return false;
      }
      data += done;
      count -= static_cast<std::size_t>(done);
      offset += static_cast<std::uint64_t>(done);
    }
    return true;
  }
  // A full disk or a file-size limit fails here, before any byte changes.
  bool reserve(std::uint64_t size) const {
    const int error = size == 0 ? 0 : ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    errno = error;
    return error == 0;
  }
  bool truncate(std::uint64_t size) const {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }
  // On some file systems a failed write shows only when the file is closed.
  bool close() {
    return ::close(std::exchange(fd_, -1)) == 0;
  }

 private:
  int fd_;
#endif
};

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

// The parser's own character classes, so that the check below reads the bytes exactly as the parser
// will.
using Tables = rapidxml::internal::lookup_tables<0>;

bool isSpace(char c) {
  return Tables::lookup_whitespace[static_cast<unsigned char>(c)] != 0;
}
bool isNameChar(char c) {
  return Tables::lookup_node_name[static_cast<unsigned char>(c)] != 0;
}
bool isAttributeNameChar(char c) {
  return Tables::lookup_attribute_name[static_cast<unsigned char>(c)] != 0;
}
unsigned digitValue(char c) {
  return Tables::lookup_digits[static_cast<unsigned char>(c)];
}
constexpr unsigned kNotADigit = 0xFF;

const char* skipSpace(const char* p) {
  while (isSpace(*p)) {
    ++p;
  }
  return p;
}

const char* skipName(const char* p) {
  while (isNameChar(*p)) {
    ++p;
  }
  return p;
}

// Returns the position after the first occurrence of terminator, or nullptr at the end of data.
const char* skipPast(const char* p, const char* terminator) {
  const char* found = std::strstr(p, terminator);
  return found == nullptr ? nullptr : found + std::strlen(terminator);
}

// What the check found: where parsing must not go, or nothing to object to. The check stops quietly
// at a syntax error, which the parser then reports with its own message.
struct Finding {
  enum Kind { kNone, kTooDeep, kBadReference } kind = kNone;
  const char* where = nullptr;
};

constexpr unsigned long kMaxCodePoint = 0x10FFFF;

// Skips a run of text or of an attribute value up to stop (or the end of data), in which the parser
// translates references. Returns the end of the run, or nullptr on a syntax error; sets finding at
// a numeric reference that is 0 or beyond U+10FFFF. The parser's arithmetic wraps around for long
// numbers; here the number saturates instead, so any length is judged by its true value.
const char* skipTranslated(const char* p, char stop, Finding& finding) {
  const char stops[] = {'&', stop, '\0'};
  for (;;) {
    p += std::strcspn(p, stops);
    if (*p != '&') {
      return p;  // at stop or at the end of the data
    }
    if (p[1] != '#') {
      ++p;
      continue;
    }
    const char* reference = p;
    unsigned long base = 10;
    p += 2;
    if (*p == 'x') {
      base = 16;
      ++p;
    }
    unsigned long code = 0;
    for (unsigned digit; (digit = digitValue(*p)) != kNotADigit; ++p) {
      code = code * base + digit;
      if (code > kMaxCodePoint) {
        code = kMaxCodePoint + 1;
      }
    }
    // The parser rejects a number above U+10FFFF before it looks for the ';'.
    if (code > kMaxCodePoint || (code == 0 && *p == ';')) {
      finding = {Finding::kBadReference, reference};
      return nullptr;
    }
    if (*p != ';') {
      return nullptr;
    }
    ++p;
  }
}

// Reads the raw bytes the way the parser will, without recursion: skipped constructs, start tags
// with their attribute values, text, and end tags. It tracks the element depth and the numeric
// references in translated text, so that a document the parser cannot take safely is refused before
// the parser (which recurses once per level) runs on it.
Finding checkDocument(const char* p) {
  Finding finding;
  if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
    p += 3;
  }
  int depth = 0;
  while (p != nullptr) {
    if (depth == 0) {
      p = skipSpace(p);
      if (*p != '<') {
        return finding;  // the end of the data, or text that the parser rejects
      }
    } else {
      // Inside an element, text runs from the end of the last markup (whitespace included) to the
      // next '<'.
      const char* contents = p;
      p = skipSpace(p);
      if (*p == '\0') {
        return finding;
      }
      if (*p != '<') {
        p = skipTranslated(contents, '<', finding);
        continue;
      }
      if (p[1] == '/') {
        p = skipSpace(skipName(p + 2));
        if (*p != '>') {
          return finding;
        }
        ++p;
        --depth;
        continue;
      }
    }
    ++p;  // past '<'
    if (*p == '?') {
      ++p;
      p = skipPast(p, "?>");
    } else if (std::strncmp(p, "!--", 3) == 0) {
      p = skipPast(p + 3, "-->");
    } else if (std::strncmp(p, "![CDATA[", 8) == 0) {
      p = skipPast(p + 8, "]]>");
    } else if (std::strncmp(p, "!DOCTYPE", 8) == 0 && isSpace(p[8])) {
      p += 9;
      while (*p != '>') {
        if (*p == '\0') {
          return finding;
        }
        if (*p++ == '[') {
          for (int brackets = 1; brackets > 0; ++p) {
            if (*p == '\0') {
              return finding;
            }
            brackets += (*p == '[') - (*p == ']');
          }
        }
      }
      ++p;
    } else if (*p == '!') {
      p = skipPast(p + 1, ">");
    } else {
      const char* name = p;
      p = skipName(p);
      if (p == name) {
        return finding;
      }
      if (depth + 1 > kMaxDepth) {
        return {Finding::kTooDeep, name};
      }
      p = skipSpace(p);
      while (p != nullptr && isAttributeNameChar(*p)) {
        ++p;
        while (isAttributeNameChar(*p)) {
          ++p;
        }
        p = skipSpace(p);
        if (*p != '=') {
          return finding;
        }
        p = skipSpace(p + 1);
        const char quote = *p;
        if (quote != '\'' && quote != '"') {
          return finding;
        }
        p = skipTranslated(p + 1, quote, finding);
        if (p == nullptr || *p != quote) {
          return finding;
        }
        p = skipSpace(p + 1);
      }
      if (p == nullptr) {
        return finding;
      }
      if (*p == '>') {
        ++p;
        ++depth;
      } else if (p[0] == '/' && p[1] == '>') {
        p += 2;
      } else {
        return finding;
      }
    }
  }
  return finding;
}

}  // namespace

#ifdef _WIN32
QrcLock::QrcLock(const std::string& uiPath) {
  HANDLE file = ::CreateFileA(uiPath.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open; a pipe or device is refused.
  if (file == INVALID_HANDLE_VALUE || ::GetFileType(file) != FILE_TYPE_DISK) {
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);
    }
    throwCannotOpen(uiPath);
  }
  // Windows locks keep other handles, even this process's own, from the bytes they cover. The lock
  // therefore covers one byte far beyond the end of any file, where it only serialises runs.
  OVERLAPPED where{};
  where.Offset = 0xFFFFFFFF;
  where.OffsetHigh = 0x7FFFFFFF;
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
    const std::error_code error = lastError();
    ::CloseHandle(file);
    throw std::runtime_error("cannot lock file " + uiPath + ": " + error.message());
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

QrcLock::~QrcLock() {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));  // releases the lock
}
#else
QrcLock::QrcLock(const std::string& uiPath)
    : handle_(::open(uiPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; anything but a regular file is
  // then refused, since its size cannot be found and its bytes may never end.
  const int fd = static_cast<int>(handle_);
  struct stat status;
  if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (fd >= 0) {
      ::close(fd);
    }
    throwCannotOpen(uiPath);
  }
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  // A file system without advisory locks still gets its file rewritten, just without the protection
  // against concurrent runs.
  if (result != 0 && errno != ENOLCK && errno != EOPNOTSUPP) {
    const std::error_code error = lastError();
    ::close(fd);
    throw std::runtime_error("cannot lock file " + uiPath + ": " + error.message());
  }
}

QrcLock::~QrcLock() {
  ::close(static_cast<int>(handle_));  // releases the lock
}
#endif

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

void parseQrc(char* text, Document& doc) {
  const Finding finding = checkDocument(text);
  switch (finding.kind) {
  case Finding::kTooDeep:
    throw std::runtime_error("document nested too deeply");
  case Finding::kBadReference:
    throw rapidxml::parse_error("invalid numeric character entity",
                                const_cast<char*>(finding.where));
  case Finding::kNone:
    break;
  }
  doc.parse<0>(text);
}

Node* findRoot(Document& doc) {
  for (Node* node = doc.first_node(); node != nullptr; node = node->next_sibling()) {
    if (node->type() == rapidxml::node_element) {
      return node;
    }
  }
  return nullptr;
}

Node& locateOrCreateGroup(Document& doc, Node& root, const std::string& prefix) {
  for (Node* child = root.first_node(); child != nullptr; child = child->next_sibling()) {
    for (auto* attribute = child->first_attribute(); attribute != nullptr;
         attribute = attribute->next_attribute()) {
      if (std::string_view(attribute->value(), attribute->value_size()) == prefix) {
        child->remove_all_nodes();
        return *child;
      }
    }
  }
  Node* group = doc.allocate_node(rapidxml::node_element, "qresource");
  root.append_node(group);
  group->append_attribute(doc.allocate_attribute("prefix", prefix.c_str(), 0, prefix.size()));
  return *group;
}

void appendFileEntry(Document& doc, Node& group, std::string_view text) {
  char* value = doc.allocate_string(nullptr, text.size() + 1);
  std::memcpy(value, text.data(), text.size());
  value[text.size()] = '\0';
  group.append_node(doc.allocate_node(rapidxml::node_element, "file", value, 0, text.size()));
}

#if defined(_WIN32)
#define RESWEAVER_PLAIN_ALLOCATION 1
#elif defined(__SANITIZE_ADDRESS__)
#define RESWEAVER_PLAIN_ALLOCATION 1  // so that AddressSanitizer watches every block
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RESWEAVER_PLAIN_ALLOCATION 1
#endif
#endif

#ifdef RESWEAVER_PLAIN_ALLOCATION
void* allocateLarge(std::size_t size) {
  return ::operator new(size);
}
void releaseLarge(void* block) {
  ::operator delete(block);
}
#else
namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
constexpr std::size_t kBlockHeader = 64;  // holds the mapping's length; keeps any alignment
}  // namespace

void* allocateLarge(std::size_t size) {
  const std::size_t length = (size + kBlockHeader + kLargePage - 1) / kLargePage * kLargePage;
  // Map one large page more than needed, and trim the ends so that the block starts on a large-page
  // boundary, where the kernel can back it with large pages.
  void* mapping = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto first = reinterpret_cast<std::uintptr_t>(mapping);
  const std::uintptr_t start = (first + kLargePage - 1) / kLargePage * kLargePage;
  const std::uintptr_t end = first + length + kLargePage;
  if (start > first) {
    ::munmap(mapping, start - first);
  }
  if (end > start + length) {
    ::munmap(reinterpret_cast<void*>(start + length), end - start - length);
  }
  char* block = reinterpret_cast<char*>(start);
  std::ignore = ::madvise(block, length, MADV_HUGEPAGE);  // a hint: without it, only slower
  *reinterpret_cast<std::size_t*>(block) = length;
  return block + kBlockHeader;
}

void releaseLarge(void* block) {
  char* start = static_cast<char*>(block) - kBlockHeader;
  ::munmap(start, *reinterpret_cast<std::size_t*>(start));
}
#endif

void useLargePages(Document& doc) {
  doc.set_allocator(allocateLarge, releaseLarge);
}

PrintedText::PrintedText(std::string_view text) {
  for (char c : text) {
    push_back(c);
  }
}

std::vector<std::string_view> PrintedText::blocks() const {
  std::vector<std::string_view> result;
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    result.emplace_back(blocks_[i].get(), i + 1 < blocks_.size() ? kLargeBlockSize : used_);
  }
  return result;
}

std::string PrintedText::str() const {
  std::string text;
  text.reserve(size());
  for (const std::string_view block : blocks()) {
    text += block;
  }
  return text;
}

PrintedText printQrc(const Document& doc) {
  PrintedText text;
  rapidxml::print(std::back_inserter(text), doc, 0);
  return text;
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
