#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "tarnwick/brimsel/changes.hpp"
#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::brimsel {

class VBAParser;

// Progress sink of the dry-run report: called with 10, 20, ..., 90, one call per stage. What it
// throws passes through the report to the report's caller.
using ProgressCallback = std::function<void(int)>;

// The report library's entry points, looked up by name once the library is open. They write the
// report, store its path in `path` and let every failure pass as an exception.
using DryRunReportEntry = void (*)(const ProgressCallback& update_progressbar,
                                   const VBAParser& parser, const std::string& output_dir,
                                   const std::filesystem::path& scratch_folder,
                                   std::string& path);
using RefactorReportEntry = void (*)(const ChangesMade& changes_made,
                                     const std::string& output_dir,
                                     const std::filesystem::path& scratch_folder,
                                     std::string& path);

// File name of the report library and the names of its entry points.
inline constexpr const char* k_report_library_name = "libtarnwick_parvine.so";
inline constexpr const char* k_dry_run_report_entry = "tarnwick_parvine_generate_dry_run_report";
inline constexpr const char* k_refactor_report_entry = "tarnwick_parvine_generate_refactor_report";

// The report library cannot be opened or lacks an entry point. The message is the dynamic
// loader's own text.
class TARNWICK_BRIMSEL_EXPORT ReportImportError : public Error
{
public:
  explicit ReportImportError(const std::string& message);
  ~ReportImportError() override;
};

// Where the report library is expected: the folder of the loaded brimsel library.
TARNWICK_BRIMSEL_EXPORT std::filesystem::path report_library_path();

// The report writer, bound at run time. The library is opened on the first `load` and stays
// open for the life of the process.
class TARNWICK_BRIMSEL_EXPORT ReportLibrary
{
public:
  // Opens the report library beside the brimsel library (once; a failed open is tried again
  // on the next call). Throws ReportImportError with the loader's text.
  static const ReportLibrary& load();

  // Writes the dry-run report "Brimsel_Report_<stamp>.xlsx" of `parser` into `output_dir` and
  // returns its path; calls `update_progressbar` after each of its nine stages. The workbook
  // library keeps its scratch files in `scratch_folder` (empty: $TMPDIR). Throws what the
  // report throws (tarnwick::Error when the workbook cannot be written, whatever the sink
  // throws).
  std::string generate_dry_run_report(const ProgressCallback& update_progressbar,
                                      const VBAParser& parser,
                                      const std::string& output_dir = ".",
                                      const std::filesystem::path& scratch_folder = {}) const;

  // Writes the refactor report "VBT_Refactor_Report_<stamp>.xlsx" of `changes_made` into
  // `output_dir` and returns its path; scratch files as for the dry-run report. Throws what the
  // report throws.
  std::string generate_refactor_report(const ChangesMade& changes_made,
                                       const std::string& output_dir = ".",
                                       const std::filesystem::path& scratch_folder = {}) const;

private:
  ReportLibrary(DryRunReportEntry dry_run, RefactorReportEntry refactor);
  static ReportLibrary open();

  DryRunReportEntry m_dry_run;
  RefactorReportEntry m_refactor;
};

} // namespace tarnwick::brimsel
