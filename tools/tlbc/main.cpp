// tlbc: compiles an interface definition file into a type library.
//   tlbc INPUT.idl -o OUTPUT.tlb
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "compiler.h"

int main(int argc, char** argv) {
  std::string input, output;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (input.empty()) {
      input = a;
    } else {
      input.clear();
      break;
    }
  }
  if (input.empty() || output.empty()) {
    std::cerr << "usage: tlbc INPUT.idl -o OUTPUT.tlb\n";
    return 2;
  }
  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << input << ": error: cannot read the file\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<unsigned char> library;
  std::string error;
  if (!tlbc::Compile(text.str(), input, library, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(library.data()), static_cast<std::streamsize>(library.size()));
  if (!out) {
    std::cerr << output << ": error: cannot write the file\n";
    std::remove(output.c_str());
    return 1;
  }
  return 0;
}
