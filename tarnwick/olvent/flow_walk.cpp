// The job flow walk: reads one job's sheets, lays out its flow rows on the job sheet and drives
// the power-pin and pattern columns row by row.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "tarnwick/dravel/dravel.hpp"
#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/lomerick/lomerick.hpp"
#include "tarnwick/morvane/morvane.hpp"
#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/pellick/pellick.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/tiskel/tiskel.hpp"

namespace tarnwick::olvent {

namespace {

bool exists(const std::string& path)
{
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// The progress points of one job, in the order the flow walk reaches them.
constexpr double k_progress_job_started = 1;         // the job is found, its flow named
constexpr double k_progress_flow_table_read = 2;     // the flow rows are read
constexpr double k_progress_pattern_sets_read = 3;   // the pattern-set table is the job's
constexpr double k_progress_test_instances_read = 4; // the test-instance table is the job's
constexpr double k_progress_dc_spec_read = 5;
constexpr double k_progress_global_spec_read = 6;
constexpr double k_progress_ac_spec_read = 7;

// The progress of a pass over the flow rows: from `start` across `span` as the rows go by.
struct ProgressSpan
{
  double start;
  double span;

  // The value at `row` of `rows` (a double, so that no value is rounded).
  double at(std::size_t row, double rows) const
  {
    return start + span * static_cast<double>(row) / rows;
  }
};

// The layout pass reports row i before it, the power pass likewise, the pattern pass after it
// (its last row reaches 100).
constexpr ProgressSpan k_progress_layout_pass{8, 10};
constexpr ProgressSpan k_progress_power_pass{19, 10};
constexpr ProgressSpan k_progress_pattern_pass{30, 70};

// The paths of one job's sheets, worked out from its job-list entry.
struct JobPaths
{
  std::string flow_table;           // device folder + "/" + flow-table name + ".txt"
  std::string flow_table_directory; // `flow_table` without its last "/" part
  std::string pre_flow_name;        // the flow file name up to its first "."

  // The sheet `name` in the flow folder, written as it is.
  std::string plain(const std::string& name) const
  {
    return columns::join_path(flow_table_directory, name + ".txt");
  }
  // The same with every blank of `name` written as "%20".
  std::string escaped(const std::string& name) const
  {
    return columns::join_path(flow_table_directory, text::replace_all(name, " ", "%20") + ".txt");
  }
  // `escaped` of each of `names`.
  std::vector<std::string> escaped(const std::vector<std::string>& names) const
  {
    std::vector<std::string> paths;
    for (const auto& name : names)
      paths.push_back(escaped(name));
    return paths;
  }
  // The plain form when something exists there, else the escaped form.
  std::string spec(const std::string& name) const
  {
    std::string path = plain(name);
    return exists(path) ? path : escaped(name);
  }
};

JobPaths job_paths(const std::string& device_directory, const std::string& flow_table_name)
{
  JobPaths paths;
  paths.flow_table = device_directory + "/" + flow_table_name + ".txt";
  std::size_t slash = paths.flow_table.rfind('/');
  paths.flow_table_directory = paths.flow_table.substr(0, slash);
  std::string flow_name = paths.flow_table.substr(slash + 1);
  paths.pre_flow_name = flow_name.substr(0, flow_name.find('.'));
  return paths;
}

// What a job's pattern-set sheets do to the pattern-set table.
enum class PatternSetTable
{
  replace, // the sets read now are the table (also for a job that names no sheet)
  keep,    // every sheet was skipped: the table stays as the previous job left it
  merge,   // the sets read now go over the table an earlier job left
};

// The walk over one job's pattern-set sheets. A sheet that is the one read last is skipped:
// before this job has read a sheet, that is an earlier job's sheet, whose sets must stay
// available; after, it is one of this job's own, in the reader already.
class PatternSetWalk
{
public:
  // The sheet was the one read last.
  void skipped()
  {
    m_skipped = true;
    m_skipped_earlier = m_skipped_earlier || !m_read;
  }

  // The sheet was read.
  void read()
  {
    m_tried = true;
    m_read = true;
  }

  // The sheet could not be read.
  void failed() { m_tried = true; }

  // What the sheets walked so far do to the table.
  PatternSetTable table() const
  {
    if (m_skipped && !m_tried)
      return PatternSetTable::keep;
    return m_skipped_earlier ? PatternSetTable::merge : PatternSetTable::replace;
  }

private:
  bool m_skipped = false;         // a sheet was skipped
  bool m_tried = false;           // a sheet was read or failed
  bool m_read = false;            // a sheet of this job was read
  bool m_skipped_earlier = false; // a sheet was skipped before this job read one
};

// Appends the records of `sheet` to `table`, names new to `table` in `sheet`'s order.
void add_instances(kenmoor::TestInstanceDict& table, const kenmoor::TestInstanceDict& sheet)
{
  for (const auto& [name, records] : sheet) {
    auto& into = table[name];
    into.insert(into.end(), records.begin(), records.end());
  }
}

// What one DC or AC spec sheet holds.
struct SpecSheet
{
  std::shared_ptr<const sarnet::SpecDict> table;
  std::shared_ptr<const sarnet::SelectorRows> selector_rows;
  std::string version;
};

SpecSheet read_dc_spec_sheet(const std::string& path, const std::string& platform)
{
  morvane::Morvane reader;
  reader.read_dc_spec(path, platform);
  return {reader.get_dc_info(), reader.get_selector_rows(), reader.get_spec_version()};
}

SpecSheet read_ac_spec_sheet(const std::string& path, const std::string& platform)
{
  pellick::Pellick reader;
  reader.read_ac_spec(path, platform);
  return {reader.get_ac_info(), reader.get_selector_rows(), reader.get_spec_version()};
}

} // namespace

// One kind of spec sheet, DC or AC: how the log and the job list name it, how it is read, and
// where the engine keeps what was read.
struct Olvent::SpecSheetKind
{
  std::string kind;   // "DC spec"
  std::string column; // the job-list column that names the sheet: "DC Specs"
  SpecSheet (*read)(const std::string& path, const std::string& platform);
  std::shared_ptr<const sarnet::SpecDict>& table;
  std::shared_ptr<const sarnet::SelectorRows>& selector_rows;
  std::string& version;                  // the version of `table`'s sheet
  std::optional<std::string>& read_last; // the path of the sheet read last
};

void Olvent::run_each_flow(const std::string& job_name)
{
  if (!job_list_dict)
    throw Error("No device is loaded: cannot check the job " + job_name);
  auto entry_it = job_list_dict->find(job_name);
  if (entry_it == job_list_dict->end())
    throw Error("Job not found in the job list: " + job_name);
  const habron::JobListContent& job = entry_it->second;

  const JobPaths paths = job_paths(device_directory, job.flow_table);
  update_progressbar(k_progress_job_started);
  put_data_log("Parse Job: " + job_name, LogMark::job_begins());
  put_data_log("Lomerick: " + paths.pre_flow_name);
  if (job.flow_table.empty()) {
    put_data_log("Flow Table Path Cannot be Empty, Please Check!", LogMark::error());
    return;
  }

  lomerick::Lomerick flow_reader;
  flow_reader.read_flow_table(text::replace_all(paths.flow_table, " ", "%20"), platform);
  std::shared_ptr<lomerick::TestSuiteList> flow_table_info_list = flow_reader.get_test_suite_info();
  const std::string dc_spec_path = paths.spec(job.dc_spec);
  const std::string ac_spec_path = paths.spec(job.ac_spec);
  const std::string glob_spec_path = paths.spec(job.global_spec);
  update_progressbar(k_progress_flow_table_read);

  read_pattern_sets(paths.escaped(job.pattern_set));
  update_progressbar(k_progress_pattern_sets_read);
  read_test_instances(paths.escaped(job.test_instance_list));
  update_progressbar(k_progress_test_instances_read);

  read_spec_sheet(job_name, job.dc_spec, dc_spec_path,
                  {.kind = "DC spec",
                   .column = "DC Specs",
                   .read = read_dc_spec_sheet,
                   .table = dc_spec_dict,
                   .selector_rows = dc_selector_rows,
                   .version = dc_spec_version,
                   .read_last = last_flow_info.dc_spec_name});
  update_progressbar(k_progress_dc_spec_read);
  read_global_spec(glob_spec_path);
  update_progressbar(k_progress_global_spec_read);
  read_spec_sheet(job_name, job.ac_spec, ac_spec_path,
                  {.kind = "AC spec",
                   .column = "AC Specs",
                   .read = read_ac_spec_sheet,
                   .table = ac_spec_dict,
                   .selector_rows = ac_selector_rows,
                   .version = ac_spec_version,
                   .read_last = last_flow_info.ac_spec_name});
  update_progressbar(k_progress_ac_spec_read);

  lomerick::TestSuiteList& rows = *flow_table_info_list;
  lay_out_flow_rows(rows);
  write_power_pass(rows, paths.flow_table_directory);
  write_pattern_pass(rows, paths.flow_table_directory);

  // Every test row found no test instance ("Info: cannot found ..."): the sheet is empty.
  if (!rows.empty() && write_row_index == 0) {
    put_data_log("Warning: no test instance found for any of the "
                     + text::format_int(static_cast<std::int64_t>(rows.size()))
                     + " test rows of the job " + job_name + "; its sheet is empty",
                 LogMark::warning());
  }
}

void Olvent::read_pattern_sets(const std::vector<std::string>& pattern_set_paths)
{
  dravel::Dravel pattern_reader;
  PatternSetWalk walk;
  for (const auto& path : pattern_set_paths) {
    if (last_flow_info.pattern_set_name == path) {
      walk.skipped();
      continue;
    }
    try {
      pattern_reader.read_pattern_set(path, pattern_path, platform);
      last_flow_info.pattern_set_name = path;
      walk.read();
    } catch (const std::exception&) {
      walk.failed();
      put_data_log("Warning: cannot read PatternSet, please check it!", LogMark::warning());
    }
  }
  switch (walk.table()) {
  case PatternSetTable::keep:
    return;
  case PatternSetTable::replace:
    pattern_set_dict = pattern_reader.get_pattern_set_info();
    return;
  case PatternSetTable::merge: {
    // The sets of a sheet an earlier job read stay available: start from the previous table
    // and let the sheets read now override it. A sheet named twice in a row by this job is
    // in the reader already and brings no earlier job's sets with it.
    const std::shared_ptr<kenmoor::PatternSetDict> sets = pattern_reader.get_pattern_set_info();
    auto merged = std::make_shared<kenmoor::PatternSetDict>(*pattern_set_dict);
    for (const auto& [name, files] : *sets)
      (*merged)[name] = files;
    pattern_set_dict = merged;
    return;
  }
  }
}

// Every sheet is read, and a failing one does not stop the others. A sheet unchanged since an
// earlier job read it with an equal pattern-set table is not parsed again: its records are added
// as that read found them, which is what reading all sheets on one reader gives.
void Olvent::read_test_instances(const std::vector<std::string>& test_instance_paths)
{
  columns::Cache& cache = columns::cache_in(m_column_cache);
  cache.begin_call();
  const std::shared_ptr<const kenmoor::PatternSetDict> sets =
      cache.pattern_sets_like(*pattern_set_dict);
  auto job_instances = std::make_shared<kenmoor::TestInstanceDict>();
  for (const auto& path : test_instance_paths) {
    std::shared_ptr<const kenmoor::TestInstanceDict> read_so_far;
    try {
      const auto& sheet = cache.instance_sheets.get(
          text::existing_or_unescaped(path),
          [&](const std::string&) {
            kenmoor::Kenmoor reader;
            try {
              reader.read_test_instance(path, *sets, platform);
            } catch (...) {
              read_so_far = reader.get_instance_info();
              throw;
            }
            return columns::InstanceSheet{reader.get_instance_info(), sets};
          },
          platform,
          [&](const columns::InstanceSheet& known) {
            return columns::Cache::instance_sheet_usable(known, sets);
          });
      add_instances(*job_instances, *sheet.tables.instances);
    } catch (const std::exception& e) {
      // The records read before the failure stay.
      if (read_so_far)
        add_instances(*job_instances, *read_so_far);
      // The path of the file the reader tried: the blank-escaped form only when that exists.
      put_data_log("Error: cannot read " + text::existing_or_unescaped(path) + ", please check it!",
                   LogMark::error());
      std::cout << named_for_user(e.what()) << std::endl;
    }
  }
  test_instance_dict = job_instances;
}

// A job whose "DC Specs" or "AC Specs" cell is empty has no such sheet: it is checked with an
// empty table of that kind, so its symbols resolve from the global specs alone. The path ""
// stands for that table in `last_flow_info`.
void Olvent::read_spec_sheet(const std::string& job_name, const std::string& sheet,
                             const std::string& path, SpecSheetKind spec)
{
  const std::string& column = spec.column;
  const std::string& kind = spec.kind;
  if (text::strip(sheet).empty()) {
    put_data_log("Warning: the job " + job_name + " names no " + kind + " sheet (its \"" + column
                     + "\" cell is empty); it is checked with an empty " + kind + " table",
                 LogMark::warning());
    if (spec.read_last != "") {
      spec.table = std::make_shared<sarnet::SpecDict>();
      spec.selector_rows.reset();
      spec.version.clear();
      spec.read_last = "";
    }
  } else if (spec.read_last != path) {
    SpecSheet read = spec.read(path, platform);
    spec.table = read.table;
    spec.selector_rows = read.selector_rows;
    spec_version = read.version;
    spec.version = spec_version;
    spec.read_last = path;
  }
}

void Olvent::read_global_spec(const std::string& glob_spec_path)
{
  if (last_flow_info.glob_spec_name != glob_spec_path) {
    tiskel::ParseGlobalSpec reader;
    try {
      reader.read_spec(glob_spec_path, platform);
      glob_spec_dict = reader.get_info();
      last_flow_info.glob_spec_name = glob_spec_path;
    } catch (const std::exception&) {
      put_data_log("Warning: cannot read Global Specs, please check it!", LogMark::warning());
    }
  }
}

void Olvent::lay_out_flow_rows(lomerick::TestSuiteList& rows)
{
  init();
  const double n = static_cast<double>(rows.size());
  sort_bin_dscrp.clear();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    lomerick::FlowContent& row = rows[i];
    if (!row.sort_bin.empty())
      sort_bin_dscrp.push_back({row.sort_bin, row.parameter});
    row.write_row_start = write_row_index;
    if (auto it = test_instance_dict->find(row.parameter); it != test_instance_dict->end())
      write_row_index += static_cast<int>(it->second.size());
    update_progressbar(k_progress_layout_pass.at(i, n));
  }
}

void Olvent::write_power_pass(const lomerick::TestSuiteList& rows,
                              const std::string& flow_table_directory)
{
  const double n = static_cast<double>(rows.size());
  power_list.clear();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const lomerick::FlowContent& row = rows[i];
    int write_row = static_cast<int>(*row.write_row_start);
    try {
      test_table_process(write_row, row);
      int dps_count = power_process_and_get_count(flow_table_directory, row, write_row);
      save_max_col(dps_count);
    } catch (const std::exception& e) {
      // Columns the failed row added still count, or the pattern columns would cover them.
      save_max_col(static_cast<int>(power_list.size()));
      report_row_error("Error found in power process:", e, i, row);
    }
    update_progressbar(k_progress_power_pass.at(i, n));
  }
}

void Olvent::write_pattern_pass(const lomerick::TestSuiteList& rows,
                                const std::string& flow_table_directory)
{
  const double n = static_cast<double>(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const lomerick::FlowContent& row = rows[i];
    int write_row = static_cast<int>(*row.write_row_start);
    try {
      pattern_period_clk_process(MAX_DSP_CNT, write_row, row, flow_table_directory);
    } catch (const std::exception& e) {
      report_row_error("Error found in pattern/timing process:", e, i, row);
    }
    update_progressbar(k_progress_pattern_pass.at(i + 1, n));
  }
}

// Three log lines and one standard-output line.
void Olvent::report_row_error(const std::string& heading, const std::exception& error,
                              std::size_t i, const lomerick::FlowContent& row)
{
  const std::string printed = lomerick::printed(row);
  put_data_log(heading, LogMark::error());
  put_data_log(error.what(), LogMark::error_detail());
  put_data_log(text::format_int(static_cast<std::int64_t>(i)) + " - " + printed,
               LogMark::error_detail());
  std::cout << i << ' ' << printed << std::endl;
}

void Olvent::init()
{
  xlsx::Worksheet& sheet = *work_sheet;
  sheet.write_string(0, 0, "Opcode");
  sheet.write_string(0, 1, "Parameter");
  sheet.write_string(0, 2, "TestNumber");
  sheet.write_string(0, 3, "HardBinNumber");
  sheet.write_string(0, 4, "SortBinNumber");
  sheet.write_string(0, 5, "Result");
  sheet.set_column(1, 1, 20);
  sheet.set_column(2, 5, 15);
  write_row_index = 0;
}

void Olvent::test_table_process(int flow_table_index, const lomerick::FlowContent& flow_table_info)
{
  auto it = test_instance_dict->find(flow_table_info.parameter);
  if (it == test_instance_dict->end())
    return;
  xlsx::Worksheet& sheet = *work_sheet;
  auto r = static_cast<xlsx::Row>(flow_table_index + 1);
  for (std::size_t k = 0; k < it->second.size(); ++k, ++r) {
    sheet.write_string(r, 0, flow_table_info.opcode);
    sheet.write_string(r, 1, flow_table_info.parameter);
    sheet.write_string(r, 2, flow_table_info.test_number);
    sheet.write_string(r, 3, flow_table_info.hard_bin);
    sheet.write_string(r, 4, flow_table_info.sort_bin);
    if (flow_table_info.opcode == "nop")
      sheet.set_row(r, std::nullopt, format_red);
    const std::string& result = flow_table_info.result;
    if (result == "None" || result.empty())
      sheet.write_string(r, 5, result, format_yellow);
    else
      sheet.write_string(r, 5, result);
  }
}

void Olvent::save_max_col(int col_cnt)
{
  if (MAX_DSP_CNT < col_cnt)
    MAX_DSP_CNT = col_cnt;
}

} // namespace tarnwick::olvent
