// Walks a folder the tool's way or the standard iterator's way and prints what it finds, one entry
// a line ("<path> link" for links), or "error: <message>". The tests run it as an unprivileged
// user, where permissions apply, and compare the two ways.
//   walk_probe walk|sorted|iterator <folder>
#include <filesystem>
#include <iostream>
#include <string>

#include "folder_walk.h"

int main(int argc, char* argv[]) {
  namespace fs = std::filesystem;
  if (argc != 3) {
    std::cerr << "usage: walk_probe walk|sorted|iterator <folder>\n";
    return 2;
  }
  const std::string way = argv[1];
  const fs::path folder = argv[2];
  try {
    if (way == "iterator") {
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) {
          std::cout << entry.path().string() << (entry.is_symlink() ? " link" : "") << '\n';
        }
      }
    } else {
      resweaver::walkFolder(folder, way == "sorted",
                            {[](const resweaver::WalkEntry& entry) {
                               std::cout << std::string(entry.path) << (entry.link ? " link" : "")
                                         << '\n';
                             },
                             {}});
    }
  } catch (const std::exception& error) {
    std::cout << "error: " << error.what() << '\n';
  }
  return 0;
}
