// The four summary sheets that end the check workbook.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"

namespace tarnwick::olvent {

void Olvent::write_pat_tset_map(const Pat2InstDict& pat2inst_dict, const TsetDict& my_dict,
                                xlsx::Worksheet& worksheet)
{
  const std::string value_header = cycle_mode == "Period" ? "Period_" : "Frequency_";
  worksheet.write_string(0, 0, "Instances");
  worksheet.write_string(0, 1, "Pattern");
  worksheet.write_string(0, 2, "Tset_0");
  worksheet.write_string(0, 3, value_header + "0");

  const double count = static_cast<double>(my_dict.size());
  xlsx::Row r = 1;
  std::size_t headed = 1; // header pairs written so far
  for (const auto& [pattern, tsets] : my_dict) {
    auto instances = pat2inst_dict.find(pattern);
    if (instances == pat2inst_dict.end())
      throw Error("Pattern without instances in the pattern map: " + pattern);
    worksheet.write_string(r, 0, columns::join_commas(instances->second));
    worksheet.write_string(r, 1, pattern);

    std::vector<std::string> row_data;
    for (const auto& [tset, value] : tsets) {
      row_data.push_back(tset);
      row_data.push_back(value);
    }
    // The header reaches as far as the pattern with the most time sets; each pair is written
    // once.
    for (; headed < tsets.size(); ++headed) {
      std::string index = text::format_int(static_cast<std::int64_t>(headed));
      auto column = static_cast<xlsx::Column>(2 + 2 * headed);
      worksheet.write_string(0, column, "Tset_" + index);
      worksheet.write_string(0, column + 1, value_header + index);
    }
    worksheet.write_row(r, 2, row_data);
    ++r;
    update_progressbar(90 + 10.0 * static_cast<double>(r) / count);
  }
}

void Olvent::write_bin_descrp(xlsx::Worksheet& worksheet)
{
  for (std::size_t i = 0; i < sort_bin_dscrp.size(); ++i)
    worksheet.write_row(static_cast<xlsx::Row>(i), 0, sort_bin_dscrp[i]);
  if (!sort_bin_dscrp.empty()) {
    worksheet.conditional_format(0, 0, static_cast<xlsx::Row>(sort_bin_dscrp.size() - 1), 0,
                                 xlsx::ConditionalType::duplicate, format_red);
  }
}

void Olvent::write_inst_para(xlsx::Worksheet& worksheet)
{
  bool field_names_written = false;
  xlsx::Row r = 1;
  for (const auto& [name, records] : *test_instance_dict) {
    if (r == 1) {
      worksheet.write_string(0, 0, "Comment");
      worksheet.write_string(0, 1, "Test Instance");
    }
    // The field names come from the first instance that has a record: an instance left
    // without records by a failed sheet gets its name row only.
    if (!field_names_written && !records.empty()) {
      std::vector<std::string> keys(kenmoor::InstanceContent::k_keys.begin(),
                                    kenmoor::InstanceContent::k_keys.end());
      worksheet.write_row(0, 2, keys);
      field_names_written = true;
    }
    worksheet.write_string(r, 1, name);
    // Every record writes into the same row: a later record's cells replace the earlier ones.
    for (const auto& record : records) {
      const auto values = record.text_values();
      for (std::size_t j = 0; j < values.size(); ++j)
        worksheet.write_string(r, static_cast<xlsx::Column>(j + 2), values[j]);
      const auto j = static_cast<xlsx::Column>(values.size());
      const auto n = static_cast<xlsx::Column>(record.arg_details.size());
      worksheet.write_row(r, j + 2, record.arg_details);
      worksheet.conditional_format(r, j + 2, r, j + 1 + n, xlsx::ConditionalType::blanks,
                                   format_red);
    }
    ++r;
  }
  excel_file_optimise(worksheet);
}

void Olvent::write_power_pin_clamp(xlsx::Worksheet& worksheet)
{
  // Columns: every pin in order of first appearance.
  std::vector<std::string> pins;
  std::unordered_map<std::string_view, std::size_t> column_of;
  for (const auto& [instance, clamps] : power_pin_clamp_dict) {
    for (const auto& [pin, value] : clamps) {
      if (column_of.try_emplace(pin, pins.size()).second)
        pins.push_back(pin);
    }
  }
  // Rows: the instances that hold the first column's pin, then those that hold the second's and
  // are not listed yet, and so on; that is, each instance under the leftmost column it holds, in
  // the map's order within one column.
  std::vector<std::vector<const std::string*>> by_column(pins.size());
  for (const auto& [instance, clamps] : power_pin_clamp_dict) {
    std::size_t first = pins.size();
    for (const auto& [pin, value] : clamps)
      first = std::min(first, column_of.at(pin));
    if (first < pins.size())
      by_column[first].push_back(&instance);
  }
  std::vector<std::string> instances;
  for (const auto& column : by_column) {
    for (const std::string* instance : column)
      instances.push_back(*instance);
  }

  worksheet.write_string(0, 0, "Test Instance");
  worksheet.write_row(0, 1, pins);
  worksheet.write_column(1, 0, instances);
  for (std::size_t i = 0; i < instances.size(); ++i) {
    const auto& clamps = power_pin_clamp_dict.at(instances[i]);
    std::vector<xlsx::CellValue> cells;
    for (const auto& pin : pins) {
      auto it = clamps.find(pin);
      // A pin the instance lacks shows as #NUM!.
      cells.emplace_back(it != clamps.end() ? it->second
                                            : std::numeric_limits<double>::quiet_NaN());
    }
    worksheet.write_row(static_cast<xlsx::Row>(i + 1), 1, cells);
  }
  excel_file_optimise(worksheet, "B2");
}

} // namespace tarnwick::olvent
