// The `brimsel` program: the VBT naming check of a folder of .bas modules.
#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tarnwick/brimsel/cli.hpp"
#include "tarnwick/files/ending_signals.hpp"

int main(int argc, char** argv)
{
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  // An interrupted run (also one whose output pipe was closed) removes the temporary files of
  // the backups, sources and reports it was writing; every file under a final name is complete.
  tarnwick::files::catch_ending_signals();
  try {
    return tarnwick::brimsel::run_command_line(args);
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "brimsel: " << error.what() << '\n';
    return 1;
  }
}
