#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/lomerick/export.hpp"
#include "tarnwick/text/lines.hpp"

namespace tarnwick::lomerick {

// One test row of a flow table. All six sheet values are texts taken unchanged from their cells
// (the last cell of a row keeps its LF), except `parameter`, which is upper-cased.
struct TARNWICK_LOMERICK_EXPORT FlowContent
{
  std::string opcode;      // "Opcode"
  std::string parameter;   // "Parameter" (the test-instance name, upper-cased)
  std::string test_number; // "TestNumber"
  std::string hard_bin;    // "HardBin"
  std::string sort_bin;    // "SortBin"
  std::string result;      // "Result"
  // "write_row_start": set by the check engine when it lays out the job sheet; unset here.
  std::optional<std::int64_t> write_row_start;

  // Key texts of the six sheet values, in record order.
  static constexpr std::array<std::string_view, 6> k_keys = {
    "Opcode", "Parameter", "TestNumber", "HardBin", "SortBin", "Result"};

  bool operator==(const FlowContent&) const = default;
};

// Printed form in key order, "write_row_start" last and only when set:
// {'Opcode': 'Test', 'Parameter': 'FUNC_TEST', ..., 'Result': 'None', 'write_row_start': 0}.
TARNWICK_LOMERICK_EXPORT std::string printed(const FlowContent& content);

// The records of a flow table in flow order, sub-flows inserted at their call rows.
using TestSuiteList = std::vector<FlowContent>;

// Builds the record of one row `flow_table_line` for the platform text `platform` (UltraFLEX
// columns when it contains "UltraFLEX"). Throws tarnwick::Error when the row lacks a cell it
// needs; on platforms other than UltraFLEX the message is printed to standard output first.
TARNWICK_LOMERICK_EXPORT FlowContent get_flow_content(const text::Row& flow_table_line,
                                                      std::string_view platform);

// Reader of flow-table sheet text exports, sub-flows included.
class TARNWICK_LOMERICK_EXPORT Lomerick
{
public:
  // An empty record list.
  Lomerick();

  // Reads the flow table at `flow_path` (every "%20" turned into a blank when nothing exists at
  // the path) and every sub-flow it calls, appending records. Throws FileNotFoundError for a
  // missing file, tarnwick::Error for a short row, a sub-flow that calls itself, and for flows
  // whose rows, a sub-flow counted at every call, pass 200,000 (the message names the open flows).
  void read_flow_table(const std::string& flow_path, std::string_view platform);

  // Appends the records of the export text `text` (LF line ends); call rows read their
  // sub-flows from the folder of `flow_path` ("" when the text has no file).
  void parse(std::string_view text, std::string_view platform, const std::string& flow_path = "");

  // The reader's own record list (shared; it outlives the reader).
  std::shared_ptr<TestSuiteList> get_test_suite_info() const;

private:
  class Walk;

  std::shared_ptr<TestSuiteList> m_test_suite_list;
};

} // namespace tarnwick::lomerick
