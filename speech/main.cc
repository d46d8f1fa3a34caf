// annc-name: see speech/annc_name.h.
#include <iostream>
#include <string>
#include <vector>

#include "speech/annc_name.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return annc::RunNameProgram(args, std::cout, std::cerr);
}
