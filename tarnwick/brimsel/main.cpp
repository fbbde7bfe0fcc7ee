// The `brimsel` program: the VBT naming check of a folder of .bas modules.
#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tarnwick/brimsel/cli.hpp"

int main(int argc, char** argv)
{
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  try {
    return tarnwick::brimsel::run_command_line(args);
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "brimsel: " << error.what() << '\n';
    return 1;
  }
}
