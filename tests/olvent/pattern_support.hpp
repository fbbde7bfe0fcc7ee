#pragma once

// A job sheet of a check workbook, the engine state the value columns read, small sheet text
// exports written into a temporary device folder, and the finished sheet read back with an
// independent reader (openpyxl).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/lomerick/lomerick.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/sarnet/sarnet.hpp"
#include "tarnwick/tiskel/tiskel.hpp"
#include "tarnwick/xlsx/writer.hpp"

#include "run_device.hpp"

namespace tarnwick::olvent::test {

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

  // Closes the workbook and reads it back with openpyxl; bare references name the job sheet.
  WorkbookDump close_and_dump()
  {
    workbook->close();
    WorkbookDump dump = dump_workbook(workbook_path, dir());
    dump.default_sheet = "JOB";
    return dump;
  }

  std::unique_ptr<Olvent> engine;
  std::unique_ptr<xlsx::Workbook> workbook;
  std::string workbook_path;
  std::string device; // the folder of the job's sheet text exports
  std::vector<std::string> log;
};

} // namespace tarnwick::olvent::test
