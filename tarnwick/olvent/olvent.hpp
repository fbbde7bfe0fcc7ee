#pragma once

#include <array>
#include <cstddef>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/habron/habron.hpp"
#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/lomerick/lomerick.hpp"
#include "tarnwick/olvent/export.hpp"
#include "tarnwick/sarnet/sarnet.hpp"
#include "tarnwick/text/ordered_map.hpp"
#include "tarnwick/tiskel/tiskel.hpp"
#include "tarnwick/vellox/vellox.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace tarnwick::olvent {

// The host's log sink: receives each log line of the engine. Empty when unset.
using LogSink = std::function<void(const std::string&)>;

// The host's progress sink: receives progress values (0 to 100; the pattern map may pass 100).
// Empty when unset.
using ProgressSink = std::function<void(double)>;

// The severity of a log line: a plain line of the run's course, or a line of a report of an
// error or a warning.
enum class Severity
{
  plain,
  error,
  warning,
};

// Where a line of a report stands in it: its first line (such as "Error found in power
// process:"), or one of the lines after it that belong to it (the error's text, the flow row).
enum class ReportLine
{
  first,
  following,
};

// The stage of a run that a log line begins, for a host that shows the stage.
enum class RunStage
{
  none,
  job,       // the check of the next job of the run
  vbt_check, // the VBT code check after the check workbook
};

// What the engine knows of a log line besides its text, given where the line is logged.
struct LogMark
{
  Severity severity = Severity::plain;
  ReportLine report_line = ReportLine::first; // for the lines of a report
  RunStage begins = RunStage::none;

  // The marks of the engine's log calls: a plain line; the first and a later line of an error
  // or a warning report; the first line of a job and of the VBT check.
  static constexpr LogMark plain() { return {}; }
  static constexpr LogMark error() { return {.severity = Severity::error}; }
  static constexpr LogMark error_detail()
  {
    return {.severity = Severity::error, .report_line = ReportLine::following};
  }
  static constexpr LogMark warning() { return {.severity = Severity::warning}; }
  static constexpr LogMark warning_detail()
  {
    return {.severity = Severity::warning, .report_line = ReportLine::following};
  }
  static constexpr LogMark job_begins() { return {.begins = RunStage::job}; }
  static constexpr LogMark vbt_check_begins() { return {.begins = RunStage::vbt_check}; }

  bool operator==(const LogMark&) const = default;
};

// A log line with its mark, for a host inside this project: the text is the one the log sink
// gets.
using MarkedLogSink = std::function<void(const std::string& line, const LogMark& mark)>;

// What the last `read_device` was given as the device.
enum class DeviceKind
{
  none,        // no device loaded yet
  folder,      // a folder of sheet text exports
  archive,     // an ".igxl" or ".zip" archive
  workbook,    // an ".xlsm" workbook
  unsupported, // any other file: loaded as a device without sheets
};

// Local broken-down time; the engine reads it to name the check workbook.
using Clock = std::function<std::tm()>;

// Pattern text to the names of the test instances that use it, in order of evaluation.
using Pat2InstDict = text::OrderedMap<std::string, std::vector<std::string>>;

// Pattern text to a map from time-set name (as the pattern tool spells it) to the period or
// frequency texts computed for it, joined by ",".
using TsetDict = text::OrderedMap<std::string, text::OrderedMap<std::string, std::string>>;

// Instance name to a map from power-pin name to its clamp value.
using PowerPinClampDict = text::OrderedMap<std::string, text::OrderedMap<std::string, double>>;

// The paths of the sheet text exports that the job flow walk read last, so that a sheet shared
// by consecutive jobs is read once. Each is unset until its first read.
struct TARNWICK_OLVENT_EXPORT LastFlowInfo
{
  std::optional<std::string> dc_spec_name;
  std::optional<std::string> glob_spec_name;
  std::optional<std::string> ac_spec_name;
  std::optional<std::string> pattern_set_name;
};

class OlventAccess;

namespace columns {
struct Cache;
}

// The device check engine. The host constructs it with a temporary folder, loads a device with
// `read_device`, shows the jobs of `get_job_list` and calls `run` with the jobs to check. The
// engine state is public: every stage of a run reads and writes it by these names.
class TARNWICK_OLVENT_EXPORT Olvent
{
public:
  // An engine whose device folder is `temp_directory` (neither created nor checked here).
  // Archives and workbooks of the first load are unpacked into it, and the workbook library
  // keeps the scratch files of the check workbook and the VBT report there.
  explicit Olvent(std::string temp_directory);

  Olvent(const Olvent&) = delete;
  Olvent& operator=(const Olvent&) = delete;

  // Gives the engine state its initial values again, all but `device_directory` and the
  // attributes below "Written by their stages" (fresh empty tables, a fresh LastFlowInfo).
  void reset();

  // Loads the device `device_path`: a folder of sheet text exports (used in place), an
  // ".igxl"/".zip" archive (unpacked) or an ".xlsm" workbook (sheets exported as text), then
  // finds the job-list sheet (the first entry of the device folder, unsorted, whose name holds
  // "job.*list" in any case) and reads it. `power_order_path`, `pattern_path` and
  // `context_env` are "" for none; `enable_vbt_check` equal to 1 enables the VBT code check;
  // `text` and `progressbarOne` may be empty. Resets the state first. Logs the settings given
  // and "Error: file extension is not supported." for any other file (see device_kind()).
  // Throws what unpacking, exporting, listing the device folder or reading the job list throws
  // (a missing job-list file only gives an empty job table), tarnwick::Error when the folder
  // for a later load cannot be made.
  void read_device(const std::string& device_path, const std::string& power_order_path,
                   const std::string& pattern_path, const std::string& platform, LogSink text,
                   const std::string& cycle_mode, const std::string& context_env,
                   double enable_vbt_check, ProgressSink progressbarOne);

  // The job table of the loaded device (the table itself, not a copy): null before the first
  // successful load, an empty table when the device has no job-list sheet.
  const std::shared_ptr<habron::JobListDict>& get_job_list() const;

  // What the last `read_device` was given as the device (also when that load failed):
  // DeviceKind::none before the first load.
  DeviceKind device_kind() const { return m_device_kind; }

  // Sends every log line, with its mark, also to `sink` (empty for none), beside the log sink
  // of `read_device`. Kept across loads and resets.
  void set_marked_log_sink(MarkedLogSink sink);

  // The job-list sheet that the last `read_device` read; "" when it found none (no entry of the
  // device folder matched, or the chosen entry did not exist) or no device was loaded yet.
  const std::string& job_list_path() const;

  // `message` as the user should read it: when the device is an .xlsm workbook, every path of
  // one of its exported sheets ("<temporary folder>/<sheet>.txt") becomes "[<workbook>]<sheet>",
  // since the exports are gone after the run.
  std::string named_for_user(std::string message) const;

  // Writes the check workbook for the jobs `job_name_set` (in that order) into `work_dir` and,
  // with the VBT check enabled, the VBT dry-run report beside it. Returns the paths written:
  // the check workbook first. Errors of the check are logged and end the run early with the
  // paths written so far (the workbook is still written with the sheets added before).
  // Throws what creating the workbook throws, and tarnwick::Error when the workbook cannot be
  // written (a missing `work_dir`), after logging it. `work_sheet` is null and the four
  // formats are empty again afterwards.
  std::vector<std::string> run(const std::vector<std::string>& job_name_set,
                               const std::string& work_dir = "./");

  // Passes the progress value `val` to the progress sink when one is set.
  void update_progressbar(double val);

  // Check workbook ----------------------------------------------------------------------------

  // The name of a new check workbook in `work_dir`: "Olvent_" + date (YYYY-MM-DD) + "__" +
  // hour, minute and second without leading zeros + ".xlsm", the time of day read first.
  std::string check_workbook_name(const std::string& work_dir) const;

  // check_workbook_name, or, when something stands at that name, the first free one with
  // "_2", "_3", ... before ".xlsm". The workbook claims its name only when it is written, so
  // a run at the same time may still take this one; `run` logs the name really written.
  std::string check_workbook_path(const std::string& work_dir) const;

  // Starts the check workbook at `path` (numbered at close when the name is taken by then)
  // with NaN and infinity written as error values and its scratch files in the temporary
  // folder, and makes `format_red`, `format_yellow`,
  // `format_orange` and `format_bold` on it, in that order. Throws tarnwick::Error when the
  // workbook library cannot start one.
  std::unique_ptr<xlsx::Workbook> create_check_workbook(const std::string& path);

  // The check workbook that the last `run` wrote after a failure, with the sheets added before
  // it (the run then returns no path); "" when the last run succeeded or wrote nothing.
  const std::string& partial_check_workbook() const { return m_partial_check_workbook; }

  // The text of the error that ended the last `run` early (as it was logged), "" when none did.
  const std::string& run_error() const { return m_run_error; }

  // Adds the sheet of the job `job_name` with the outline settings of job sheets and makes it
  // `work_sheet`. Throws tarnwick::Error for a name the workbook refuses.
  xlsx::Worksheet& add_job_sheet(xlsx::Workbook& workbook, const std::string& job_name);

  // Embeds the engine's VBA project file (vba_project_path) into `workbook`. Throws
  // FileNotFoundError "VBA project file not found: " + path when the file is missing.
  void add_vba_project(xlsx::Workbook& workbook) const;

  // "bin/vbaProject.bin" in the folder that holds the engine's shared library.
  static std::string vba_project_path();

  // On `worksheet`: filter buttons on A1:CW1, panes frozen at the cell `freezePane`, row 0 of
  // height 20 in `format_bold`.
  void excel_file_optimise(xlsx::Worksheet& worksheet, const std::string& freezePane = "C2");

  // Summary sheets ----------------------------------------------------------------------------

  // The pattern-to-time-set sheet: one row per pattern of `my_dict`, with the instances of
  // `pat2inst_dict`, the time sets and their values.
  void write_pat_tset_map(const Pat2InstDict& pat2inst_dict, const TsetDict& my_dict,
                          xlsx::Worksheet& worksheet);

  // The sort-bin sheet from `sort_bin_dscrp`, repeated sort bins shown red.
  void write_bin_descrp(xlsx::Worksheet& worksheet);

  // The instance-parameter sheet from `test_instance_dict`.
  void write_inst_para(xlsx::Worksheet& worksheet);

  // The power-pin clamp grid from `power_pin_clamp_dict`.
  void write_power_pin_clamp(xlsx::Worksheet& worksheet);

  // Job flow and values -----------------------------------------------------------------------

  // Raises `MAX_DSP_CNT` to `col_cnt` when that is larger.
  void save_max_col(int col_cnt);

  // `val` divided by the largest unit threshold (1e9 "G" down to 1e-12 "p"; no row for 1) that
  // is not above it, with three decimals and the prefix: 2.5e-8 gives "25.000n", 2.5 gives
  // "2500.000m"; infinity gives "infG". std::nullopt for zero, negative values, values below
  // 1e-12 and NaN.
  static std::optional<std::string> add_unit(double val);

  // Replaces the source of the local time (tests fix it; the default reads the system clock).
  void set_clock(Clock clock);

  // Engine state ------------------------------------------------------------------------------

  std::string power_order_path;                          // power-order workbook, "" for none
  std::string pattern_path;                              // pattern folder, "" for none
  std::shared_ptr<habron::JobListDict> job_list_dict;    // null: no device loaded yet
  std::string device_directory;                          // folder of the device's sheet exports
  xlsx::Worksheet* work_sheet = nullptr;                 // sheet of the job being written (run)
  LogSink text;                                          // the host's log sink
  LastFlowInfo last_flow_info;                           // sheets read last
  std::shared_ptr<const tiskel::GlobSpecDict> glob_spec_dict; // last global-spec table
  int MAX_DSP_CNT = 0;                                   // widest power-pin block since loading
  std::shared_ptr<kenmoor::PatternSetDict> pattern_set_dict;  // pattern sets of the job
  std::shared_ptr<const sarnet::SpecDict> dc_spec_dict;  // last DC spec table
  // Its rows by selector, when that sheet has one row per selector; else null.
  std::shared_ptr<const sarnet::SelectorRows> dc_selector_rows;
  std::string platform = "UltraFLEX";                    // tester platform text
  // "TimeSet" cell text to the period table of the time-set sheet read for it.
  text::OrderedMap<std::string, std::shared_ptr<const vellox::TimingPeriod>> tsb_dict;
  // "TimeSet" cell text to the clock table of the same sheet.
  text::OrderedMap<std::string, std::shared_ptr<const vellox::ClkDic>> clock_dic;
  static constexpr int print_inst_info_col_cnt = 6;      // flow columns ahead of the power pins
  int write_row_index = 0;                               // job-sheet row bookkeeping
  std::string cycle_mode;                                // "Period" or "Frequency"
  TsetDict tset_dict;                                    // pattern -> time set -> values
  Pat2InstDict pat2inst_dict;                            // pattern -> instances
  ProgressSink progressbarOne;                           // the host's progress sink
  std::vector<std::string> power_list;                   // power-pin column headers of the job
  std::vector<std::array<std::string, 2>> sort_bin_dscrp; // [sort bin, test parameter] rows
  PowerPinClampDict power_pin_clamp_dict;                // instance -> power pin -> clamp
  bool enable_brimsel = false;                           // run ends with the VBT code check

  // Written by their stages; `reset` leaves them alone.
  std::string context_env;                               // context environment, "" for none
  xlsx::Format format_red;                               // background #FFC7CE
  xlsx::Format format_yellow;                            // background #F7D674
  xlsx::Format format_orange;                            // background #FFAA33
  xlsx::Format format_bold;                              // bold
  std::shared_ptr<kenmoor::TestInstanceDict> test_instance_dict; // instances of the job
  std::shared_ptr<const sarnet::SpecDict> ac_spec_dict;  // last AC spec table
  std::shared_ptr<const sarnet::SelectorRows> ac_selector_rows; // its rows by selector, or null
  std::string spec_version;                              // version of the DC or AC spec sheet read last
  std::string dc_spec_version;                           // version of `dc_spec_dict`'s sheet
  std::string ac_spec_version;                           // version of `ac_spec_dict`'s sheet

private:
  friend class OlventAccess; // white-box tests

  // Sends `data_log` to the log sink when one is set, and with `mark` to the marked log sink
  // when one is set.
  void put_data_log(const std::string& data_log, const LogMark& mark = LogMark::plain());

  // One job: reads its sheets and fills `work_sheet`.
  void run_each_flow(const std::string& job_name);

  // The steps of `run_each_flow`, in the order it takes them ----------------------------------

  // Reads the pattern-set sheets at `paths` into `pattern_set_dict`; a sheet that is the one
  // read last is not read again.
  void read_pattern_sets(const std::vector<std::string>& paths);

  // Reads the test-instance sheets at `paths` into `test_instance_dict`; a sheet that fails is
  // logged and the others are read.
  void read_test_instances(const std::vector<std::string>& paths);

  // One kind of spec sheet, DC or AC, with where its table is kept (flow_walk.cpp).
  struct SpecSheetKind;

  // Reads the `spec` sheet `sheet` of the job `job_name` from `path` unless it is the one read
  // last; an empty `sheet` gives an empty table. Throws what the sheet reader throws.
  void read_spec_sheet(const std::string& job_name, const std::string& sheet,
                       const std::string& path, SpecSheetKind spec);

  // Reads the global-spec sheet at `path` unless it is the one read last; a failure is logged.
  void read_global_spec(const std::string& path);

  // Starts the job sheet (`init`) and gives each of `rows` its first sheet row; keeps the sort
  // bins for the sort-bin sheet.
  void lay_out_flow_rows(lomerick::TestSuiteList& rows);

  // The flow cells and power-pin columns of each of `rows`; a failed row is logged.
  void write_power_pass(const lomerick::TestSuiteList& rows,
                        const std::string& flow_table_directory);

  // The pattern columns of each of `rows`, after the widest power-pin block; a failed row is
  // logged.
  void write_pattern_pass(const lomerick::TestSuiteList& rows,
                          const std::string& flow_table_directory);

  // Logs `heading`, `error` and the row `row` (number `i` of the flow), and prints the row.
  void report_row_error(const std::string& heading, const std::exception& error, std::size_t i,
                        const lomerick::FlowContent& row);

  // The job-sheet header and column widths; `write_row_index` = 0.
  void init();

  // The flow cells of `flow_table_info`, one sheet row per record of its instance, below
  // row `flow_table_index`.
  void test_table_process(int flow_table_index, const lomerick::FlowContent& flow_table_info);

  // The pattern, period or frequency and clock columns of one flow row, after `dps_count`
  // power-pin columns, in the rows below `write_row_start`.
  void pattern_period_clk_process(int dps_count, int write_row_start,
                                  const lomerick::FlowContent& flow_table_info,
                                  const std::string& flow_table_directory);

  // The period (or frequency) texts and clock texts of every time set of the pattern
  // `pattern_name`, for the "TimeSet" cell `timing_name` and the AC category and selector.
  std::pair<std::vector<std::string>, std::vector<std::string>>
  extract_per_clk(const std::string& pattern_name, const std::string& timing_name,
                  const std::string& category_name, const std::string& selector_name);

  // The power-pin level columns and clamp values of one flow row; returns the length of
  // `power_list` (0 when the row names no test instance).
  int power_process_and_get_count(const std::string& flow_table_directory,
                                  const lomerick::FlowContent& flow_table_info,
                                  int flow_table_index);

  // `target` with "=" removed and every spec symbol (an operand holding "_") replaced by its
  // value, resolved to any depth: from `glob_spec_dict` first, else from `spec_dict` in the
  // column of `category_name` and the symbol's spec type, which comes from the column
  // "SELECTORS " + `selector_name` when `spec_version` is exactly "3.0", else from
  // "SELECTOR VAL". With `selector_rows` (a sheet with one row per selector) and a version
  // other than "3.0", the symbol's row is the one whose selector name is `selector_name`; a
  // selector that names no row of the symbol logs "Error: Can not sarnet variable: " + symbol
  // and throws. Values are spliced in as text, without parentheses.
  // Each symbol is resolved once per call. Throws tarnwick::Error for a missing symbol or
  // column, for a value that refers back to its own symbol, and for a result longer than
  // 65,536 characters (the messages name the chain of symbols).
  std::string spec_calculation(const std::string& target, const sarnet::SpecDict& spec_dict,
                               const std::string& spec_version,
                               const std::string& category_name,
                               const std::string& selector_name,
                               const sarnet::SelectorRows* selector_rows = nullptr);

  // Embeds the VBA project file at `path`; throws FileNotFoundError when it is missing.
  static void add_vba_project_file(xlsx::Workbook& workbook, const std::string& path);

  std::string m_temp_directory; // the constructor's temporary folder
  std::string m_partial_check_workbook; // see partial_check_workbook()
  std::string m_run_error;              // see run_error()
  bool m_loaded = false;        // read_device has been called before
  std::string m_job_list_path;  // the job-list sheet read by the last load, "" for none
  std::string m_workbook_device; // the .xlsm workbook of the loaded device, "" for another kind
  DeviceKind m_device_kind = DeviceKind::none; // see device_kind()
  MarkedLogSink m_marked_log;   // see set_marked_log_sink()
  Clock m_clock;
  // Sheets and values the power-pin and pattern columns computed before (made on first use).
  std::shared_ptr<columns::Cache> m_column_cache;
};

} // namespace tarnwick::olvent
