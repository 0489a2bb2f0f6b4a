// Windows words its reasons its own way, which its users know; the C runtime's texts stand.
#include "error_text.h"

#include <cstring>

namespace resweaver {

std::string errorText(int error) {
  return std::strerror(error);
}

}  // namespace resweaver
