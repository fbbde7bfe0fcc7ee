// The check workbook: its name, formats, job-sheet settings, VBA project and optimise step.

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <dlfcn.h>

#include "tarnwick/files/claim.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::olvent {

namespace {

namespace fs = std::filesystem;

std::string two_digits(int value)
{
  std::string digits = std::to_string(value);
  if (value < 10) {
    digits.insert(digits.begin(), '0');
  }
  return digits;
}

} // namespace

std::string Olvent::check_workbook_name(const std::string& work_dir) const
{
  // The time of day is read first, the date just after it.
  std::tm time = m_clock();
  std::tm date = m_clock();
  std::string date_text = std::to_string(date.tm_year + 1900) + "-" +
                          two_digits(date.tm_mon + 1) + "-" + two_digits(date.tm_mday);
  std::string time_text =
    std::to_string(time.tm_hour) + std::to_string(time.tm_min) + std::to_string(time.tm_sec);
  std::string folder = work_dir;
  if (!folder.empty() && folder.back() != '/')
    folder += '/';
  return folder + "Olvent_" + date_text + "__" + time_text + ".xlsm";
}

std::string Olvent::check_workbook_path(const std::string& work_dir) const
{
  // Two runs in one second, or 1:23:45 against 12:34:5 of one day, give the same name: the
  // later file is numbered instead of overwriting the earlier workbook.
  const std::string name = check_workbook_name(work_dir);
  return files::numbered_path(name, files::first_free_number(name)).string();
}

std::unique_ptr<xlsx::Workbook> Olvent::create_check_workbook(const std::string& path)
{
  // The library's scratch files go into the engine's temporary folder, which the host removes.
  auto workbook = std::make_unique<xlsx::Workbook>(
      path, xlsx::WorkbookOptions{.nan_inf_to_errors = true, .scratch_folder = m_temp_directory});
  format_red = workbook->add_format({.bg_color = 0xFFC7CE});
  format_yellow = workbook->add_format({.bg_color = 0xF7D674});
  format_orange = workbook->add_format({.bg_color = 0xFFAA33});
  format_bold = workbook->add_format({.bg_color = std::nullopt, .bold = true});
  return workbook;
}

xlsx::Worksheet& Olvent::add_job_sheet(xlsx::Workbook& workbook, const std::string& job_name)
{
  xlsx::Worksheet& sheet = workbook.add_worksheet(job_name);
  work_sheet = &sheet;
  // Outline symbols shown, summary rows above their detail, summary columns to the right,
  // no automatic style.
  sheet.outline_settings(true, false, true, false);
  return sheet;
}

std::string Olvent::vba_project_path()
{
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Olvent::vba_project_path), &info) == 0 ||
      info.dli_fname == nullptr)
    throw Error("Cannot locate the engine library to find its VBA project file");
  fs::path library = fs::absolute(info.dli_fname);
  return (library.parent_path() / "bin" / "vbaProject.bin").string();
}

void Olvent::add_vba_project(xlsx::Workbook& workbook) const
{
  add_vba_project_file(workbook, vba_project_path());
}

void Olvent::add_vba_project_file(xlsx::Workbook& workbook, const std::string& path)
{
  // Without it the workbook would be an .xlsm that spreadsheet programs refuse to open.
  std::error_code ec;
  if (!fs::is_regular_file(path, ec))
    throw FileNotFoundError("VBA project file not found: " + path);
  workbook.add_vba_project(path);
}

void Olvent::excel_file_optimise(xlsx::Worksheet& worksheet, const std::string& freezePane)
{
  worksheet.autofilter(0, 0, 0, 100);
  worksheet.freeze_panes(freezePane);
  worksheet.set_row(0, 20, format_bold);
}

} // namespace tarnwick::olvent
