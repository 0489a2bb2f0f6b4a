// The parts of the .qrc file unit that every platform shares: loading through the locked handle,
// the names of temporary files, and the messages.
#include "qrc_file.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

namespace resweaver {
namespace {

// Temporary files are hidden, and named after the .qrc and this tool, so that a leftover says whose
// it is and can be told apart from any file of the user's: .app.qrc.resweaver-x7Qp2Z
constexpr std::string_view kTemporaryTag = ".resweaver-";
constexpr std::size_t kRandomLength = 6;
// The longest name of a file that common file systems take, in bytes (NAME_MAX on POSIX systems).
constexpr std::size_t kNameMax = 255;
constexpr std::string_view kRandomAlphabet =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

}  // namespace

QrcText LockedQrc::load() {
  const auto size = static_cast<std::size_t>(size_);
  QrcText qrcFile(std::unique_ptr<char[], void (*)(void*)>(
                      static_cast<char*>(size < kLargeBlockSize ? allocateSmall(size + 1)
                                                                : allocateLarge(size + 1)),
                      releaseLarge),
                  size);
  readAt(qrcFile.data(), size, 0);
  qrcFile.data()[size] = '\0';
  // A NUL byte before the end would end the document silently and drop what follows it.
  if (std::memchr(qrcFile.data(), '\0', size) != nullptr) {
    throw std::runtime_error("NUL byte in file " + uiPath_);
  }
  return qrcFile;
}

void LockedQrc::save(const PrintedText& text) {
  if (access_ == Access::kCheck) {
    throw std::logic_error("the .qrc was opened for checking only");
  }
  if (!text.unchanged()) {
    saveChanged(text);  // otherwise the file and its time stay as they are
  }
}

std::string temporarySuffix() {
  static std::mt19937_64 random{std::random_device{}()};
  std::string suffix(kTemporaryTag);
  for (std::size_t i = 0; i < kRandomLength; ++i) {
    suffix += kRandomAlphabet[random() % kRandomAlphabet.size()];
  }
  return suffix;
}

std::string_view keptName(std::string_view qrcName) {
  // The tag and the random part must fit too; a name cut short still says whose file it is. It is
  // cut before a whole UTF-8 character, as systems that check names for UTF-8 (macOS) require.
  constexpr std::size_t kLongest = kNameMax - 1 - kTemporaryTag.size() - kRandomLength;
  if (qrcName.size() <= kLongest) {
    return qrcName;
  }
  std::size_t length = kLongest;
  while (length > 0 && (static_cast<unsigned char>(qrcName[length]) & 0xC0) == 0x80) {
    --length;
  }
  return qrcName.substr(0, length);
}

std::string temporaryName(std::string_view qrcName) {
  std::string name = ".";
  name += keptName(qrcName);
  return name + temporarySuffix();
}

std::string replacedName(std::string_view qrcName) {
  // The random part of a temporary suffix; the whole is shorter than a temporary name.
  return std::string(keptName(qrcName)) + ".replaced-" +
         temporarySuffix().substr(kTemporaryTag.size());
}

bool isTemporaryName(std::string_view name, std::string_view qrcName) {
  qrcName = keptName(qrcName);
  const std::size_t stem = 1 + qrcName.size() + kTemporaryTag.size();
  if (name.size() != stem + kRandomLength || name[0] != '.' ||
      name.substr(1, qrcName.size()) != qrcName ||
      name.substr(1 + qrcName.size(), kTemporaryTag.size()) != kTemporaryTag) {
    return false;
  }
  return name.substr(stem).find_first_not_of(kRandomAlphabet) == std::string_view::npos;
}

void throwCannotWrite(const std::string& uiPath, const std::string& reason) {
  throw std::runtime_error("cannot write file " + uiPath + ": " + reason);
}

void warn(const std::string& message) {
  const std::string line = "warning: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace resweaver
