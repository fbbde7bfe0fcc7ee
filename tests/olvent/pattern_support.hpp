#pragma once

// A job sheet of a check workbook, the engine state the value columns read, small sheet text
// exports written into a temporary device folder, and the finished sheet read back with an
// independent reader (openpyxl).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/lomerick/lomerick.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/sarnet/sarnet.hpp"
#include "tarnwick/tiskel/tiskel.hpp"
#include "tarnwick/xlsx/writer.hpp"

#include "support.hpp"

namespace tarnwick::olvent::test {

// One cell as openpyxl sees it: kind "s" (text), "n" (number) or "e" (error value), its value
// and its fill colour ("-" for none).
struct SeenCell
{
  std::string kind;
  std::string value;
  std::string fill = "-";
};

// Row options as openpyxl sees them: "level hidden collapsed fill", e.g. "1 1 0 -".
struct SheetDump
{
  std::map<std::string, SeenCell> cells; // by reference, "G2"
  std::map<int, std::string> rows;       // by 1-based row number
  std::map<std::string, std::string> widths;

  // The cell at `ref`, or an empty kind when nothing is there.
  SeenCell at(const std::string& ref) const
  {
    auto hit = cells.find(ref);
    return hit == cells.end() ? SeenCell{"", "", "-"} : hit->second;
  }
  std::string text(const std::string& ref) const
  {
    SeenCell cell = at(ref);
    return cell.kind == "s" ? cell.value : "<" + cell.kind + ":" + cell.value + ">";
  }
  std::string row(int number) const
  {
    auto hit = rows.find(number);
    return hit == rows.end() ? "0 0 0 -" : hit->second;
  }
};

// The engine with a fresh job sheet "JOB" of a check workbook in a temporary folder.
class ColumnsTest : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    engine = std::make_unique<Olvent>(dir().string());
    engine->text = [this](const std::string& line) { log.push_back(line); };
    engine->test_instance_dict = std::make_shared<kenmoor::TestInstanceDict>();
    workbook_path = (dir() / "check.xlsm").string();
    workbook = engine->create_check_workbook(workbook_path);
    engine->add_job_sheet(*workbook, "JOB");
    device = make_dir("device").string();
  }

  void TearDown() override
  {
    if (!workbook->closed())
      workbook->close();
    TempDirTest::TearDown();
  }

  // A flow row that names the test instance `name`.
  static lomerick::FlowContent flow_row(const std::string& name)
  {
    lomerick::FlowContent row;
    row.opcode = "Test";
    row.parameter = name;
    row.result = "None";
    return row;
  }

  void add_instance(const std::string& name, std::vector<kenmoor::InstanceContent> records)
  {
    engine->test_instance_dict->insert_or_assign(name, std::move(records));
  }

  // A spec table: symbol to its cells (column key, text).
  using SpecRows =
      std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;
  static std::shared_ptr<sarnet::SpecDict> spec_table(const SpecRows& rows)
  {
    auto table = std::make_shared<sarnet::SpecDict>();
    for (const auto& [symbol, cells] : rows) {
      sarnet::SpecInfo info;
      for (const auto& [key, value] : cells)
        info.insert_or_assign(key, value);
      table->insert_or_assign(symbol, std::move(info));
    }
    return table;
  }

  // Closes the workbook and reads the job sheet back with openpyxl.
  SheetDump close_and_dump()
  {
    workbook->close();
    std::filesystem::path script = dir() / "dump.py";
    write_file(script, R"(import sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1])['JOB']
def fill(x): return x.fill.fgColor.rgb[-6:] if x.fill.fill_type == 'solid' else '-'
for row in ws.iter_rows():
    for c in row:
        if c.value is not None or c.fill.fill_type == 'solid':
            print('cell', c.coordinate, c.data_type, '' if c.value is None else c.value, fill(c), sep='\t')
for r, d in sorted(ws.row_dimensions.items()):
    print('row', r, '%d %d %d %s' % (d.outline_level or 0, 1 if d.hidden else 0, 1 if d.collapsed else 0, fill(d)), sep='\t')
for k, d in sorted(ws.column_dimensions.items()):
    if d.width:
        print('col', k, round(d.width), sep='\t')
)");
    std::string out_file = (dir() / "dump.txt").string();
    std::string command = "/usr/bin/python3 " + shell_quote(script.string()) + " "
                          + shell_quote(workbook_path) + " > " + shell_quote(out_file) + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << read_file(out_file);
    SheetDump dump;
    std::istringstream lines(read_file(out_file));
    std::string line;
    while (std::getline(lines, line)) {
      std::vector<std::string> parts;
      std::istringstream fields(line);
      std::string field;
      while (std::getline(fields, field, '\t'))
        parts.push_back(field);
      if (parts.size() == 5 && parts[0] == "cell")
        dump.cells[parts[1]] = {parts[2], parts[3], parts[4]};
      else if (parts.size() == 3 && parts[0] == "row")
        dump.rows[std::stoi(parts[1])] = parts[2];
      else if (parts.size() == 3 && parts[0] == "col")
        dump.widths[parts[1]] = parts[2];
      else
        ADD_FAILURE() << "unexpected dump line: " << line;
    }
    return dump;
  }

  std::unique_ptr<Olvent> engine;
  std::unique_ptr<xlsx::Workbook> workbook;
  std::string workbook_path;
  std::string device; // the folder of the job's sheet text exports
  std::vector<std::string> log;
};

} // namespace tarnwick::olvent::test
