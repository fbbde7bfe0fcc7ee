// olvent: the command line that drives the device check engine. A run goes through its steps
// in order: parse the options, check the inputs, load the device, then list its jobs or check
// them and report what was written.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "tarnwick/files/ending_signals.hpp"
#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/olvent/screen.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace {

namespace fs = std::filesystem;
using tarnwick::olvent::DeviceKind;
using tarnwick::olvent::Olvent;
using tarnwick::olvent::Screen;

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

// The options ---------------------------------------------------------------------------------

// What the command line asks for.
struct Options
{
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
};

// Declares the options of `app`, read into `options`.
void add_options(CLI::App& app, Options& options)
{
  app.add_option("DEVICE", options.device,
                 "folder of sheet text exports, .igxl/.zip archive, or .xlsm workbook")
    ->type_name("")
    ->required();
  app.add_option("-j,--job", options.jobs,
                 "job to check; repeat -j for several jobs (-j A -j B), kept in the order\n"
                 "given; default: every job of the job list, in its order")
    ->type_name("NAME")
    ->allow_extra_args(false);
  app.add_flag("-l,--list-jobs", options.list, "print the job table and exit");
  app.add_option("-o,--output", options.output,
                 "folder for the workbooks (default: the current folder)")
    ->type_name("DIR");
  app.add_option("--platform", options.platform, "UltraFLEX (default), UltraFLEXplus or J750")
    ->type_name("TEXT")
    ->check(CLI::IsMember({"UltraFLEX", "UltraFLEXplus", "J750"}));
  app.add_option("--cycle-mode", options.cycle_mode, "Period (default) or Frequency")
    ->type_name("MODE")
    ->check(CLI::IsMember({"Period", "Frequency"}));
  app.add_option("--power-order", options.power_order,
                 "power-order workbook (.xlsx/.xlsm; pin names and aliases in the\n"
                 "first two columns of its first sheet)")
    ->type_name("FILE");
  app.add_option("--patterns", options.patterns,
                 "pattern folder (enables the time-set query through the pattern\n"
                 "tool patinfo: the first on PATH, else the one beside olvent)")
    ->type_name("DIR");
  app.add_option("--context-env", options.context_env,
                 "context environment, put in front of every AC and DC category\n"
                 "that begins with \"::\" (CTX makes ::Slow CTX::Slow)")
    ->type_name("TEXT");
  app.add_flag("--vbt-check", options.vbt_check,
               "also run the VBT code check and write its report beside the\n"
               "check workbook");
  app.add_flag("-q,--quiet", options.quiet,
               "no progress bar, and of the engine's log only the reports of errors\n"
               "and warnings, every line of each (its reason, the flow row), on\n"
               "standard error; the paths of the files written on standard output");
  app.add_flag("--keep-temp", options.keep_temp,
               "keep the temporary folder (default: removed at exit, also on\n"
               "Ctrl-C, SIGTERM, SIGHUP or a closed output pipe)");
  app.set_version_flag("--version", "olvent " TARNWICK_VERSION);
  app.footer(k_statuses);
}

// Reads the command line `argv` into `options`. The exit status when olvent ends here (help,
// version, a usage error), else nothing.
std::optional<int> parse_options(int argc, char** argv, Options& options)
{
  CLI::App app{"Checks the test program of a device and writes the check workbook (.xlsm).",
               "olvent"};
  add_options(app, options);
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
  return std::nullopt;
}

// Checks before the run ------------------------------------------------------------------------

// Why the device `device` cannot be loaded as it is named, or nothing.
std::optional<std::string> device_problem(const std::string& device)
{
  struct stat device_status{};
  if (stat(device.c_str(), &device_status) == 0)
    return std::nullopt;
  // A link that loops or leads nowhere is named as what it is.
  struct stat link_status{};
  if (errno == ENOENT && lstat(device.c_str(), &link_status) != 0)
    return "device not found: " + device;
  if (errno == ENOENT)
    return "device " + device + ": a link to nothing (" + std::strerror(errno) + ")";
  return "device " + device + ": " + std::strerror(errno);
}

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

// Checks what can be checked before any sheet is read, and warns when the pattern tool is
// missing. The exit status when olvent ends here, else nothing.
std::optional<int> check_inputs(const Options& options)
{
  if (auto problem = device_problem(options.device))
    return fail(k_not_loaded, *problem);
  if (!options.list) {
    if (auto problem = output_folder_problem(options.output))
      return fail(k_not_loaded, "output folder " + options.output + ": " + *problem);
  }
  if (!options.power_order.empty()) {
    if (auto problem = input_file_problem(options.power_order))
      return fail(k_not_loaded, "power-order file " + options.power_order + ": " + *problem);
    if (auto problem = workbook_problem(options.power_order))
      return fail(k_not_loaded, "power-order file " + options.power_order
                                    + ": not a readable workbook: " + *problem);
  }
  if (!options.patterns.empty()) {
    if (auto problem = input_folder_problem(options.patterns))
      return fail(k_not_loaded, "pattern folder " + options.patterns + ": " + *problem);
  }
  std::optional<std::string> pattern_tool = find_pattern_tool();
  if (!pattern_tool && !options.patterns.empty() && !options.list)
    std::cerr << "olvent: warning: no pattern tool " << k_pattern_tool
              << " on PATH nor beside olvent: the time sets, periods and clocks of the"
                 " patterns stay empty\n";
  return std::nullopt;
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
  switch (engine.device_kind()) {
  case DeviceKind::folder:
    return "no job-list sheet in " + device + ": no file or folder in it " + wanted;
  case DeviceKind::workbook:
    return "no job-list sheet in " + device + ": no sheet " + wanted;
  case DeviceKind::archive:
  case DeviceKind::none:
  case DeviceKind::unsupported:
    break;
  }
  std::string top = fs::path(device).stem().string();
  if (engine.device_directory != temp_folder)
    return "no job-list sheet in " + device + ": no entry of its folder \"" + top + "\" " + wanted;
  return "no job-list sheet in " + device + ": no entry at the top of the archive " + wanted
         + ", and no folder \"" + top + "\" there";
}

// The run ---------------------------------------------------------------------------------------

// Loads the device of `options` into `engine`, its log and progress shown on `screen`. The exit
// status when the device cannot be checked (it could not be loaded, is of no kind the engine
// reads, or has no job-list sheet), else nothing.
std::optional<int> load_device(Olvent& engine, const Options& options, Screen& screen,
                               const std::string& temp_folder)
{
  engine.set_marked_log_sink(
      [&screen](const std::string& line, const tarnwick::olvent::LogMark& mark) {
        screen.log(line, mark);
      });
  try {
    engine.read_device(options.device, options.power_order, options.patterns, options.platform,
                       nullptr, options.cycle_mode, options.context_env,
                       options.vbt_check ? 1 : 0,
                       [&screen](double value) { screen.progress(value); });
  } catch (const std::exception& e) {
    screen.finish();
    return fail(k_not_loaded, e.what());
  }
  // The engine loads an unsupported file as a device without sheets, after logging so.
  if (engine.device_kind() == DeviceKind::unsupported)
    return fail(k_not_loaded,
                "not a device folder, .igxl/.zip archive or .xlsm workbook: " + options.device);
  if (engine.job_list_path().empty())
    return fail(k_not_loaded, job_list_not_found(options.device, engine, temp_folder));
  return std::nullopt;
}

// Completes `jobs` (the jobs of -j, in their order) against the job table `table`: every job
// of the table when none was named. The exit status when there is nothing to check or a job
// is unknown, else nothing.
std::optional<int> select_jobs(const Olvent& engine, const tarnwick::habron::JobListDict& table,
                               std::vector<std::string>& jobs)
{
  if (jobs.empty()) {
    for (const auto& entry : table)
      jobs.push_back(entry.first);
    if (jobs.empty())
      return fail(k_not_loaded, "the job list " + engine.named_for_user(engine.job_list_path())
                                    + " names no job");
    return std::nullopt;
  }
  for (const auto& job : jobs) {
    if (!table.contains(job)) {
      std::string known;
      for (const auto& entry : table)
        known += (known.empty() ? "" : ", ") + cell(entry.first);
      return fail(k_usage,
                  "unknown job: " + job + "; known jobs: " + (known.empty() ? "(none)" : known));
    }
  }
  return std::nullopt;
}

// Reports how the run that wrote `written` ended (quiet, the paths written come first): the
// exit status.
int report_run(const Olvent& engine, const std::vector<std::string>& written,
               const Options& options, Screen& screen)
{
  if (options.quiet) {
    for (const auto& path : written)
      screen.out(path + '\n');
  }
  const std::string why = engine.run_error().empty() ? "" : " (" + engine.run_error() + ")";
  if (written.empty()) {
    // A failed job still leaves the check workbook with the sheets written before it.
    if (!engine.partial_check_workbook().empty())
      return fail(k_no_workbook, "the run failed" + why + "; partial check workbook: "
                                     + engine.partial_check_workbook());
    return fail(k_no_workbook, "the run ended without a check workbook");
  }
  if (options.vbt_check && written.size() < 2) {
    return fail(k_no_vbt_report, "the VBT check wrote no report" + why
                                   + "; the check workbook is " + written.front());
  }
  return k_ok;
}

// Checks `jobs` of the loaded device and reports what was written: the exit status.
int check_jobs(Olvent& engine, const std::vector<std::string>& jobs, const Options& options,
               Screen& screen)
{
  screen.set_jobs(jobs.size());
  std::vector<std::string> written;
  try {
    written = engine.run(jobs, options.output);
  } catch (const std::exception& e) {
    screen.finish();
    return fail(k_no_workbook, e.what());
  }
  screen.finish();
  return report_run(engine, written, options, screen);
}

// Loads the device in a temporary folder of its own, then lists its jobs or checks them: the
// exit status.
int load_and_run(const Options& options, Screen& screen)
{
  tarnwick::files::TemporaryFolder temp("olvent");
  if (options.keep_temp) {
    temp.keep();
    std::cerr << "olvent: temporary folder: " << temp.path().string() << '\n';
  }
  Olvent engine(temp.path().string());
  if (auto failed = load_device(engine, options, screen, temp.path().string()))
    return *failed;
  const auto& table = engine.get_job_list();
  const tarnwick::habron::JobListDict no_jobs;
  const auto& job_table = table ? *table : no_jobs;

  if (options.list) {
    screen.out(job_listing(job_table));
    return k_ok;
  }
  std::vector<std::string> jobs = options.jobs;
  if (auto failed = select_jobs(engine, job_table, jobs))
    return *failed;
  return check_jobs(engine, jobs, options, screen);
}

} // namespace

int main(int argc, char** argv)
{
  Options options;
  if (auto ended = parse_options(argc, argv, options))
    return *ended;
  if (auto failed = check_inputs(options))
    return *failed;

  // From here on, all output goes through the screen: what the engine and its readers write on
  // std::cout and std::cerr too.
  using tarnwick::olvent::LineBuffer;
  using tarnwick::olvent::ProgressBar;
  using tarnwick::olvent::Redirect;
  using tarnwick::olvent::Verbosity;
  Screen screen(options.quiet ? Verbosity::quiet : Verbosity::every_line,
                !options.quiet && isatty(STDERR_FILENO) == 1 ? ProgressBar::shown
                                                             : ProgressBar::hidden);
  LineBuffer printed([&screen](const std::string& line) { screen.printed(line); });
  LineBuffer errors([&screen](const std::string& line) { screen.error(line); });
  Redirect printed_redirect(std::cout, printed);
  Redirect errors_redirect(std::cerr, errors);

  // A signal that ends the run removes the temporary folder and the workbook being written, and
  // ends the bar's line. A signal that the caller set to be ignored (SIGINT of a background
  // job) stays ignored.
  tarnwick::files::catch_ending_signals(tarnwick::olvent::end_bar_line);
  try {
    return load_and_run(options, screen);
  } catch (const std::exception& e) {
    screen.finish();
    return fail(k_not_loaded, e.what());
  }
}
