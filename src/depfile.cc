#include "depfile.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <system_error>

#include "native_path.h"
#include "printed_text.h"
#include "qrc_file.h"

namespace resweaver {

namespace fs = std::filesystem;

namespace {

// What a depfile dependency on a name that cannot be written is replaced with, below the target.
constexpr std::string_view kNeverThere = "/unwritable-name-in-depfile";

// The bytes that both read as themselves. Ninja (1.11) ends a name at any other byte below 0x80
// and has no escape for it: & ' ; * ? " < > | ` ^ among them. GNU make would take = as a variable
// assignment, % in an empty rule as a pattern, ( as an archive member, and * ? [ as wildcards.
bool plain(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 || (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
         (byte >= 'A' && byte <= 'Z') || (c != '\0' && std::strchr("+,/_.~-!@{})", c) != nullptr);
}

void addFolder(const fs::path& folder, std::vector<std::string>& inputs,
               std::set<fs::path>& entered) {
  std::error_code error;
  const fs::path real = fs::canonical(folder, error);
  if (!error && !entered.insert(real).second) {
    return;  // reached again through a link: listed once, and a loop of links ends here
  }
  inputs.push_back(narrowText(folder));
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    std::error_code ignored;  // a link that leads nowhere is a file that rcc fails to read
    if (it->is_directory(ignored)) {
      addFolder(it->path(), inputs, entered);
    } else {
      inputs.push_back(narrowText(it->path()));
    }
  }
}

}  // namespace

// Escapes as both read them back: a space and # after a backslash, $ doubled, and a colon after a
// backslash (Ninja reads one at the end of a name as the end of a target). A backslash before any
// other plain byte is itself for both. make expands a ~ that starts a name.
std::optional<std::string> depfileName(std::string_view name) {
  if (name.empty() || name.front() == '~') {
    return std::nullopt;
  }
  std::string written;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool last = i + 1 == name.size();
    if (plain(c)) {
      written += c;
    } else if (c == ' ' || c == '#' || (c == ':' && !last)) {
      written += '\\';
      written += c;
    } else if (c == '$') {
      written += "$$";
    } else if (c == '\\' && !last && plain(name[i + 1])) {
      written += c;
    } else {
      return std::nullopt;
    }
  }
  return written;
}

std::string depfileText(std::string_view target, const std::vector<std::string>& dependencies) {
  const std::optional<std::string> written = depfileName(target);
  if (!written) {
    throw std::runtime_error("cannot write " + std::string(target) + " as the target of a depfile");
  }
  std::string text = *written + ":";
  std::string rules;
  const auto add = [&](const std::string& name) {
    text += " \\\n  " + name;
    rules += name + ":\n";
  };
  bool unwritable = false;
  std::set<std::string_view> seen;
  for (const std::string& dependency : dependencies) {
    if (!seen.insert(dependency).second) {
      continue;
    }
    if (const std::optional<std::string> name = depfileName(dependency)) {
      add(*name);
    } else {
      unwritable = true;
    }
  }
  if (unwritable) {
    add(*written + std::string(kNeverThere));
  }
  return text + "\n\n" + rules;
}

std::vector<std::string> rccInputs(const std::string& qrcPath,
                                   const std::vector<std::string>& texts) {
  const fs::path qrc = pathFromNarrow(qrcPath);
  const fs::path folder = weaklyCanonical(qrc.has_parent_path() ? qrc.parent_path() : ".");
  std::vector<std::string> inputs = {narrowText(fs::absolute(qrc))};
  std::set<fs::path> entered;
  for (const std::string& text : texts) {
    if (!text.empty() && text.front() == ':') {
      continue;  // a resource path: rcc reads no file for it
    }
    // The written texts are relative to a resolved folder, or absolute: joined, they are exact.
    fs::path path = pathFromNarrow(text);
    if (!path.has_root_path()) {
      path = (folder / path).lexically_normal();
    }
    std::error_code error;
    if (fs::is_directory(path, error)) {
      addFolder(path, inputs, entered);
    } else {
      inputs.push_back(narrowText(path));
    }
  }
  return inputs;
}

void writeTextFile(const std::string& path, std::string_view text) {
  LockedQrc file(path, Access::kCreate);
  PrintedText out(file);
  out.append(text);
  out.finish();
  file.save(out);
}

}  // namespace resweaver
