#include <iostream>
#include <string>
#include <vector>

#include "tools/report/report_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return korvelan::tools::ReportMain(args, std::cout, std::cerr);
}
