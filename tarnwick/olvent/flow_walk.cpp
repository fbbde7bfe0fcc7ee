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
  // The plain form when something exists there, else the escaped form.
  std::string spec(const std::string& name) const
  {
    std::string path = plain(name);
    return exists(path) ? path : escaped(name);
  }
};

// Appends the records of `sheet` to `table`, names new to `table` in `sheet`'s order.
void add_instances(kenmoor::TestInstanceDict& table, const kenmoor::TestInstanceDict& sheet)
{
  for (const auto& [name, records] : sheet) {
    auto& into = table[name];
    into.insert(into.end(), records.begin(), records.end());
  }
}

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

} // namespace

void Olvent::run_each_flow(const std::string& job_name)
{
  if (!job_list_dict)
    throw Error("No device is loaded: cannot check the job " + job_name);
  auto entry_it = job_list_dict->find(job_name);
  if (entry_it == job_list_dict->end())
    throw Error("Job not found in the job list: " + job_name);
  const habron::JobListContent& job = entry_it->second;

  // Sheet paths ---------------------------------------------------------------------------------
  JobPaths paths = job_paths(device_directory, job.flow_table);
  update_progressbar(1);
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
  std::vector<std::string> pattern_set_paths;
  for (const auto& name : job.pattern_set)
    pattern_set_paths.push_back(paths.escaped(name));
  std::vector<std::string> test_instance_paths;
  for (const auto& name : job.test_instance_list)
    test_instance_paths.push_back(paths.escaped(name));
  update_progressbar(2);

  // Pattern sets: a sheet that is the one read last is not read again.
  dravel::Dravel pattern_reader;
  bool any_skipped = false;
  bool any_taken = false;
  bool read_one = false;        // a sheet of this job was read
  bool skipped_earlier = false; // a sheet skipped was read by an earlier job, not this one
  for (const auto& path : pattern_set_paths) {
    if (last_flow_info.pattern_set_name == path) {
      any_skipped = true;
      // Once this job has read a sheet, the sheet read last is one of its own.
      skipped_earlier = skipped_earlier || !read_one;
      continue;
    }
    any_taken = true;
    try {
      pattern_reader.read_pattern_set(path, pattern_path, platform);
      last_flow_info.pattern_set_name = path;
      read_one = true;
    } catch (const std::exception&) {
      put_data_log("Warning: cannot read PatternSet, please check it!", LogMark::warning());
    }
  }
  // The table stays as the previous job left it when every sheet of the job was skipped.
  if (any_taken || !any_skipped) {
    std::shared_ptr<kenmoor::PatternSetDict> sets = pattern_reader.get_pattern_set_info();
    if (skipped_earlier) {
      // The sets of a sheet an earlier job read stay available: start from the previous table
      // and let the sheets read now override it. A sheet named twice in a row by this job is
      // in the reader already and brings no earlier job's sets with it.
      auto merged = std::make_shared<kenmoor::PatternSetDict>(*pattern_set_dict);
      for (const auto& [name, files] : *sets)
        (*merged)[name] = files;
      sets = merged;
    }
    pattern_set_dict = sets;
  }
  update_progressbar(3);

  // Test instances: every sheet is read, and a failing one does not stop the others. A sheet
  // unchanged since an earlier job read it with an equal pattern-set table is not parsed again:
  // its records are added as that read found them, which is what reading all sheets on one
  // reader gives.
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
      put_data_log("Error: cannot read " + text::existing_or_unescaped(path) + ", please check it!", LogMark::error());
      std::cout << named_for_user(e.what()) << std::endl;
    }
  }
  test_instance_dict = job_instances;
  update_progressbar(4);

  // A job whose "DC Specs" or "AC Specs" cell is empty has no such sheet: it is checked with an
  // empty table of that kind, so its symbols resolve from the global specs alone. The path ""
  // stands for that table in `last_flow_info`.
  auto without_sheet = [&](const std::string& sheet, const std::string& column,
                           const std::string& kind) {
    if (!text::strip(sheet).empty())
      return false;
    put_data_log("Warning: the job " + job_name + " names no " + kind + " sheet (its \"" + column
                 + "\" cell is empty); it is checked with an empty " + kind + " table", LogMark::warning());
    return true;
  };

  if (without_sheet(job.dc_spec, "DC Specs", "DC spec")) {
    if (last_flow_info.dc_spec_name != "") {
      dc_spec_dict = std::make_shared<sarnet::SpecDict>();
      dc_selector_rows.reset();
      dc_spec_version.clear();
      last_flow_info.dc_spec_name = "";
    }
  } else if (last_flow_info.dc_spec_name != dc_spec_path) {
    morvane::Morvane reader;
    reader.read_dc_spec(dc_spec_path, platform);
    dc_spec_dict = reader.get_dc_info();
    dc_selector_rows = reader.get_selector_rows();
    spec_version = reader.get_spec_version();
    dc_spec_version = spec_version;
    last_flow_info.dc_spec_name = dc_spec_path;
  }
  update_progressbar(5);

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
  update_progressbar(6);

  if (without_sheet(job.ac_spec, "AC Specs", "AC spec")) {
    if (last_flow_info.ac_spec_name != "") {
      ac_spec_dict = std::make_shared<sarnet::SpecDict>();
      ac_selector_rows.reset();
      ac_spec_version.clear();
      last_flow_info.ac_spec_name = "";
    }
  } else if (last_flow_info.ac_spec_name != ac_spec_path) {
    pellick::Pellick reader;
    reader.read_ac_spec(ac_spec_path, platform);
    ac_spec_dict = reader.get_ac_info();
    ac_selector_rows = reader.get_selector_rows();
    spec_version = reader.get_spec_version();
    ac_spec_version = spec_version;
    last_flow_info.ac_spec_name = ac_spec_path;
  }
  update_progressbar(7);

  // Layout pass: the sheet rows of every flow row ------------------------------------------------
  init();
  lomerick::TestSuiteList& rows = *flow_table_info_list;
  const double n = static_cast<double>(rows.size());
  sort_bin_dscrp.clear();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    lomerick::FlowContent& row = rows[i];
    if (!row.sort_bin.empty())
      sort_bin_dscrp.push_back({row.sort_bin, row.parameter});
    row.write_row_start = write_row_index;
    if (auto it = test_instance_dict->find(row.parameter); it != test_instance_dict->end())
      write_row_index += static_cast<int>(it->second.size());
    update_progressbar(8 + 10.0 * static_cast<double>(i) / n);
  }

  // A failed row of the power or the pattern pass: three log lines and one standard-output line.
  auto report_row_error = [this](const std::string& heading, const std::exception& error,
                                 std::size_t i, const lomerick::FlowContent& row) {
    const std::string printed = lomerick::printed(row);
    put_data_log(heading, LogMark::error());
    put_data_log(error.what(), LogMark::error_detail());
    put_data_log(text::format_int(static_cast<std::int64_t>(i)) + " - " + printed, LogMark::error_detail());
    std::cout << i << ' ' << printed << std::endl;
  };

  // Power pass: flow cells and power-pin columns -------------------------------------------------
  power_list.clear();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const lomerick::FlowContent& row = rows[i];
    int write_row = static_cast<int>(*row.write_row_start);
    try {
      test_table_process(write_row, row);
      int dps_count = power_process_and_get_count(paths.flow_table_directory, row, write_row);
      save_max_col(dps_count);
    } catch (const std::exception& e) {
      // Columns the failed row added still count, or the pattern columns would cover them.
      save_max_col(static_cast<int>(power_list.size()));
      report_row_error("Error found in power process:", e, i, row);
    }
    update_progressbar(19 + 10.0 * static_cast<double>(i) / n);
  }

  // Pattern pass: after the widest power-pin block -----------------------------------------------
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const lomerick::FlowContent& row = rows[i];
    int write_row = static_cast<int>(*row.write_row_start);
    try {
      pattern_period_clk_process(MAX_DSP_CNT, write_row, row, paths.flow_table_directory);
    } catch (const std::exception& e) {
      report_row_error("Error found in pattern/timing process:", e, i, row);
    }
    update_progressbar(30 + 70.0 * static_cast<double>(i + 1) / n);
  }

  // Every test row found no test instance ("Info: cannot found ..."): the sheet is empty.
  if (!rows.empty() && write_row_index == 0) {
    put_data_log("Warning: no test instance found for any of the "
                 + text::format_int(static_cast<std::int64_t>(rows.size())) + " test rows of the job "
                 + job_name + "; its sheet is empty", LogMark::warning());
  }
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
