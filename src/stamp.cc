#include "stamp.h"

#include <cerrno>
#include <fstream>
#include <system_error>
#include <utility>

#include "error_text.h"
#include "native_path.h"
#include "qrc_file.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// Creates an empty file at path unless something is there; returns the error, or 0.
int create(const fs::path& path) {
  std::error_code ignored;
  if (fs::exists(path, ignored)) {
    return 0;
  }
  errno = 0;
  std::ofstream created(path, std::ios::binary | std::ios::app);
  return created ? 0 : (errno != 0 ? errno : EIO);
}

// An error of the C library in the tool's own words; one of the system's own (Windows) in its.
std::string reasonOf(const std::error_code& error) {
  const std::error_condition condition = error.default_error_condition();
  return condition.category() == std::generic_category() ? errorText(condition.value())
                                                         : error.message();
}

// The file system's clock, which stamps files and may run behind the system's (Linux stamps with
// a coarse clock): the time of a file created and removed beside the stamp, whose folders are
// created if missing. Returns the error, if any.
std::error_code fileSystemNow(const fs::path& stamp, fs::file_time_type& now) {
  const fs::path folder = stamp.has_parent_path() ? stamp.parent_path() : fs::path(".");
  std::error_code error;
  fs::create_directories(folder, error);
  const fs::path clock = folder / pathFromNarrow(temporaryName(narrowText(stamp.filename())));
  if (!error) {
    if (const int failed = create(clock)) {
      error.assign(failed, std::generic_category());
    }
  }
  if (!error) {
    now = fs::last_write_time(clock, error);
  }
  std::error_code ignored;
  fs::remove(clock, ignored);  // gone is gone
  return error;
}

}  // namespace

// Taken before anything is read, so that any folder changed afterwards will be stamped later.
Stamp::Stamp(std::string path) : path_(std::move(path)) {
  if (const std::error_code error = fileSystemNow(pathFromNarrow(path_), start_)) {
    throwCannotWrite(path_, reasonOf(error));
  }
}

void Stamp::touch() const {
  touchAt(start_);
}

void Stamp::touchAfterOwnWrite(const std::vector<std::string>& others) const {
  // A dependency stamped in the run's start tick may have changed after the run read it: only an
  // older one counts as unchanged.
  for (const std::string& other : others) {
    std::error_code error;
    const fs::file_time_type changed = fs::last_write_time(pathFromNarrow(other), error);
    if (error || changed >= start_) {
      touch();
      return;
    }
  }
  fs::file_time_type now;
  if (fileSystemNow(pathFromNarrow(path_), now)) {
    touch();
    return;
  }
  touchAt(now);
}

void Stamp::touchAt(fs::file_time_type time) const {
  const fs::path stamp = pathFromNarrow(path_);
  std::error_code error;
  if (const int failed = create(stamp)) {
    error.assign(failed, std::generic_category());
  } else {
    fs::last_write_time(stamp, time, error);
  }
  if (error) {
    throwCannotWrite(path_, reasonOf(error));
  }
}

}  // namespace resweaver
