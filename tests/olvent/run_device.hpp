#pragma once

// Small devices written into a temporary folder in the tester's export layout, an engine run
// with its log lines, progress values and standard output captured, and the check workbook read
// back with the project's reader and with an independent one (openpyxl).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/xlsx/reader.hpp"

#include "support.hpp"

namespace tarnwick::olvent::test {

using Cells = std::vector<std::string>;

// The last log line of every run.
inline const std::string k_end =
    "===============================END===============================";

// The bundled end-to-end devices.
inline fs::path e2e_device(const std::string& name)
{
  return fs::path(TARNWICK_TEST_DATA_DIR) / "olvent" / name;
}

// Makes the stand-in pattern tool of the build the one found first on PATH (once).
inline void use_built_pattern_tool()
{
  static const bool done = [] {
    std::string bin = (fs::path(TARNWICK_BUILD_DIR) / "bin").string();
    const char* path = std::getenv("PATH");
    setenv("PATH", (bin + ":" + (path ? path : "")).c_str(), 1);
    return true;
  }();
  (void)done;
}

// A sheet text export: row 0 the sheet-type mark and the title, then `rows`, each padded with
// tabs to `width` cells, CR LF line ends.
inline std::string sheet_text(const std::string& kind, const std::string& version,
                              const std::string& title, const std::vector<Cells>& rows,
                              std::size_t width)
{
  std::string text;
  auto add = [&](Cells cells) {
    cells.resize(std::max(cells.size(), width));
    for (std::size_t i = 0; i < cells.size(); ++i)
      text += (i ? "\t" : "") + cells[i];
    text += "\r\n";
  };
  add({"DT" + kind + ",version=" + version + ":platform=Jaguar:toprow=-1:leftcol=-1:rightcol=-1",
       title});
  for (const auto& row : rows)
    add(row);
  return text;
}

// Cells given by position: at({{1, "x"}, {6, "Test"}}).
inline Cells at(std::initializer_list<std::pair<std::size_t, std::string>> cells)
{
  Cells row;
  for (const auto& [index, value] : cells) {
    if (row.size() <= index)
      row.resize(index + 1);
    row[index] = value;
  }
  return row;
}

// One job of a job list: name, test-instance sheets, flow table, AC spec, DC spec, pattern sets.
struct Job
{
  std::string name{}, instances{}, flow{}, ac{}, dc{}, patsets{};
};

inline std::string job_list(const std::vector<Job>& jobs)
{
  std::vector<Cells> rows = {{},
                             at({{2, "Sheet Parameters"}}),
                             {"", "Job Name", "Pin Map", "Test Instances", "Flow Table", "AC Specs",
                              "DC Specs", "Pattern Sets", "Comment"}};
  for (const auto& job : jobs)
    rows.push_back({"", job.name, "PinMap", job.instances, job.flow, job.ac, job.dc, job.patsets});
  return sheet_text("JobListSheet", "2.5", "Job List", rows, 9);
}

// A flow row: opcode, parameter, test number, hard bin, sort bin, result.
inline Cells flow_row(const std::string& opcode, const std::string& parameter,
                      const std::string& number = "", const std::string& hard_bin = "",
                      const std::string& sort_bin = "", const std::string& result = "")
{
  return at({{6, opcode},
             {7, parameter},
             {8, parameter},
             {9, number},
             {16, hard_bin},
             {18, sort_bin},
             {19, result},
             {21, ""}});
}

inline std::string flow_table(const std::vector<Cells>& rows)
{
  std::vector<Cells> all = {at({{6, "Flow Domain:"}}),
                            at({{6, "Command"}, {15, "Bin Number"}}),
                            {"", "Label", "Enable", "Job", "Part", "Env", "Opcode", "Parameter"}};
  all.insert(all.end(), rows.begin(), rows.end());
  return sheet_text("FlowtableSheet", "2.2", "Flow Table", all, 22);
}

// A test-instance row: name, DC category and selector, AC category and selector, time-set
// sheet, pin-level sheet, argument list and the argument cells.
struct Instance
{
  std::string name{}, dc_category{}, dc_selector{}, ac_category{}, ac_selector{}, time_set{},
      pin_level{};
  std::string arg_list{};
  Cells args{};
};

inline std::string test_instances(const std::vector<Instance>& instances)
{
  std::vector<Cells> rows = {{},
                             at({{5, "DC Specs"}, {7, "AC Specs"}}),
                             {"", "Test Name", "Type", "Name", "Called As", "Category", "Selector",
                              "Category", "Selector", "Time Sets", "Edge Sets", "Pin Levels"}};
  for (const auto& i : instances) {
    Cells row = {"",
                 i.name,
                 "VBT",
                 "Functional_T",
                 "Excel Macro",
                 i.dc_category,
                 i.dc_selector,
                 i.ac_category,
                 i.ac_selector,
                 i.time_set,
                 "",
                 i.pin_level,
                 "",
                 "",
                 i.arg_list};
    row.insert(row.end(), i.args.begin(), i.args.end());
    rows.push_back(row);
  }
  return sheet_text("TestInstancesSheet", "2.4", "Test Instances", rows, 24);
}

// A pattern-set sheet of (set, item) rows; items in cell 5.
inline std::string pattern_sets(const std::vector<std::pair<std::string, std::string>>& sets)
{
  std::vector<Cells> rows = {
      {}, {"", "Pattern Set", "TD Group", "Time Domain", "Enable", "File/Group Name", "Burst"}};
  for (const auto& [set, item] : sets)
    rows.push_back({"", set, "", "", "", item, "Yes"});
  return sheet_text("PatternSetSheet", "2.5", "Pattern Sets", rows, 8);
}

// A DC or AC spec sheet (`kind` "DCSpecSheet" or "ACSpecSheet") of one category `category`
// with the selector column "Val": rows of (symbol, spec type, typical value).
inline std::string spec_sheet(const std::string& kind, const std::string& version,
                              const std::string& category,
                              const std::vector<std::array<std::string, 3>>& symbols)
{
  std::vector<Cells> rows = {{},
                             {"", "", "", "Selector", "", category, "", "", "Comment"},
                             {"", "Symbol", "Value", "Name", "Val", "Typ", "Min", "Max", ""}};
  for (const auto& [symbol, type, value] : symbols)
    rows.push_back({"", symbol, "", "nom", type, value, value, value, ""});
  return sheet_text(kind, version, kind == "DCSpecSheet" ? "DC Specs" : "AC Specs", rows, 10);
}

// A global-spec sheet of (symbol, value) rows.
inline std::string global_specs(const std::vector<std::pair<std::string, std::string>>& symbols)
{
  std::vector<Cells> rows = {{}, {}, {"", "Symbol", "Job", "Value", "Comment"}};
  for (const auto& [symbol, value] : symbols)
    rows.push_back({"", symbol, "", value, ""});
  return sheet_text("GlobalSpecSheet", "2.0", "Global Specs", rows, 6);
}

// A pin-level sheet of (pin, parameter, value) rows.
inline std::string pin_levels(const std::vector<std::array<std::string, 3>>& rows)
{
  std::vector<Cells> all = {{}, {"", "Pin/Group", "Seq.", "Parameter", "Value", "Comment"}};
  for (const auto& [pin, parameter, value] : rows)
    all.push_back({"", pin, "", parameter, value, ""});
  return sheet_text("LevelSheet", "2.1", "Pin Levels", all, 7);
}

// A time-set sheet of (time set, period, pin, clock period, setup) rows.
inline std::string time_sets(const std::vector<std::array<std::string, 5>>& rows)
{
  std::vector<Cells> all = {{},
                            at({{1, "Timing Mode:"}}),
                            at({{1, "Time Domain:"}}),
                            {},
                            at({{2, "Cycle"}, {3, "Pin/Group"}}),
                            {"", "Time Set", "Period", "Name", "Clock Period", "Setup", "Src"}};
  for (const auto& [tset, period, pin, clock, setup] : rows)
    all.push_back({"", tset, period, pin, clock, setup, "PAT"});
  return sheet_text("TimesetBasicSheet", "2.3", "Time Sets (Basic)", all, 8);
}

// What openpyxl sees of one cell: kind ("s", "n", "e"), value and fill colour ("-": none).
struct SeenCell
{
  std::string kind, value, fill = "-";
  bool operator==(const SeenCell&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SeenCell& cell)
{
  return out << cell.kind << ":" << cell.value << ":" << cell.fill;
}

// A workbook as openpyxl sees it (see e2e_dump.py); keys are "Sheet!A1", "Sheet!3", ...
struct WorkbookDump
{
  std::vector<std::string> sheets;  // "name freeze filter height bold", in order
  std::vector<std::string> outline; // "name symbols below right styles" (1/0), in order
  std::map<std::string, SeenCell> cells;
  std::map<std::string, std::string> rows; // "level hidden collapsed fill"
  std::map<std::string, std::string> widths;
  std::vector<std::string> conditional; // "Sheet!A1:A4 type fill"
  bool vba = false;

  // The sheet that a reference without "Sheet!" names, if any.
  std::string default_sheet{};

  std::string key(const std::string& ref) const
  {
    return default_sheet.empty() || ref.find('!') != std::string::npos ? ref
                                                                       : default_sheet + "!" + ref;
  }
  SeenCell cell(const std::string& ref) const
  {
    auto it = cells.find(key(ref));
    return it == cells.end() ? SeenCell{"", "", "-"} : it->second;
  }
  // The text of a text cell, else "<kind:value>".
  std::string text(const std::string& ref) const
  {
    SeenCell seen = cell(ref);
    return seen.kind == "s" ? seen.value : "<" + seen.kind + ":" + seen.value + ">";
  }
  std::vector<std::string> texts(const std::vector<std::string>& refs) const
  {
    std::vector<std::string> found;
    for (const auto& ref : refs)
      found.push_back(text(ref));
    return found;
  }
  std::string row(const std::string& ref) const
  {
    auto it = rows.find(key(ref));
    return it == rows.end() ? "0 0 0 -" : it->second;
  }
  std::string width(const std::string& column) const
  {
    auto it = widths.find(key(column));
    return it == widths.end() ? "" : it->second;
  }
  // The cells of one sheet as "A1=value" in reading order.
  std::vector<std::string> sheet_cells(const std::string& sheet) const
  {
    std::vector<std::pair<std::pair<std::size_t, std::size_t>, std::string>> found;
    for (const auto& [ref, seen] : cells) {
      if (ref.rfind(sheet + "!", 0) == 0) {
        std::string a1 = ref.substr(sheet.size() + 1);
        found.push_back({xlsx::parse_cell_ref(a1), a1 + "=" + seen.value});
      }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> result;
    for (const auto& entry : found)
      result.push_back(entry.second);
    return result;
  }
};

inline WorkbookDump dump_workbook(const fs::path& workbook, const fs::path& scratch)
{
  fs::path script = fs::path(TARNWICK_SOURCE_DIR) / "tests" / "olvent" / "e2e_dump.py";
  fs::path out = scratch / "dump.txt";
  std::string command = "/usr/bin/python3 " + shell_quote(script.string()) + " "
                        + shell_quote(workbook.string()) + " > " + shell_quote(out.string())
                        + " 2>&1";
  int status = std::system(command.c_str());
  WorkbookDump dump;
  EXPECT_EQ(status, 0) << read_file(out);
  std::istringstream lines(read_file(out));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> parts;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');)
      parts.push_back(field);
    if (line.back() == '\t')
      parts.emplace_back();
    const std::string& kind = parts.at(0);
    if (kind == "sheet")
      dump.sheets.push_back(parts.at(1) + " " + parts.at(2) + " " + parts.at(3) + " " + parts.at(4)
                            + " " + parts.at(5));
    else if (kind == "outline")
      dump.outline.push_back(parts.at(1) + " " + parts.at(2));
    else if (kind == "cell")
      dump.cells[parts.at(1)] = {parts.at(2), parts.at(3), parts.at(4)};
    else if (kind == "row")
      dump.rows[parts.at(1)] = parts.at(2);
    else if (kind == "col")
      dump.widths[parts.at(1)] = parts.at(2);
    else if (kind == "cf")
      dump.conditional.push_back(parts.at(1) + " " + parts.at(2) + " " + parts.at(3));
    else if (kind == "vba")
      dump.vba = parts.at(1) == "yes";
    else
      ADD_FAILURE() << "unexpected dump line: " << line;
  }
  return dump;
}

// An engine in a temporary folder whose sinks record every log line and progress value.
class EngineRun : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    out = make_dir("out");
    device = make_dir("device");
    engine = std::make_unique<Olvent>(make_dir("tmp").string());
  }

  // Writes the sheet `name` + ".txt" into the device folder.
  void sheet(const std::string& name, const std::string& text) const
  {
    write_file(device / (name + ".txt"), text);
  }

  // Loads `device_path` (the device folder by default) with the recording sinks.
  void load(const std::string& device_path = "", const std::string& power_order = "",
            const std::string& patterns = "", const std::string& cycle_mode = "Period",
            double vbt_check = 0)
  {
    engine->read_device(
        device_path.empty() ? device.string() : device_path, power_order, patterns, "UltraFLEX",
        [this](const std::string& line) { log.push_back(line); }, cycle_mode, "", vbt_check,
        [this](double value) { progress.push_back(value); });
    log.clear();
    progress.clear();
  }

  // Runs the jobs into `work_dir` (the folder "out" by default), capturing standard output.
  std::vector<std::string> run(const std::vector<std::string>& jobs, std::string work_dir = "")
  {
    testing::internal::CaptureStdout();
    std::vector<std::string> paths;
    try {
      paths = engine->run(jobs, work_dir.empty() ? out.string() : work_dir);
    } catch (...) {
      stdout_text = testing::internal::GetCapturedStdout();
      throw;
    }
    stdout_text = testing::internal::GetCapturedStdout();
    return paths;
  }

  // The log lines from the first one equal to `first`, `count` of them.
  std::vector<std::string> log_from(const std::string& first, std::size_t count) const
  {
    auto it = std::find(log.begin(), log.end(), first);
    std::vector<std::string> lines(it, log.end());
    lines.resize(std::min(lines.size(), count));
    return lines;
  }

  fs::path out;
  fs::path device;
  std::unique_ptr<Olvent> engine;
  std::vector<std::string> log;
  std::vector<double> progress;
  std::string stdout_text;
};

} // namespace tarnwick::olvent::test
