#pragma once

// What the `olvent` command shows on the terminal: the engine's log lines, the lines the engine
// and its readers print themselves, errors, and the progress bar.

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include <unistd.h>

#include "tarnwick/olvent/export.hpp"
#include "tarnwick/olvent/olvent.hpp"

namespace tarnwick::olvent {

// Which of the engine's log lines the screen shows.
enum class Verbosity
{
  every_line, // every line, on the output
  quiet,      // only the reports of errors and warnings, every line of each, on the error output
};

// Whether the screen draws a progress bar.
enum class ProgressBar
{
  hidden,
  shown,
};

// Everything olvent shows: log lines and the lines the engine and its readers print themselves
// on the output, errors on the error output, and the progress bar, which gets a line of its
// own on the error output: it is cleared before any other output and drawn again after it.
// A closed pipe on either output ends the process as SIGPIPE does.
class TARNWICK_OLVENT_EXPORT Screen
{
public:
  // A screen writing to the file descriptors `out` and `err`.
  Screen(Verbosity verbosity, ProgressBar bar, int out = STDOUT_FILENO, int err = STDERR_FILENO);

  // The number of jobs of the run, for the bar's "job i of n".
  void set_jobs(std::size_t count);

  // A log line of the engine with its mark. A line that begins a job or the VBT check moves the
  // bar's stage on. Quiet, only the lines of error and warning reports are shown.
  void log(const std::string& line, const LogMark& mark);

  // A line that the engine or a reader printed on standard output itself. The engine prints
  // some of its log lines again right after logging them (a failed flow row as "i printed"
  // after the log's "i - printed"); such a line, printed right after the log line it repeats,
  // is shown once. Every other line is shown as printed, empty ones too; quiet, only those
  // that follow a line of a report (the reason of a failed sheet read).
  void printed(const std::string& line);

  // A line for the error output: errors, warnings and the trace of a failed run.
  void error(const std::string& line);

  // Output that was asked for (the job table, the paths written when quiet).
  void out(const std::string& text);

  // The progress value `value` (clamped to 0..100) on the bar, when it is shown.
  void progress(double value);

  // Ends the bar's line.
  void finish();

private:
  void show(int fd, std::string_view text);
  void draw();

  bool m_quiet;
  bool m_bar;
  int m_out;
  int m_err;
  bool m_open = false; // the bar is drawn on the current line of the error output
  int m_percent = 0;
  std::size_t m_jobs = 0;
  std::size_t m_job = 0;
  std::string m_stage;
  std::string m_drawn_stage;
  std::optional<std::string> m_last_log; // the engine's last log line, until a line is printed
  bool m_in_report = false;              // the last log line belongs to a report
};

// Ends the line of a progress bar still open on its error output. Safe in a signal handler:
// olvent calls it when a signal ends the run.
TARNWICK_OLVENT_EXPORT void end_bar_line() noexcept;

// A stream buffer that hands each complete line written to it to `sink`, without its line end,
// and a last line without one when it is destroyed. What the engine and the readers write on
// std::cout and std::cerr passes through one, so that the screen can place it.
class TARNWICK_OLVENT_EXPORT LineBuffer : public std::streambuf
{
public:
  explicit LineBuffer(std::function<void(const std::string&)> sink);
  ~LineBuffer() override;

protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize size) override;

private:
  void put(char c);

  std::function<void(const std::string&)> m_sink;
  std::string m_line;
};

// Sends `stream` to `buffer` while it lives.
class TARNWICK_OLVENT_EXPORT Redirect
{
public:
  Redirect(std::ostream& stream, std::streambuf& buffer);
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;
  ~Redirect();

private:
  std::ostream& m_stream;
  std::streambuf* m_old;
};

} // namespace tarnwick::olvent
