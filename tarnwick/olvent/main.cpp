// olvent: the command line that drives the device check engine.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "tarnwick/files/ending_signals.hpp"
#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace {

namespace fs = std::filesystem;
using tarnwick::olvent::Olvent;

// Exit statuses.
constexpr int k_ok = 0;
constexpr int k_usage = 1;
constexpr int k_not_loaded = 2;
constexpr int k_no_workbook = 3;
constexpr int k_no_vbt_report = 4;

const char* const k_statuses =
  "Exit status:\n"
  "  0  the check workbook was written (and the VBT report, with --vbt-check)\n"
  "  1  usage error: an unknown option, value or job name\n"
  "  2  nothing was checked: the device, its job-list sheet, the output folder, the power-order\n"
  "     file or the pattern folder is missing or cannot be read (a power-order file that is not\n"
  "     a readable workbook too)\n"
  "  3  the run ended without a check workbook\n"
  "  4  the check workbook was written, but the VBT report of --vbt-check was not\n"
  "  Ctrl-C, SIGTERM, SIGHUP or a closed output pipe end olvent by that signal, after the\n"
  "  temporary folder and any workbook still being written are removed.";

int fail(int status, const std::string& message)
{
  std::cerr << "olvent: error: " << message << '\n';
  return status;
}

// Ending by a signal ---------------------------------------------------------------------------

// The progress bar's line is open on standard error and wants its line end.
volatile std::sig_atomic_t g_bar_open = 0;

// What olvent adds to a signal ending, after the temporary files are removed.
void end_bar_line() noexcept
{
  if (g_bar_open) {
    g_bar_open = 0;
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, "\n", 1);
  }
}

using tarnwick::files::end_by_signal;

// Removes the temporary folder and the workbook being written when one of the ending signals
// comes. A signal that the caller set to be ignored (SIGINT of a background job) stays ignored.
void catch_ending_signals()
{
  tarnwick::files::catch_ending_signals(end_bar_line);
}

// Terminal output ------------------------------------------------------------------------------

// Writes all of `text` to `fd`. A closed pipe ends the process as SIGPIPE does, also when the
// caller ignores SIGPIPE.
void write_all(int fd, std::string_view text)
{
  if (!tarnwick::files::write_all(fd, text) && errno == EPIPE)
    end_by_signal(SIGPIPE);
}

// Everything olvent shows: log lines and the lines the engine and its readers print themselves
// on standard output, errors on standard error, and on a terminal the progress bar, which gets
// a line of its own: it is cleared before any other output and drawn again after it.
class Screen
{
public:
  Screen(bool quiet, bool progress_bar) : m_quiet(quiet), m_bar(progress_bar) {}

  // The number of jobs of the run, for the bar's "job i of n".
  void set_jobs(std::size_t count)
  {
    m_jobs = count;
    m_stage = "job 1 of " + std::to_string(count);
  }

  // A log line of the engine; "Parse Job: " starts the next job of the run. Quiet, only the
  // reports of errors and warnings are shown, on standard error, each with all its lines.
  void log(const std::string& line)
  {
    if (line.starts_with("Parse Job: ")) {
      ++m_job;
      m_stage = "job " + std::to_string(std::max<std::size_t>(m_job, 1)) + " of "
                + std::to_string(std::max(m_jobs, m_job));
    } else if (line.starts_with("开始处理目录中的BAS文件: ")) {
      m_stage = "VBT check";
    }
    m_last_log = line;
    if (!m_quiet)
      show(STDOUT_FILENO, line + '\n');
    else if (in_report(line))
      show(STDERR_FILENO, line + '\n');
  }

  // A line that the engine or a reader printed on standard output itself. The engine prints
  // some of its log lines again right after logging them (a failed flow row as "i printed"
  // after the log's "i - printed"); such a line, printed right after the log line it repeats,
  // is shown once. Every other line is shown as printed, empty ones too.
  void printed(const std::string& line)
  {
    bool repeat = m_last_log && repeats(line, *m_last_log);
    m_last_log.reset();
    if (repeat)
      return;
    if (!m_quiet)
      show(STDOUT_FILENO, line + '\n');
    else if (m_in_report) // the reason of a report, such as a failed sheet read's error
      show(STDERR_FILENO, line + '\n');
  }

  // A line for standard error: errors, warnings and the trace of a failed run.
  void error(const std::string& line) { show(STDERR_FILENO, line + '\n'); }

  // Output that was asked for (the job table, the paths written with --quiet).
  void out(const std::string& text) { show(STDOUT_FILENO, text); }

  void progress(double value)
  {
    if (!m_bar)
      return;
    int percent = static_cast<int>(std::clamp(value, 0.0, 100.0));
    if (m_open && percent == m_percent && m_stage == m_drawn_stage)
      return;
    m_percent = percent;
    draw();
  }

  // Ends the bar's line.
  void finish()
  {
    if (m_open)
      write_all(STDERR_FILENO, "\n");
    m_open = false;
    g_bar_open = 0;
  }

private:
  // Whether the log line `line` belongs to a report of an error or a warning: a line that
  // begins with "Error" or "Warning", or another heading of the engine's reports, and the lines
  // that the engine logs after the heading as part of it (the error's text, the flow row).
  bool in_report(const std::string& line)
  {
    struct Heading
    {
      std::string_view text;
      int lines_after;
    };
    static constexpr Heading k_headings[] = {
      {"Error found in power process:", 2},
      {"Error found in pattern/timing process:", 2},
      {"An exception occurred!Please check!!!", 1},
      {"Cannot find power pin name in pin level file!", 1},
      {"Flow Table Path Cannot be Empty, Please Check!", 0},
    };
    if (m_report_lines > 0) {
      --m_report_lines;
      return m_in_report = true;
    }
    for (const auto& heading : k_headings) {
      if (line == heading.text) {
        m_report_lines = heading.lines_after;
        return m_in_report = true;
      }
    }
    return m_in_report = line.starts_with("Error") || line.starts_with("Warning");
  }

  // Whether the printed `line` is the log line `logged` again, as it is or as "i printed" for
  // "i - printed".
  static bool repeats(const std::string& line, const std::string& logged)
  {
    if (line == logged)
      return true;
    auto dash = logged.find(" - ");
    return dash != std::string::npos && dash > 0 && logged.find_first_not_of("0123456789") == dash
           && line == logged.substr(0, dash) + ' ' + logged.substr(dash + 3);
  }

  void show(int fd, std::string_view text)
  {
    if (m_open)
      write_all(STDERR_FILENO, "\r\033[K");
    write_all(fd, text);
    if (m_open)
      draw();
  }

  void draw()
  {
    constexpr int width = 40;
    int filled = m_percent * width / 100;
    std::string bar = "\r[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] "
                      + std::to_string(m_percent) + "%";
    if (!m_stage.empty())
      bar += "  " + m_stage;
    write_all(STDERR_FILENO, bar + "\033[K");
    m_drawn_stage = m_stage;
    m_open = true;
    g_bar_open = 1;
  }

  bool m_quiet;
  bool m_bar;
  bool m_open = false; // the bar is drawn on the current line of standard error
  int m_percent = 0;
  std::size_t m_jobs = 0;
  std::size_t m_job = 0;
  std::string m_stage;
  std::string m_drawn_stage;
  std::optional<std::string> m_last_log; // the engine's last log line, until a line is printed
  bool m_in_report = false; // the last log line belongs to a report (quiet)
  int m_report_lines = 0;   // log lines of the current report still to come (quiet)
};

// A stream buffer that hands each complete line written to it to `sink`, without its line end.
// What the engine and the readers write on std::cout and std::cerr passes through one, so that
// the screen can place it.
class LineBuffer : public std::streambuf
{
public:
  explicit LineBuffer(std::function<void(const std::string&)> sink) : m_sink(std::move(sink)) {}
  ~LineBuffer() override
  {
    if (!m_line.empty())
      m_sink(m_line);
  }

protected:
  int_type overflow(int_type c) override
  {
    if (!traits_type::eq_int_type(c, traits_type::eof()))
      put(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override
  {
    for (std::streamsize i = 0; i < size; ++i)
      put(text[i]);
    return size;
  }

private:
  void put(char c)
  {
    if (c != '\n') {
      m_line += c;
      return;
    }
    std::string line;
    line.swap(m_line);
    m_sink(line);
  }

  std::function<void(const std::string&)> m_sink;
  std::string m_line;
};

// Sends `stream` to `buffer` while it lives.
class Redirect
{
public:
  Redirect(std::ostream& stream, std::streambuf& buffer)
    : m_stream(stream), m_old(stream.rdbuf(&buffer))
  {
  }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;
  ~Redirect() { m_stream.rdbuf(m_old); }

private:
  std::ostream& m_stream;
  std::streambuf* m_old;
};

// Checks before the run ------------------------------------------------------------------------

// Why `path` cannot serve as the pattern folder, or nothing.
std::optional<std::string> input_folder_problem(const std::string& path)
{
  struct stat info{};
  if (stat(path.c_str(), &info) != 0)
    return std::strerror(errno);
  if (!S_ISDIR(info.st_mode))
    return std::strerror(ENOTDIR);
  return std::nullopt;
}

// Why `path` cannot serve as the output folder, or nothing.
std::optional<std::string> output_folder_problem(const std::string& path)
{
  if (auto problem = input_folder_problem(path))
    return problem;
  if (access(path.c_str(), W_OK | X_OK) != 0)
    return std::strerror(errno);
  return std::nullopt;
}

// Why the file `path` cannot be read, or nothing. A FIFO or a device is refused unopened.
std::optional<std::string> input_file_problem(const std::string& path)
{
  tarnwick::files::FileProblem problem;
  if (!tarnwick::files::open_regular_file(path, tarnwick::files::OpenFor::reading, problem))
    return problem.reason;
  return std::nullopt;
}

// Why the regular file `path` cannot serve as a workbook whose first sheet is read, or nothing.
std::optional<std::string> workbook_problem(const std::string& path)
{
  try {
    tarnwick::xlsx::Reader reader(path);
    reader.read_sheet(std::size_t{0});
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::nullopt;
}


// The pattern tool -----------------------------------------------------------------------------

constexpr const char* k_pattern_tool = "patinfo";

// Whether an executable file `name` lies in a folder of the search path `path_list`.
bool on_search_path(const std::string& path_list, const std::string& name)
{
  std::size_t start = 0;
  while (true) {
    std::size_t colon = path_list.find(':', start);
    std::string folder = path_list.substr(start, colon - start);
    std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    struct stat info{};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)
        && access(candidate.c_str(), X_OK) == 0)
      return true;
    if (colon == std::string::npos)
      return false;
    start = colon + 1;
  }
}

// Makes the stand-in pattern tool beside this program answer when PATH holds none: appends
// this program's folder to PATH, so that a tool earlier on PATH still wins. The folder looked
// in last, or "" when PATH already held a tool; nullopt when none can be found at all.
std::optional<std::string> find_pattern_tool()
{
  const char* current = std::getenv("PATH");
  // Without PATH, programs are looked for in the system's default folders.
  std::string path_list = current ? current : "/usr/bin:/bin";
  if (on_search_path(path_list, k_pattern_tool))
    return "";
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec)
    return std::nullopt;
  std::string folder = self.parent_path().string();
  path_list += ":" + folder;
  setenv("PATH", path_list.c_str(), 1);
  if (!on_search_path(path_list, k_pattern_tool))
    return std::nullopt;
  return folder;
}

// The job table -------------------------------------------------------------------------------

// A job-table value as one cell of the listing: line ends removed.
std::string cell(std::string value)
{
  std::erase(value, '\n');
  std::erase(value, '\r');
  return value;
}

std::string joined(const std::vector<std::string>& values)
{
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i)
    text += (i ? "," : "") + cell(values[i]);
  return text;
}

std::string job_listing(const tarnwick::habron::JobListDict& jobs)
{
  std::string text = "Job\tFlow Table\tTest Instances\tAC Spec\tDC Spec\tPattern Sets\n";
  for (const auto& [name, job] : jobs) {
    text += cell(name) + '\t' + cell(job.flow_table) + '\t' + joined(job.test_instance_list)
            + '\t' + cell(job.ac_spec) + '\t' + cell(job.dc_spec) + '\t'
            + joined(job.pattern_set) + '\n';
  }
  return text;
}

// Where the job-list sheet of `device` was looked for, when none was found.
std::string job_list_not_found(const std::string& device, const Olvent& engine,
                               const std::string& temp_folder)
{
  const std::string wanted = "whose name matches \"job.*list\" (any case)";
  std::error_code ec;
  if (fs::is_directory(device, ec))
    return "no job-list sheet in " + device + ": no file or folder in it " + wanted;
  std::string lowered = device;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lowered.ends_with(".xlsm"))
    return "no job-list sheet in " + device + ": no sheet " + wanted;
  std::string top = fs::path(device).stem().string();
  if (engine.device_directory != temp_folder)
    return "no job-list sheet in " + device + ": no entry of its folder \"" + top + "\" " + wanted;
  return "no job-list sheet in " + device + ": no entry at the top of the archive " + wanted
         + ", and no folder \"" + top + "\" there";
}

} // namespace

int main(int argc, char** argv)
{
  CLI::App app{"Checks the test program of a device and writes the check workbook (.xlsm).",
               "olvent"};
  std::string device;
  std::vector<std::string> jobs;
  bool list = false;
  std::string output = "./";
  std::string platform = "UltraFLEX";
  std::string cycle_mode = "Period";
  std::string power_order;
  std::string patterns;
  std::string context_env;
  bool vbt_check = false;
  bool quiet = false;
  bool keep_temp = false;

  app.add_option("DEVICE", device,
                 "folder of sheet text exports, .igxl/.zip archive, or .xlsm workbook")
    ->type_name("")
    ->required();
  app.add_option("-j,--job", jobs,
                 "job to check; repeat -j for several jobs (-j A -j B), kept in the order\n"
                 "given; default: every job of the job list, in its order")
    ->type_name("NAME")
    ->allow_extra_args(false);
  app.add_flag("-l,--list-jobs", list, "print the job table and exit");
  app.add_option("-o,--output", output, "folder for the workbooks (default: the current folder)")
    ->type_name("DIR");
  app.add_option("--platform", platform, "UltraFLEX (default), UltraFLEXplus or J750")
    ->type_name("TEXT")
    ->check(CLI::IsMember({"UltraFLEX", "UltraFLEXplus", "J750"}));
  app.add_option("--cycle-mode", cycle_mode, "Period (default) or Frequency")
    ->type_name("MODE")
    ->check(CLI::IsMember({"Period", "Frequency"}));
  app.add_option("--power-order", power_order,
                 "power-order workbook (.xlsx/.xlsm; pin names and aliases in the\n"
                 "first two columns of its first sheet)")
    ->type_name("FILE");
  app.add_option("--patterns", patterns,
                 "pattern folder (enables the time-set query through the pattern\n"
                 "tool patinfo: the first on PATH, else the one beside olvent)")
    ->type_name("DIR");
  app.add_option("--context-env", context_env,
                 "context environment, put in front of every AC and DC category\n"
                 "that begins with \"::\" (CTX makes ::Slow CTX::Slow)")
    ->type_name("TEXT");
  app.add_flag("--vbt-check", vbt_check,
               "also run the VBT code check and write its report beside the\n"
               "check workbook");
  app.add_flag("-q,--quiet", quiet,
               "no progress bar, and of the engine's log only the reports of errors\n"
               "and warnings, every line of each (its reason, the flow row), on\n"
               "standard error; the paths of the files written on standard output");
  app.add_flag("--keep-temp", keep_temp,
               "keep the temporary folder (default: removed at exit, also on\n"
               "Ctrl-C, SIGTERM, SIGHUP or a closed output pipe)");
  app.set_version_flag("--version", "olvent " TARNWICK_VERSION);
  app.footer(k_statuses);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "olvent: error: " << e.what() << "\nRun with --help for more information.\n";
    return k_usage;
  }

  // What can be checked is checked before any sheet is read.
  struct stat device_status{};
  if (stat(device.c_str(), &device_status) != 0) {
    // A link that loops or leads nowhere is named as what it is.
    struct stat link_status{};
    if (errno == ENOENT && lstat(device.c_str(), &link_status) != 0)
      return fail(k_not_loaded, "device not found: " + device);
    if (errno == ENOENT)
      return fail(k_not_loaded, "device " + device + ": a link to nothing (" + std::strerror(errno) + ")");
    return fail(k_not_loaded, "device " + device + ": " + std::strerror(errno));
  }
  if (!list) {
    if (auto problem = output_folder_problem(output))
      return fail(k_not_loaded, "output folder " + output + ": " + *problem);
  }
  if (!power_order.empty()) {
    if (auto problem = input_file_problem(power_order))
      return fail(k_not_loaded, "power-order file " + power_order + ": " + *problem);
    if (auto problem = workbook_problem(power_order))
      return fail(k_not_loaded,
                  "power-order file " + power_order + ": not a readable workbook: " + *problem);
  }
  if (!patterns.empty()) {
    if (auto problem = input_folder_problem(patterns))
      return fail(k_not_loaded, "pattern folder " + patterns + ": " + *problem);
  }
  std::optional<std::string> pattern_tool = find_pattern_tool();
  if (!pattern_tool && !patterns.empty() && !list)
    std::cerr << "olvent: warning: no pattern tool " << k_pattern_tool
              << " on PATH nor beside olvent: the time sets, periods and clocks of the"
                 " patterns stay empty\n";

  Screen screen(quiet, !quiet && isatty(STDERR_FILENO) == 1);
  LineBuffer printed([&screen](const std::string& line) { screen.printed(line); });
  LineBuffer errors([&screen](const std::string& line) { screen.error(line); });
  Redirect printed_redirect(std::cout, printed);
  Redirect errors_redirect(std::cerr, errors);

  // The engine loads an unsupported file as a device without sheets, and says so in this line.
  bool unsupported = false;
  tarnwick::olvent::LogSink log = [&](const std::string& line) {
    if (line == "Error: file extension is not supported.")
      unsupported = true;
    screen.log(line);
  };
  tarnwick::olvent::ProgressSink progress = [&screen](double value) { screen.progress(value); };

  catch_ending_signals();
  try {
    tarnwick::files::TemporaryFolder temp("olvent");
    if (keep_temp) {
      temp.keep();
      std::cerr << "olvent: temporary folder: " << temp.path().string() << '\n';
    }
    Olvent engine(temp.path().string());

    try {
      engine.read_device(device, power_order, patterns, platform, log, cycle_mode, context_env,
                         vbt_check ? 1 : 0, progress);
    } catch (const std::exception& e) {
      screen.finish();
      return fail(k_not_loaded, e.what());
    }
    if (unsupported)
      return fail(k_not_loaded,
                  "not a device folder, .igxl/.zip archive or .xlsm workbook: " + device);
    if (engine.job_list_path().empty())
      return fail(k_not_loaded, job_list_not_found(device, engine, temp.path().string()));
    const auto& table = engine.get_job_list();
    const tarnwick::habron::JobListDict no_jobs;
    const auto& job_table = table ? *table : no_jobs;

    if (list) {
      screen.out(job_listing(job_table));
      return k_ok;
    }

    if (jobs.empty()) {
      for (const auto& entry : job_table)
        jobs.push_back(entry.first);
      if (jobs.empty())
        return fail(k_not_loaded, "the job list " + engine.named_for_user(engine.job_list_path())
                                    + " names no job");
    } else {
      for (const auto& job : jobs) {
        if (!job_table.contains(job)) {
          std::string known;
          for (const auto& entry : job_table)
            known += (known.empty() ? "" : ", ") + cell(entry.first);
          return fail(k_usage, "unknown job: " + job +
                                 "; known jobs: " + (known.empty() ? "(none)" : known));
        }
      }
    }

    screen.set_jobs(jobs.size());
    std::vector<std::string> written;
    try {
      written = engine.run(jobs, output);
    } catch (const std::exception& e) {
      screen.finish();
      return fail(k_no_workbook, e.what());
    }
    screen.finish();
    if (quiet) {
      for (const auto& path : written)
        screen.out(path + '\n');
    }
    if (written.empty()) {
      // A failed job still leaves the check workbook with the sheets written before it.
      if (!engine.partial_check_workbook().empty())
        return fail(k_no_workbook, "the run failed"
                                     + (engine.run_error().empty() ? "" : " (" + engine.run_error() + ")")
                                     + "; partial check workbook: " + engine.partial_check_workbook());
      return fail(k_no_workbook, "the run ended without a check workbook");
    }
    if (vbt_check && written.size() < 2) {
      const std::string why = engine.run_error().empty() ? "" : " (" + engine.run_error() + ")";
      return fail(k_no_vbt_report, "the VBT check wrote no report" + why
                                     + "; the check workbook is " + written.front());
    }
    return k_ok;
  } catch (const std::exception& e) {
    screen.finish();
    return fail(k_not_loaded, e.what());
  }
}
