// olvent: the command line that drives the device check engine.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "tarnwick/olvent/olvent.hpp"

namespace {

namespace fs = std::filesystem;
using tarnwick::olvent::Olvent;

// Exit statuses.
constexpr int k_ok = 0;
constexpr int k_usage = 1;
constexpr int k_not_loaded = 2;
constexpr int k_no_workbook = 3;

int fail(int status, const std::string& message)
{
  std::cerr << "olvent: error: " << message << '\n';
  return status;
}

// A fresh folder below $TMPDIR (or /tmp), removed when the guard goes unless kept.
class TempFolder
{
public:
  TempFolder()
  {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/olvent-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
      throw std::runtime_error("cannot create a temporary folder from " + pattern + ": " +
                               std::strerror(errno));
    m_path = buffer.data();
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder()
  {
    if (!m_keep) {
      std::error_code ec;
      fs::remove_all(m_path, ec);
    }
  }
  const std::string& path() const { return m_path; }
  void keep() { m_keep = true; }

private:
  std::string m_path;
  bool m_keep = false;
};

// Progress bar on standard error, redrawn in place; log lines printed meanwhile go above it.
class ProgressBar
{
public:
  void draw(double value)
  {
    m_value = std::clamp(value, 0.0, 100.0);
    m_shown = true;
    redraw();
  }
  void clear_line() const
  {
    if (m_shown)
      std::cerr << "\r\033[K" << std::flush;
  }
  void redraw() const
  {
    if (!m_shown)
      return;
    constexpr int width = 40;
    int filled = static_cast<int>(m_value / 100.0 * width);
    std::cerr << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] "
              << static_cast<int>(m_value) << "%" << std::flush;
  }
  void finish()
  {
    if (m_shown)
      std::cerr << '\n' << std::flush;
    m_shown = false;
  }

private:
  double m_value = 0;
  bool m_shown = false;
};

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

void list_jobs(const tarnwick::habron::JobListDict& jobs)
{
  std::cout << "Job\tFlow Table\tTest Instances\tAC Spec\tDC Spec\tPattern Sets\n";
  for (const auto& [name, job] : jobs) {
    std::cout << cell(name) << '\t' << cell(job.flow_table) << '\t'
              << joined(job.test_instance_list) << '\t' << cell(job.ac_spec) << '\t'
              << cell(job.dc_spec) << '\t' << joined(job.pattern_set) << '\n';
  }
  std::cout << std::flush;
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
                 "job to check; repeat for several, kept in the order given;\n"
                 "default: every job of the job list, in its order")
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
  app.add_option("--power-order", power_order, "power-order workbook")->type_name("FILE");
  app.add_option("--patterns", patterns, "pattern folder (enables the time-set query)")
    ->type_name("DIR");
  app.add_option("--context-env", context_env, "context environment")->type_name("TEXT");
  app.add_flag("--vbt-check", vbt_check, "also run the VBT code check");
  app.add_flag("-q,--quiet", quiet, "no log lines on standard output");
  app.add_flag("--keep-temp", keep_temp,
               "keep the temporary folder (default: removed at exit)");
  app.set_version_flag("--version", "olvent " TARNWICK_VERSION);

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

  std::error_code ec;
  if (!fs::exists(device, ec))
    return fail(k_not_loaded, "device not found: " + device);

  ProgressBar bar;
  bool show_progress = !quiet && isatty(STDERR_FILENO) == 1;
  // The engine loads an unsupported file as a device without sheets, and says so in this line.
  bool unsupported = false;
  tarnwick::olvent::LogSink log = [&](const std::string& line) {
    if (line == "Error: file extension is not supported.")
      unsupported = true;
    if (quiet)
      return;
    bar.clear_line();
    std::cout << line << '\n' << std::flush;
    bar.redraw();
  };
  tarnwick::olvent::ProgressSink progress;
  if (show_progress)
    progress = [&bar](double value) { bar.draw(value); };

  try {
    TempFolder temp;
    if (keep_temp) {
      temp.keep();
      std::cerr << "olvent: temporary folder: " << temp.path() << '\n';
    }
    Olvent engine(temp.path());

    try {
      engine.read_device(device, power_order, patterns, platform, log, cycle_mode, context_env,
                         vbt_check ? 1 : 0, progress);
    } catch (const std::exception& e) {
      bar.finish();
      return fail(k_not_loaded, e.what());
    }
    if (unsupported)
      return fail(k_not_loaded,
                  "not a device folder, .igxl/.zip archive or .xlsm workbook: " + device);
    const auto& table = engine.get_job_list();
    const tarnwick::habron::JobListDict no_jobs;
    const auto& job_table = table ? *table : no_jobs;

    if (list) {
      list_jobs(job_table);
      return k_ok;
    }

    if (jobs.empty()) {
      for (const auto& entry : job_table)
        jobs.push_back(entry.first);
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

    std::vector<std::string> written;
    try {
      written = engine.run(jobs, output);
    } catch (const std::exception& e) {
      bar.finish();
      return fail(k_no_workbook, e.what());
    }
    bar.finish();
    if (written.empty()) {
      // A failed job still leaves the check workbook with the sheets written before it.
      if (!engine.partial_check_workbook().empty())
        return fail(k_no_workbook,
                    "the run failed; partial check workbook: " + engine.partial_check_workbook());
      return fail(k_no_workbook, "the run ended without a check workbook");
    }
    return k_ok;
  } catch (const std::exception& e) {
    bar.finish();
    return fail(k_not_loaded, e.what());
  }
}
