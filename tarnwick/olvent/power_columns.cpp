// The power-pin level columns of the job sheet and the clamp values kept per instance.

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tarnwick/common/common.hpp"
#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/evaluate.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/quenby/quenby.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/ordered_map.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::olvent {

namespace {

// The rows of the power-order workbook `path` below its header row: (pin name, alias). Only the
// first sheet is read, down to the first row that has no cell in column 0 or 1 of the sheet's
// used range. Throws what the workbook reader throws.
columns::PowerOrder read_power_order(const std::string& path)
{
  xlsx::Reader reader(path);
  xlsx::Sheet sheet = reader.read_sheet(std::size_t{0});
  columns::PowerOrder rows;
  for (std::size_t row = 1; sheet.in_used_range(row, 0) && sheet.in_used_range(row, 1); ++row)
    rows.emplace_back(sheet.cell(row, 0).text, sheet.cell(row, 1).text);
  return rows;
}

columns::PinLevelTables read_pin_levels(const std::string& path)
{
  quenby::ParsePinLevel reader;
  reader.read_pin_level(path);
  return {reader.get_pin_level_info(), reader.get_pin_clamp_info()};
}

// The column of the power-pin header `header` on `sheet`: the one it got first in this job, else a
// new one, given its header. `positions` indexes `power_list` by header; it is rebuilt when it
// does not follow the list, which the flow walk empties for every job.
xlsx::Column power_column(const std::string& header, std::vector<std::string>& power_list,
                          std::unordered_map<std::string, std::size_t>& positions,
                          xlsx::Worksheet& sheet)
{
  auto known = positions.find(header);
  if (positions.size() != power_list.size()
      || (known != positions.end()
          && (known->second >= power_list.size() || power_list[known->second] != header))) {
    positions.clear();
    for (std::size_t i = 0; i < power_list.size(); ++i)
      positions.try_emplace(power_list[i], i);
    known = positions.find(header);
  }
  if (known != positions.end())
    return static_cast<xlsx::Column>(Olvent::print_inst_info_col_cnt + known->second);
  positions.emplace(header, power_list.size());
  power_list.push_back(header);
  auto dps_index =
      static_cast<xlsx::Column>(Olvent::print_inst_info_col_cnt + power_list.size() - 1);
  sheet.write_string(0, dps_index, header);
  sheet.set_column(dps_index, dps_index, 15);
  return dps_index;
}

// Fills `plan` with what one record of the level sheet `pin_level_sheet` comes to: with no
// power order (`order` null) every pin of the sheet under its own name, else the pins of the
// order under their alias (their name when it has none), a pin the sheet lacks giving two log
// lines. `compute` gives the value of a level or clamp expression. Throws tarnwick::Error for a
// pin without a clamp row and what `compute` throws; `plan` then holds the part before.
template <class Compute>
void plan_power_pins(const columns::PinLevelTables& tables, const columns::PowerOrder* order,
                     const std::string& pin_level_sheet, Compute compute, columns::PowerPlan& plan)
{
  const quenby::PinLevelDict& pin_level_origin_dict = *tables.levels;
  const quenby::PinLevelDict& pin_clamp_origin_dict = *tables.clamps;

  // The pins to show, in column order, and the header each one shows under.
  text::OrderedMap<std::string, std::string> pin_level_dict;
  text::OrderedMap<std::string, std::string> power_pin_alias_dict;
  if (order == nullptr) {
    for (const auto& [pin, level] : pin_level_origin_dict) {
      pin_level_dict.insert_or_assign(pin, level);
      power_pin_alias_dict.insert_or_assign(pin, pin);
    }
  } else {
    for (const auto& [pin, alias] : *order) {
      power_pin_alias_dict.insert_or_assign(pin, alias.empty() ? pin : alias);
      auto level = pin_level_origin_dict.find(pin);
      if (level == pin_level_origin_dict.end()) {
        plan.log_lines.push_back(
            {"Cannot find power pin name in pin level file!", LogMark::warning()});
        plan.log_lines.push_back({"Power pin name is: " + pin, LogMark::warning_detail()});
        continue;
      }
      pin_level_dict.insert_or_assign(pin, level->second);
    }
  }

  for (const auto& [pin, level] : pin_level_dict) {
    auto clamp = pin_clamp_origin_dict.find(pin);
    if (clamp == pin_clamp_origin_dict.end())
      throw Error("Power pin " + pin + " has no clamp row in " + pin_level_sheet);
    columns::PowerPlan::Pin& shown = plan.pins.emplace_back();
    shown.pin = pin;
    shown.header = power_pin_alias_dict.at(pin);
    // A level that is or rounds to zero is shown orange.
    double value = compute(level);
    shown.text = text::format_float(value);
    shown.zero = value == 0.0;
    shown.clamp = compute(clamp->second);
  }
}

} // namespace

int Olvent::power_process_and_get_count(const std::string& flow_table_directory,
                                        const lomerick::FlowContent& flow_table_info,
                                        int flow_table_index)
{
  const std::string& test_suite_name = flow_table_info.parameter;
  const auto* records = columns::instance_records(
      test_instance_dict, test_suite_name, [this](const std::string& line) { put_data_log(line); });
  if (records == nullptr)
    return 0;

  try {
    if (work_sheet == nullptr)
      throw Error("No job sheet to write the power pins of " + test_suite_name + " into");
    xlsx::Worksheet& sheet = *work_sheet;
    const sarnet::SpecDict& spec_dict = columns::spec_table(dc_spec_dict);
    // Sheets unchanged since an earlier record are not parsed again, and a record whose sheets,
    // category and selector are those of an earlier record comes to what that one came to.
    columns::Cache& cache = columns::cache_in(m_column_cache);
    cache.begin_call();
    cache.power_plans.use(dc_spec_dict, glob_spec_dict, dc_spec_version, false);
    auto& clamps = power_pin_clamp_dict[test_suite_name];
    clamps.clear();

    // Shows what a record came to in its sheet row `row`.
    auto apply = [&](const columns::PowerPlan& plan, xlsx::Row row) {
      for (const auto& line : plan.log_lines)
        put_data_log(line.text, line.mark);
      for (const auto& shown : plan.pins) {
        xlsx::Column dps_index = power_column(shown.header, power_list, cache.power_columns, sheet);
        if (shown.text)
          sheet.write_string(row, dps_index, *shown.text,
                             shown.zero ? format_orange : xlsx::Format{});
        if (shown.clamp)
          clamps.insert_or_assign(shown.pin, *shown.clamp);
      }
    };

    int row_counter = flow_table_index;
    for (const auto& record : *records) {
      if (record.dc_category.empty()) {
        ++row_counter;
        continue;
      }
      const std::string category_name = columns::with_context(context_env, record.dc_category);
      const std::string& selector_name = record.dc_selector;
      const auto row = static_cast<xlsx::Row>(row_counter + 1);

      const auto& levels = cache.pin_levels.get(
          columns::join_path(flow_table_directory, record.pin_level + ".txt"), read_pin_levels);
      const auto* order = power_order_path.empty()
                              ? nullptr
                              : &cache.power_orders.get(power_order_path, read_power_order);
      std::string plan_key = std::to_string(levels.serial) + "/"
                             + std::to_string(order ? order->serial : 0) + "/"
                             + columns::value_key("", category_name, selector_name);
      if (const columns::PowerPlan* known = cache.power_plans.find(plan_key)) {
        apply(*known, row);
        ++row_counter;
        continue;
      }

      // A level or clamp expression, substituted from the DC spec, evaluated and rounded to
      // five places.
      auto compute = [&](const std::string& expression) {
        std::string substituted =
            spec_calculation(expression, spec_dict, dc_spec_version, category_name, selector_name,
                             dc_selector_rows.get());
        return text::round_half_even(evaluate_expression(common::format_str(substituted)), 5);
      };
      columns::PowerPlan plan;
      try {
        plan_power_pins(levels.tables, order ? &order->tables : nullptr, record.pin_level, compute,
                        plan);
      } catch (...) {
        apply(plan, row);
        throw;
      }
      apply(plan, row);
      cache.power_plans.store(std::move(plan_key), std::move(plan));
      ++row_counter;
    }
  } catch (...) {
    // The pattern columns go after every power column written so far, also when this row
    // stopped half way.
    MAX_DSP_CNT = std::max(MAX_DSP_CNT, static_cast<int>(power_list.size()));
    throw;
  }
  return static_cast<int>(power_list.size());
}

} // namespace tarnwick::olvent
