// Windows words its reasons its own way, which its users know; the C runtime's texts stand.
#include "error_text.h"

#include <cstring>
#include <string>

namespace resweaver {

std::string errorText(int error) {
  // strerror_s rather than strerror, which MSVC calls unsafe (C4996).
  char text[256];
  if (strerror_s(text, sizeof text, error) != 0) {
    return "Unknown error " + std::to_string(error);
  }
  return text;
}

}  // namespace resweaver
