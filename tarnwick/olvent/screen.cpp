// The olvent command's terminal output: log and printed lines, errors and the progress bar.

#include "tarnwick/olvent/screen.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <utility>

#include <unistd.h>

#include "tarnwick/files/ending_signals.hpp"
#include "tarnwick/files/regular_file.hpp"

namespace tarnwick::olvent {

namespace {

// The error output whose current line holds a progress bar that wants its line end; -1 for
// none.
volatile std::sig_atomic_t g_open_bar = -1;

// Writes all of `text` to `fd`. A closed pipe ends the process as SIGPIPE does, also when the
// caller ignores SIGPIPE.
void write_all(int fd, std::string_view text)
{
  if (!files::write_all(fd, text) && errno == EPIPE)
    files::end_by_signal(SIGPIPE);
}

// Whether the printed `line` is the log line `logged` again, as it is or as "i printed" for
// "i - printed".
bool repeats(const std::string& line, const std::string& logged)
{
  if (line == logged)
    return true;
  auto dash = logged.find(" - ");
  return dash != std::string::npos && dash > 0 && logged.find_first_not_of("0123456789") == dash
         && line == logged.substr(0, dash) + ' ' + logged.substr(dash + 3);
}

} // namespace

void end_bar_line() noexcept
{
  const int fd = g_open_bar;
  if (fd >= 0) {
    g_open_bar = -1;
    [[maybe_unused]] ssize_t written = write(fd, "\n", 1);
  }
}

Screen::Screen(Verbosity verbosity, ProgressBar bar, int out, int err)
    : m_quiet(verbosity == Verbosity::quiet), m_bar(bar == ProgressBar::shown), m_out(out),
      m_err(err)
{
}

void Screen::set_jobs(std::size_t count)
{
  m_jobs = count;
  m_stage = "job 1 of " + std::to_string(count);
}

void Screen::log(const std::string& line, const LogMark& mark)
{
  switch (mark.begins) {
  case RunStage::none:
    break;
  case RunStage::job:
    ++m_job;
    m_stage = "job " + std::to_string(std::max<std::size_t>(m_job, 1)) + " of "
              + std::to_string(std::max(m_jobs, m_job));
    break;
  case RunStage::vbt_check:
    m_stage = "VBT check";
    break;
  }
  m_last_log = line;
  m_in_report = mark.severity != Severity::plain;
  if (!m_quiet)
    show(m_out, line + '\n');
  else if (m_in_report)
    show(m_err, line + '\n');
}

void Screen::printed(const std::string& line)
{
  bool repeat = m_last_log && repeats(line, *m_last_log);
  m_last_log.reset();
  if (repeat)
    return;
  if (!m_quiet)
    show(m_out, line + '\n');
  else if (m_in_report) // the reason of a report, such as a failed sheet read's error
    show(m_err, line + '\n');
}

void Screen::error(const std::string& line)
{
  show(m_err, line + '\n');
}

void Screen::out(const std::string& text)
{
  show(m_out, text);
}

void Screen::progress(double value)
{
  if (!m_bar)
    return;
  int percent = static_cast<int>(std::clamp(value, 0.0, 100.0));
  if (m_open && percent == m_percent && m_stage == m_drawn_stage)
    return;
  m_percent = percent;
  draw();
}

void Screen::finish()
{
  if (m_open)
    write_all(m_err, "\n");
  m_open = false;
  g_open_bar = -1;
}

void Screen::show(int fd, std::string_view text)
{
  if (m_open)
    write_all(m_err, "\r\033[K");
  write_all(fd, text);
  if (m_open)
    draw();
}

void Screen::draw()
{
  constexpr int width = 40;
  int filled = m_percent * width / 100;
  std::string bar = "\r[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] "
                    + std::to_string(m_percent) + "%";
  if (!m_stage.empty())
    bar += "  " + m_stage;
  write_all(m_err, bar + "\033[K");
  m_drawn_stage = m_stage;
  m_open = true;
  g_open_bar = m_err;
}

LineBuffer::LineBuffer(std::function<void(const std::string&)> sink) : m_sink(std::move(sink)) {}

LineBuffer::~LineBuffer()
{
  if (!m_line.empty())
    m_sink(m_line);
}

LineBuffer::int_type LineBuffer::overflow(int_type c)
{
  if (!traits_type::eq_int_type(c, traits_type::eof()))
    put(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

std::streamsize LineBuffer::xsputn(const char* text, std::streamsize size)
{
  for (std::streamsize i = 0; i < size; ++i)
    put(text[i]);
  return size;
}

void LineBuffer::put(char c)
{
  if (c != '\n') {
    m_line += c;
    return;
  }
  std::string line;
  line.swap(m_line);
  m_sink(line);
}

Redirect::Redirect(std::ostream& stream, std::streambuf& buffer)
    : m_stream(stream), m_old(stream.rdbuf(&buffer))
{
}

Redirect::~Redirect()
{
  m_stream.rdbuf(m_old);
}

} // namespace tarnwick::olvent
