#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/kenmoor/export.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::text {
class Regex;
}

namespace tarnwick::kenmoor {

// One row of a test-instance sheet. Texts are taken unchanged from their cells (the last cell
// of a row keeps its LF). The cells are those of the UltraFLEX layout unless the sheet's
// heading rows place a column elsewhere (see InstanceColumns).
struct TARNWICK_KENMOOR_EXPORT InstanceContent
{
  std::string method;                   // "Method": cell 3
  std::string dc_category;              // "DC Category": cell 5
  std::string dc_selector;              // "DC Selector": cell 6
  std::string time_set;                 // "TimeSet": cell 9
  std::string ac_category;              // "AC Category": cell 7
  std::string ac_selector;              // "AC Selector": cell 8
  std::string pin_level;                // "PinLevel": cell 11
  std::string pattern;                  // "Pattern": the row's pattern files joined with ","
  std::string arg_list;                 // "ArgList": cell 14, the one after "Overlay"
  std::vector<std::string> arg_details; // "ArgDetails": one cell after it per ArgList item

  // Field names in record order; "ArgDetails" (the only list) is last.
  static constexpr std::array<std::string_view, 10> k_keys = {
    "Method",      "DC Category", "DC Selector", "TimeSet", "AC Category",
    "AC Selector", "PinLevel",    "Pattern",     "ArgList", "ArgDetails"};

  // The nine text values in the order of `k_keys` (all but "ArgDetails").
  std::array<std::string, 9> text_values() const;

  bool operator==(const InstanceContent&) const = default;
};

// Printed form in key order: {'Method': 'm', ..., 'ArgDetails': ['a', 'b']}.
TARNWICK_KENMOOR_EXPORT std::string printed(const InstanceContent& content);

// Upper-cased instance name to its records, one per sheet row, in reading order.
using TestInstanceDict = text::OrderedMap<std::string, std::vector<InstanceContent>>;

// Upper-cased pattern-set name to its pattern file paths (the pattern-set reader's table).
using PatternSetDict = text::OrderedMap<std::string, std::vector<std::string>>;

// The cells of a test-instance sheet's columns: those of the UltraFLEX layout, or where the
// heading rows name them ("Time Sets", "Pin Levels", "Category" and "Selector" under "DC Specs"
// and "AC Specs", the argument list after "Overlay"), as in the J750 layout without a
// "Mixed Signal Timing" column.
struct InstanceColumns
{
  std::size_t dc_category = 5;
  std::size_t dc_selector = 6;
  std::size_t ac_category = 7;
  std::size_t ac_selector = 8;
  std::size_t time_set = 9;
  std::size_t pin_level = 11;
  std::size_t arg_list = 14;
};

// Reader of test-instance sheet text exports.
class TARNWICK_KENMOOR_EXPORT Kenmoor
{
public:
  // An empty instance table.
  Kenmoor();

  // Reads the export at `test_instance_path` (every "%20" turned into a blank when nothing
  // exists at the path) and adds one record per row; pattern-set names in the first six
  // argument cells (cells 14 to 19 in the UltraFLEX layout) are looked up in
  // `pattern_set_dict`, else the row is searched for whole pattern file names (.patx on
  // UltraFLEXplus, .pat and .patx on UltraFLEX, .pat elsewhere). Throws FileNotFoundError for a missing file,
  // tarnwick::Error for a row too short for the cells it needs.
  void read_test_instance(const std::string& test_instance_path,
                          const PatternSetDict& pattern_set_dict,
                          std::string_view platform = "UltraFLEXplus");

  // Adds the records of the export text `text` (LF line ends); `source` names it in errors.
  void parse(std::string_view text, const PatternSetDict& pattern_set_dict,
             std::string_view platform = "UltraFLEXplus", std::string_view source = "<text>");

  // Searches `test_instance_line` for pattern files with `pat_pattern` and appends the record
  // of the row `line_list`, with the files found joined by ",", under the row's name.
  void find_pat_path(const text::Regex& pat_pattern, std::string_view test_instance_line,
                     const text::Row& line_list);

  // The reader's own instance table (shared; it outlives the reader).
  std::shared_ptr<TestInstanceDict> get_instance_info() const;

private:
  InstanceContent get_instance_content(const text::Row& line_list, std::string pattern_info) const;

  std::shared_ptr<TestInstanceDict> m_test_instance_dict;
  InstanceColumns m_columns; // of the sheet being read
};

} // namespace tarnwick::kenmoor
