// Paths in the platform's own text. The command line and the .qrc hold narrow strings; the file
// system takes paths. On Linux both are the same bytes. On Windows the narrow text is the ANSI code
// page, converted strictly (a character it cannot represent raises the system's no-mapping error),
// and resolved names come in the letter case in which the volume stores them.
#ifndef RESWEAVER_NATIVE_PATH_H_
#define RESWEAVER_NATIVE_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace resweaver {

using NativeView = std::basic_string_view<std::filesystem::path::value_type>;

std::filesystem::path pathFromNarrow(const std::string& text);
std::string narrowText(const std::filesystem::path& path);

// Appends the narrow text of a piece of a native path to text.
void appendNarrow(std::string& text, NativeView native);

// The narrow text of a piece of a native path: the piece itself where paths are narrow, else its
// conversion, held in buffer.
std::string_view narrowView(NativeView native, std::string& buffer);

// std::filesystem::weakly_canonical: the existing leading part of path resolved through the file
// system (links followed), the rest appended lexically.
std::filesystem::path weaklyCanonical(const std::filesystem::path& path);

}  // namespace resweaver

#endif  // RESWEAVER_NATIVE_PATH_H_
