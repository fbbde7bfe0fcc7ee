// Engine state, device loading and the two sinks.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tarnwick/common/common.hpp"
#include "tarnwick/habron/habron.hpp"
#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::olvent {

namespace {

namespace fs = std::filesystem;

// The last "/"-separated component of `path` ("" when it ends in "/").
std::string last_component(const std::string& path)
{
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `name` without its last extension; leading dots start no extension ("dev.tar.zip" gives
// "dev.tar", ".hidden" stays whole).
std::string without_extension(const std::string& name)
{
  auto dot = name.rfind('.');
  if (dot == std::string::npos || name.find_first_not_of('.') >= dot)
    return name;
  return name.substr(0, dot);
}

bool is_directory(const std::string& path)
{
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

// What `device_path` names as a device: a folder, else a file known by its extension in any
// case.
DeviceKind kind_of_device(const std::string& device_path)
{
  if (is_directory(device_path))
    return DeviceKind::folder;
  std::string lowered = text::lower(device_path);
  if (lowered.ends_with(".igxl") || lowered.ends_with(".zip"))
    return DeviceKind::archive;
  if (lowered.ends_with(".xlsm"))
    return DeviceKind::workbook;
  return DeviceKind::unsupported;
}

std::tm local_now()
{
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

} // namespace

Olvent::Olvent(std::string temp_directory)
    : device_directory(temp_directory), m_temp_directory(std::move(temp_directory)),
      m_clock(local_now)
{
  reset();
  test_instance_dict = std::make_shared<kenmoor::TestInstanceDict>();
  ac_spec_dict = std::make_shared<sarnet::SpecDict>();
}

void Olvent::reset()
{
  power_order_path.clear();
  pattern_path.clear();
  job_list_dict.reset();
  work_sheet = nullptr;
  text = nullptr;
  last_flow_info = LastFlowInfo{};
  glob_spec_dict = std::make_shared<tiskel::GlobSpecDict>();
  MAX_DSP_CNT = 0;
  pattern_set_dict = std::make_shared<kenmoor::PatternSetDict>();
  dc_spec_dict = std::make_shared<sarnet::SpecDict>();
  dc_selector_rows.reset();
  platform = "UltraFLEX";
  tsb_dict.clear();
  clock_dic.clear();
  write_row_index = 0;
  cycle_mode.clear();
  tset_dict.clear();
  pat2inst_dict.clear();
  progressbarOne = nullptr;
  power_list.clear();
  sort_bin_dscrp.clear();
  power_pin_clamp_dict.clear();
  enable_brimsel = false;
  // The records of the test-instance sheets are the largest tables kept between jobs; they
  // belong to the device that was loaded.
  if (m_column_cache) {
    m_column_cache->instance_sheets.clear();
    m_column_cache->pattern_sets.reset();
  }
}

void Olvent::read_device(const std::string& device_path, const std::string& power_order_path,
                         const std::string& pattern_path, const std::string& platform, LogSink text,
                         const std::string& cycle_mode, const std::string& context_env,
                         double enable_vbt_check, ProgressSink progressbarOne)
{
  bool first_load = !m_loaded;
  m_loaded = true;
  m_job_list_path.clear();
  m_workbook_device.clear();
  m_device_kind = kind_of_device(device_path);

  reset();
  this->text = std::move(text);
  this->platform = platform;
  this->cycle_mode = cycle_mode;
  this->progressbarOne = std::move(progressbarOne);

  if (!context_env.empty())
    put_data_log("Import Context Environment: " + context_env);
  this->context_env = context_env;
  if (!power_order_path.empty())
    put_data_log("Import Power Order File: " + power_order_path);
  this->power_order_path = power_order_path;
  if (!pattern_path.empty())
    put_data_log("Import Pattern Path: " + pattern_path);
  this->pattern_path = pattern_path;

  if (m_device_kind == DeviceKind::folder) {
    device_directory = device_path;
  } else {
    // The first load unpacks into the temporary folder itself; later loads into a fresh empty
    // folder below it, so that no earlier device (nor a folder of the host's) is written into
    // or searched again.
    if (!first_load) {
      std::string pattern = columns::join_path(m_temp_directory, "device-XXXXXX");
      std::vector<char> buffer(pattern.begin(), pattern.end());
      buffer.push_back('\0');
      if (mkdtemp(buffer.data()) == nullptr)
        throw Error("Cannot create a folder for the device in " + m_temp_directory + ": "
                    + std::strerror(errno));
      device_directory = buffer.data();
    }
    switch (m_device_kind) {
    case DeviceKind::archive:
      common::unzip(device_path, device_directory);
      break;
    case DeviceKind::workbook:
      common::export_sheets_to_txt(device_path, device_directory);
      m_workbook_device = device_path;
      break;
    case DeviceKind::unsupported:
      put_data_log("Error: file extension is not supported.", LogMark::error());
      break;
    case DeviceKind::none:
    case DeviceKind::folder:
      break;
    }

    std::string candidate =
        columns::join_path(device_directory, without_extension(last_component(device_path)));
    if (is_directory(candidate))
      device_directory = candidate;
  }

  enable_brimsel = enable_vbt_check == 1;
  if (enable_brimsel)
    put_data_log("Brimsel Enabled!");

  // The job-list sheet: the first by name of the regular files (links followed) whose name
  // matches, so that the choice does not hang on the order of the folder listing. A link to
  // nothing or a link that loops is passed over; a folder, FIFO or device only when a regular
  // file matches, else the first of them is read, and refused with what it is.
  static const text::Regex job_list_name("job.*list", {.caseless = true});
  std::vector<std::string> matching;
  std::vector<std::string> not_regular;
  for (const auto& entry : fs::directory_iterator(device_directory)) {
    std::string name = entry.path().filename().string();
    // Names that are not valid UTF-8 are matched in their repaired form and used as they are.
    if (!job_list_name.search(text::repair_utf8(name)))
      continue;
    std::error_code ec;
    const fs::file_status status = entry.status(ec);
    if (fs::is_regular_file(status))
      matching.push_back(std::move(name));
    else if (!ec && fs::exists(status))
      not_regular.push_back(std::move(name));
  }
  if (matching.empty() && !not_regular.empty())
    matching.push_back(*std::min_element(not_regular.begin(), not_regular.end()));
  std::sort(matching.begin(), matching.end());
  std::string job_list_path;
  if (!matching.empty()) {
    job_list_path = columns::join_path(device_directory, matching.front());
    if (matching.size() > 1) {
      std::string others;
      for (std::size_t i = 1; i < matching.size(); ++i)
        others += (i > 1 ? ", " : "") + columns::join_path(device_directory, matching[i]);
      put_data_log("Warning: several job-list sheets: reading " + job_list_path + "; not read: "
                   + others, LogMark::warning());
    }
  }

  habron::Habron reader;
  try {
    reader.read_job_list(job_list_path);
    m_job_list_path = job_list_path;
  } catch (const FileNotFoundError&) {
    // No job-list sheet: the device has no jobs.
  } catch (const Error& error) {
    throw Error(named_for_user(error.what()));
  }
  job_list_dict = reader.get_test_job_list_info();
}

const std::shared_ptr<habron::JobListDict>& Olvent::get_job_list() const
{
  return job_list_dict;
}

const std::string& Olvent::job_list_path() const
{
  return m_job_list_path;
}

void Olvent::put_data_log(const std::string& data_log, const LogMark& mark)
{
  if (!text && !m_marked_log)
    return;
  const std::string line = named_for_user(data_log);
  if (m_marked_log)
    m_marked_log(line, mark);
  if (text)
    text(line);
}

void Olvent::set_marked_log_sink(MarkedLogSink sink)
{
  m_marked_log = std::move(sink);
}

std::string Olvent::named_for_user(std::string message) const
{
  if (m_workbook_device.empty())
    return message;
  const std::string folder = columns::join_path(device_directory, "");
  for (std::size_t at = message.find(folder); at != std::string::npos;
       at = message.find(folder, at)) {
    const std::size_t name = at + folder.size();
    const std::size_t end = message.find(".txt", name);
    if (end == std::string::npos || message.find('/', name) < end) {
      at = name;
      continue;
    }
    const std::string sheet = "[" + m_workbook_device + "]"
                              + text::replace_all(message.substr(name, end - name), "%20", " ");
    message.replace(at, end + 4 - at, sheet);
    at += sheet.size();
  }
  return message;
}

void Olvent::update_progressbar(double val)
{
  if (progressbarOne)
    progressbarOne(val);
}

void Olvent::set_clock(Clock clock)
{
  m_clock = std::move(clock);
}

} // namespace tarnwick::olvent
