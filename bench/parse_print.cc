// The floor for a .qrc: RapidXml alone loads the file, parses it with flags 0, prints it with flags
// 0 and writes it to another file, with nothing around it.
//   parse_print input output
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include <rapidxml/rapidxml.hpp>
#include <rapidxml/rapidxml_print.hpp>
#include <rapidxml/rapidxml_utils.hpp>

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::cerr << "usage: parse_print input output\n";
    return 2;
  }
  rapidxml::file<char> input(argv[1]);
  rapidxml::xml_document<char> doc;
  doc.parse<0>(input.data());
  std::string text;
  rapidxml::print(std::back_inserter(text), doc, 0);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return out.flush() ? 0 : 1;
}
