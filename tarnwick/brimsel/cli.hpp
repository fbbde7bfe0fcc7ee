#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tarnwick/brimsel/export.hpp"

namespace tarnwick::brimsel {

// The install command shown when the report library cannot be loaded.
inline constexpr const char* k_install_command = "scripts/install-deps";

// Exit statuses of the command line.
inline constexpr int k_exit_success = 0;         // all that was asked was done; a declined prompt
inline constexpr int k_exit_usage = 1;           // arguments, folder, mode or report path refused
inline constexpr int k_exit_nothing_applied = 2; // no rename applied: none confirmed, none that
                                                 // names a parsed file or changes it, no answer
inline constexpr int k_exit_failed = 3;          // a file or a report could not be written, or the
                                                 // report library could not be loaded

// Runs the `brimsel` command line on `args` (the arguments after the program name):
// `<目录路径> [模式] [报告路径]`. Prints to standard output, reads the refactor prompt's answer from
// standard input and draws the report's progress on standard error when that is a terminal.
// Returns one of the exit statuses above. Throws what the parse lets through.
TARNWICK_BRIMSEL_EXPORT int run_command_line(const std::vector<std::string>& args);

// Progress bar of the dry-run report, redrawn in place on one line of `out`. The report's stages
// run from 10 to 90; the bar is full at 90 and the line ends there.
class TARNWICK_BRIMSEL_EXPORT ProgressBar
{
public:
  explicit ProgressBar(std::ostream& out);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Draws the bar at `value` (10 to 90; values outside are clamped).
  void update(int value);
  // Ends the bar's line if it is still open, so that the next message starts on a line of its own.
  void finish();

private:
  std::ostream& m_out;
  bool m_open = false;
};

} // namespace tarnwick::brimsel
