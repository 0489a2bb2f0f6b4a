// The .qrc on disk, from the lock to the save. The file is opened and locked once, and the lock is
// tied to the file that the path names when it is granted; the bytes are read through the locked
// handle; the save replaces the file atomically and durably (a new file written beside it, flushed,
// renamed over it, and the folder flushed), or rewrites it in place where replacing it would change
// what the file is: a hard-linked file, a folder that cannot be written, or an owner, group or
// attributes that cannot be carried over.
#ifndef RESWEAVER_QRC_FILE_H_
#define RESWEAVER_QRC_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "large_pages.h"
#include "printed_text.h"

namespace resweaver {

enum class Access {
  kUpdate,  // an exclusive lock; the run may save
  kCheck,   // a shared lock; the run never writes
  kCreate,  // as kUpdate, but the file may not exist yet: it then counts as empty, and the save
            // creates it (and the folders above it) as a new file
};

// The loaded bytes of the .qrc followed by a NUL byte. The parser works on them in place.
class QrcText {
 public:
  QrcText(std::unique_ptr<char[], void (*)(void*)> bytes, std::size_t size)
      : bytes_(std::move(bytes)), size_(size) {}
  char* data() { return bytes_.get(); }
  const char* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }  // without the NUL byte

 private:
  std::unique_ptr<char[], void (*)(void*)> bytes_;
  std::size_t size_;
};

class LockedQrc : public OldContent {
 public:
  // Opens uiPath and locks it: exclusively for kUpdate, shared for kCheck. Waiting longer than a
  // second prints "waiting for another run on <uiPath>" on standard error, once. If the path names
  // another file by the time the lock is granted (the file was replaced by rename), the lock is let
  // go and taken again on the new file. A run with kUpdate then removes leftover temporary files of
  // this .qrc from runs that were killed. Throws "cannot open file <uiPath>" unless uiPath is a
  // regular file that can be read (or, with kCreate, names nothing yet).
  LockedQrc(std::string uiPath, Access access);
  ~LockedQrc() override;
  LockedQrc(const LockedQrc&) = delete;
  LockedQrc& operator=(const LockedQrc&) = delete;

  // The whole file, read through the locked handle; refuses a file that holds a NUL byte.
  QrcText load();

  std::uint64_t size() const override { return size_; }
  void readAt(char* data, std::size_t count, std::uint64_t offset) const override;

  // Writes text as the file's new content, unless text is unchanged. Throws "cannot write file
  // <uiPath>: <reason>" and leaves the old file exactly as it was when the new content could not be
  // written; a failure after the new content is in place is only a warning on standard error.
  void save(const PrintedText& text);

  const std::string& uiPath() const { return uiPath_; }
  // With kCreate: the file did not exist when the run began.
  bool missing() const { return missing_; }

 private:
  // kCreate on a path that names nothing: prepares the save of a new file. Returns false when a
  // file appeared meanwhile, to be opened as usual.
  bool prepareMissing();
  // Writes text, which differs from the file's content: by replacing the file, or in place.
  void saveChanged(const PrintedText& text);
  // Writes text into a new file beside the real one and renames it over it. Returns false, having
  // changed nothing, where the new file cannot be what the old one was.
  bool replace(const PrintedText& text);
  // Writes text over the old bytes of the file itself.
  void rewriteInPlace(const PrintedText& text);

  struct Platform;
  std::string uiPath_;
  Access access_;
  bool missing_ = false;
  std::uint64_t size_ = 0;
  std::unique_ptr<Platform> platform_;
};

// The name of a temporary file for the .qrc named qrcName ("." + qrcName + temporarySuffix(), with
// a random part), and whether name is one of them.
std::string temporaryName(std::string_view qrcName);
// The part of qrcName that temporary names hold: all of it, or as much as fits in a name.
std::string_view keptName(std::string_view qrcName);
std::string temporarySuffix();
bool isTemporaryName(std::string_view name, std::string_view qrcName);
// A visible name for another program's file that a run moved aside and could not put back
// (keptName(qrcName) + ".replaced-" and a random part): no temporary name, so no run removes it.
std::string replacedName(std::string_view qrcName);

[[noreturn]] void throwCannotWrite(const std::string& uiPath, const std::string& reason);
// The line that reports a failure that came after the new content was in place.
void warn(const std::string& message);

}  // namespace resweaver

#endif  // RESWEAVER_QRC_FILE_H_
