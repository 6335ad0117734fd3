#include <iostream>
#include <string>
#include <vector>

#include "tools/prepare/prepare_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return korvelan::tools::PrepareMain(args, std::cout, std::cerr);
}
