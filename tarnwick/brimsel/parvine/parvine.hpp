#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tarnwick/brimsel/changes.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/parvine/export.hpp"
#include "tarnwick/brimsel/parvine/table.hpp"
#include "tarnwick/brimsel/records.hpp"
#include "tarnwick/brimsel/report_loader.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::xlsx {
class Workbook;
}

namespace tarnwick::parvine {

// Variable name as written -> its references (the parser's `variable_references`).
using References =
  text::OrderedMap<std::string, std::vector<brimsel::VariableReference>>;
// Key -> procedure (the parser's `functions`).
using Functions = text::OrderedMap<std::string, brimsel::FunctionInfo>;

// Source of the local time that stamps report file names.
using Clock = std::function<std::chrono::system_clock::time_point()>;

// Writer of the VBT report workbooks. Every call builds its own workbook from its arguments.
class TARNWICK_PARVINE_EXPORT Parvine
{
public:
  // Stamps file names with the current time.
  Parvine();
  // Stamps file names with the time `clock` gives.
  explicit Parvine(Clock clock);

  // Writes the dry-run report of `parser` (after parse_files) to `output_dir` joined with
  // "Brimsel_Report_<stamp>.xlsx": the issue sheets that have rows, "Summary", and the manual
  // checks when there are any. When that name is taken (by a report of the same second, also
  // one written at the same time), "_2", "_3", ... goes before ".xlsx"; nothing is replaced.
  // Prints "正在生成dry-run报告: <path>" first (the first free name then) and
  // "Dry-run报告已生成: <path>" last (the name written); calls `update_progressbar` with 10,
  // 20, ..., 90. The workbook library keeps its scratch files in `scratch_folder` (empty:
  // $TMPDIR). Returns the path written. Throws tarnwick::Error naming the system's reason
  // when the workbook cannot be written (a missing or unwritable folder shows when it is
  // closed) and passes on what the sink throws; after a failure nothing is left on disk.
  std::string generate_dry_run_report(const brimsel::ProgressCallback& update_progressbar,
                                      const brimsel::VBAParser& parser,
                                      const std::string& output_dir = ".",
                                      const std::filesystem::path& scratch_folder = {}) const;

  // Writes the refactor report of `changes_made` to `output_dir` joined with
  // "VBT_Refactor_Report_<stamp>.xlsx": "Refactor Changes" when there are changes, then
  // "Refactor Summary", numbered as generate_dry_run_report numbers. Prints "正在生成重构报告:
  // <path>" first and "重构报告已生成: <path>" last. Returns the path written. Throws
  // tarnwick::Error as generate_dry_run_report does; `scratch_folder` as there.
  std::string generate_refactor_report(const brimsel::ChangesMade& changes_made,
                                       const std::string& output_dir = ".",
                                       const std::filesystem::path& scratch_folder = {}) const;

private:
  std::string stamped_path(const std::string& output_dir, std::string_view prefix) const;

  // The sheet operations of the two reports. Each adds at most one sheet, `sheet_name` (or
  // "Summary"), after the sheets of `writer`: nothing when it has no rows, except the summary
  // sheets, which are always written. The issue and manual-check sheets get fitted widths.
  static void write_variable_issues_sheet(xlsx::Workbook& writer,
                                          const std::vector<const brimsel::VariableInfo*>& variables,
                                          std::string_view sheet_name,
                                          const References& references);
  static void write_type_issues_sheet(xlsx::Workbook& writer,
                                      const std::vector<const brimsel::TypeInfo*>& types,
                                      std::string_view sheet_name);
  static void write_function_issues_sheet(xlsx::Workbook& writer, const Functions& functions,
                                          std::string_view sheet_name);
  static void write_summary_sheet(xlsx::Workbook& writer, const brimsel::AllIssues& all_issues,
                                  const brimsel::VBAParser& parser);
  static void write_manual_check_sheet(xlsx::Workbook& writer, const brimsel::VBAParser& parser,
                                       std::string_view sheet_name);
  static void write_refactor_changes_sheet(xlsx::Workbook& writer,
                                           const brimsel::ChangesMade& changes_made,
                                           std::string_view sheet_name);
  static void write_refactor_summary_sheet(xlsx::Workbook& writer,
                                           const brimsel::ChangesMade& changes_made,
                                           std::string_view sheet_name);

  Clock m_clock;
};

// `output_dir` joined with `prefix` + `time` in local time as "%Y%m%d_%H%M%S" + ".xlsx". An
// empty folder gives the bare file name; a folder ending in "/" gets no second one.
TARNWICK_PARVINE_EXPORT std::string
report_file_path(const std::string& output_dir, std::string_view prefix,
                 std::chrono::system_clock::time_point time);

// The two count columns of the variable issue sheets, from the reference map of one parse. The
// references of a name are walked once, when a record of that name is first asked about, and
// the figures are kept for every later record of the name: a program with thousands of
// same-named locals costs one walk, not one per local.
class TARNWICK_PARVINE_EXPORT ReferenceCounts
{
public:
  struct Counts
  {
    std::int64_t references = 0; // the row's "引用次数"
    std::int64_t files = 0;      // the row's "涉及文件数"
  };

  // Counts over `references`, which must outlive this object and stay unchanged; it is only
  // read (a name without an entry is never added).
  explicit ReferenceCounts(const References& references);

  // The counts of `variable`, looked up under its `original_name`: all references of the name,
  // or for a local of a named procedure only those inside that procedure; and the number of
  // distinct files among all references of the name. Zero for both when it has none.
  Counts of(const brimsel::VariableInfo& variable);

  // Number of reference entries walked so far: the work done, at most each entry once.
  std::size_t entries_walked() const { return m_entries_walked; }

private:
  struct NameCounts
  {
    std::int64_t references = 0;
    std::int64_t files = 0;
    std::unordered_map<std::string_view, std::int64_t> per_procedure;
  };
  NameCounts count_name(const std::vector<brimsel::VariableReference>& references);

  const References& m_references;
  std::unordered_map<std::string_view, NameCounts> m_names; // views of the map's own keys
  std::size_t m_entries_walked = 0;
};

// Rows of a variable issue sheet: one per record of `variables`, twelve columns from "变量名" to
// "是否常量", with the record's reference count (only references inside its own procedure for a
// local variable of a named procedure) and the number of files among all its references.
// `references` is only read.
TARNWICK_PARVINE_EXPORT Table variable_issue_rows(
  const std::vector<const brimsel::VariableInfo*>& variables, const References& references);
// The same rows with the counts taken from `counts`, which may serve several sheets.
TARNWICK_PARVINE_EXPORT Table variable_issue_rows(
  const std::vector<const brimsel::VariableInfo*>& variables, ReferenceCounts& counts);

// Rows of a Type or Enum issue sheet: one per record, nine columns from "名称" to "行号".
TARNWICK_PARVINE_EXPORT Table
type_issue_rows(const std::vector<const brimsel::TypeInfo*>& types);

// Rows of the "Function Parameters" sheet: one per issue text that mentions "参数", with the
// parameter name, suggestion and description taken from the text.
TARNWICK_PARVINE_EXPORT Table function_issue_rows(const Functions& functions);

// The six rows of the "Summary" sheet: issues found against names declared, per kind, and the
// total row whose "总数量" is "N/A".
TARNWICK_PARVINE_EXPORT Table summary_rows(const brimsel::AllIssues& all_issues,
                                           const brimsel::VBAParser& parser);

// Rows of the "Manual Check Required" sheet: Variant globals other than constants and "site",
// then every repeated declaration of a global name, then procedures over 60 lines.
TARNWICK_PARVINE_EXPORT Table manual_check_rows(const brimsel::VBAParser& parser);

// Rows of the "Refactor Changes" sheet: one per change, types in map order.
TARNWICK_PARVINE_EXPORT Table refactor_change_rows(const brimsel::ChangesMade& changes_made);

// Rows of the "Refactor Summary" sheet: the count per change type, then "总计".
TARNWICK_PARVINE_EXPORT Table refactor_summary_rows(const brimsel::ChangesMade& changes_made);

} // namespace tarnwick::parvine

extern "C" {

// Entry points looked up by the report loader of the brimsel library (see
// tarnwick/brimsel/report_loader.hpp): each writes its report with a new Parvine and stores the
// path in `path`; failures pass as exceptions.
TARNWICK_PARVINE_EXPORT void
tarnwick_parvine_generate_dry_run_report(const tarnwick::brimsel::ProgressCallback& update_progressbar,
                                         const tarnwick::brimsel::VBAParser& parser,
                                         const std::string& output_dir,
                                         const std::filesystem::path& scratch_folder,
                                         std::string& path);

TARNWICK_PARVINE_EXPORT void
tarnwick_parvine_generate_refactor_report(const tarnwick::brimsel::ChangesMade& changes_made,
                                          const std::string& output_dir,
                                          const std::filesystem::path& scratch_folder,
                                          std::string& path);
}
