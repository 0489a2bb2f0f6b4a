// The stamp file (--stamp): the target of the depfile, touched by every run that succeeds. It gets
// the time at which the run began, as the file system's own clock gives it, so that a folder that
// changes after the run listed it is newer than the stamp and the next build runs the step again.
// A run that rewrote the .qrc in place wrote a file that its depfile names: where nothing else
// changed since the run began, the stamp gets the time after that write instead, or every change
// would run the step twice.
#ifndef RESWEAVER_STAMP_H_
#define RESWEAVER_STAMP_H_

#include <filesystem>
#include <string>
#include <vector>

namespace resweaver {

class Stamp {
 public:
  // Reads the file system's clock through a file created and removed beside the stamp (the
  // folders above it created if missing). Throws "cannot write file <path>: <reason>".
  explicit Stamp(std::string path);

  // Creates the stamp if it is missing (an empty file) and gives it the run's start time.
  void touch() const;
  // As touch(), after the run wrote one of the files that the stamp stands for: the stamp gets the
  // time after that write if none of others (the stamp's other dependencies) changed since the
  // run began, the start time otherwise.
  void touchAfterOwnWrite(const std::vector<std::string>& others) const;

 private:
  // Gives the stamp time, creating it if missing.
  void touchAt(std::filesystem::file_time_type time) const;

  std::string path_;
  std::filesystem::file_time_type start_;
};

}  // namespace resweaver

#endif  // RESWEAVER_STAMP_H_
