// The run driver: the check workbook of the selected jobs and, when enabled, the VBT check.

#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/report_loader.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::olvent {

namespace {

const char* const k_end_line = "===============================END===============================";

// The readable name of the dynamic type of `error`.
std::string type_name(const std::exception& error)
{
  const char* mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && name ? name.get() : mangled;
}

std::string count_text(std::size_t count)
{
  return text::format_int(static_cast<std::int64_t>(count));
}

} // namespace

std::vector<std::string> Olvent::run(const std::vector<std::string>& job_name_set,
                                     const std::string& work_dir)
{
  std::vector<std::string> result;
  // The sheets and formats go with the workbook at the end of the run; no handle of one may
  // stay behind.
  struct HandleGuard
  {
    Olvent& engine;
    ~HandleGuard()
    {
      engine.work_sheet = nullptr;
      engine.format_red = engine.format_yellow = engine.format_orange = engine.format_bold = {};
    }
  } handle_guard{*this};
  m_partial_check_workbook.clear();
  m_run_error.clear();
  // The workbook takes the first free name of the sequence when it is written.
  std::unique_ptr<xlsx::Workbook> workbook = create_check_workbook(check_workbook_name(work_dir));
  update_progressbar(0);

  // What the run was doing, for the trace of a failure.
  std::string stage = "starting the job sheets";
  bool close_failed = false;
  try {
    const std::string* last_job = nullptr;
    for (const auto& job_name : job_name_set) {
      stage = "checking the job " + job_name;
      add_job_sheet(*workbook, job_name);
      run_each_flow(job_name);
      excel_file_optimise(*work_sheet);
      last_job = &job_name;
    }

    stage = "writing the pattern map sheet";
    if (last_job == nullptr)
      throw Error("No job selected: the pattern map sheet is named after the last job checked");
    xlsx::Worksheet& pattern_map =
        workbook->add_worksheet("PatTsetMap_" + text::truncate(*last_job, 20));
    write_pat_tset_map(pat2inst_dict, tset_dict, pattern_map);

    stage = "writing the sheet SortBinDescrp";
    write_bin_descrp(workbook->add_worksheet("SortBinDescrp"));
    stage = "writing the sheet InstParametersCheck";
    write_inst_para(workbook->add_worksheet("InstParametersCheck"));
    stage = "adding the VBA project";
    add_vba_project(*workbook);
    stage = "writing the sheet PowerPinClampCheck";
    write_power_pin_clamp(workbook->add_worksheet("PowerPinClampCheck"));

    stage = "closing the check workbook " + workbook->path().string();
    std::string path;
    try {
      path = workbook->close().string();
    } catch (...) {
      // The workbook is gone either way: the handler must not close it again.
      close_failed = true;
      throw;
    }
    result.push_back(path);
    put_data_log("Output file path is: " + path);
    put_data_log("Execution successful!!!");
    put_data_log(k_end_line);

    if (enable_brimsel) {
      stage = "checking the VBT sources of " + device_directory;
      update_progressbar(0);
      put_data_log("开始处理目录中的BAS文件: " + device_directory, LogMark::vbt_check_begins());
      brimsel::VBAParser parser;
      parser.parse_files(device_directory);
      put_data_log("解析完成！");
      put_data_log("发现 " + count_text(parser.global_variables.size()) + " 个全局变量");
      put_data_log("发现 " + count_text(parser.functions.size()) + " 个函数");
      put_data_log("发现 " + count_text(parser.types.size()) + " 个Type定义");
      put_data_log("发现 " + count_text(parser.enums.size()) + " 个Enum定义");

      stage = "writing the VBT dry-run report";
      const brimsel::ReportLibrary& reports = brimsel::ReportLibrary::load();
      std::string report = reports.generate_dry_run_report(
          [this](int value) { update_progressbar(value); }, parser, work_dir, m_temp_directory);
      result.push_back(report);
      update_progressbar(100);
      put_data_log("\n✓ 检查报告已生成: " + report);
      put_data_log(k_end_line);
    }
  } catch (const std::exception& error) {
    m_run_error = named_for_user(error.what());
    put_data_log("An exception occurred!Please check!!!", LogMark::error());
    put_data_log(error.what(), LogMark::error_detail());
    std::cerr << "Traceback (olvent run): failed while " << stage << '\n' << type_name(error);
    // An error passed on is reported by the caller: its text is not repeated here.
    if (close_failed) {
      std::cerr << " (passed to the caller)" << std::endl;
      throw;
    }
    std::cerr << ": " << m_run_error << std::endl;
    // Writes the sheets added so far; a failure to write reaches the caller.
    if (!workbook->closed())
      m_partial_check_workbook = workbook->close().string();
  }
  return result;
}

} // namespace tarnwick::olvent
