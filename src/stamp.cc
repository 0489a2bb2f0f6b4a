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

}  // namespace

// The clock that stamps files may run behind the system's (Linux stamps with a coarse clock): the
// start time is taken from a file, as any folder changed afterwards will be stamped.
Stamp::Stamp(std::string path) : path_(std::move(path)) {
  const fs::path stamp = pathFromNarrow(path_);
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
    start_ = fs::last_write_time(clock, error);
  }
  std::error_code ignored;
  fs::remove(clock, ignored);  // gone is gone
  if (error) {
    throwCannotWrite(path_, reasonOf(error));
  }
}

void Stamp::touch() const {
  const fs::path stamp = pathFromNarrow(path_);
  std::error_code error;
  if (const int failed = create(stamp)) {
    error.assign(failed, std::generic_category());
  } else {
    fs::last_write_time(stamp, start_, error);
  }
  if (error) {
    throwCannotWrite(path_, reasonOf(error));
  }
}

}  // namespace resweaver
