// The text that follows a failure's colon: the reason behind a system error number.
#ifndef RESWEAVER_ERROR_TEXT_H_
#define RESWEAVER_ERROR_TEXT_H_

#include <string>

namespace resweaver {

// The reason for the error number error, worded the same whichever C library the tool is built
// with: on POSIX systems, GNU libc's words for every number POSIX names (musl and the BSDs word
// several differently), the C library's own for the rest; on Windows, the C runtime's.
std::string errorText(int error);

}  // namespace resweaver

#endif  // RESWEAVER_ERROR_TEXT_H_
