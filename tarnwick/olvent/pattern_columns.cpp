// The pattern, period (or frequency) and clock columns of the job sheet.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tarnwick/common/common.hpp"
#include "tarnwick/dravel/dravel.hpp"
#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/evaluate.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/vellox/vellox.hpp"

namespace tarnwick::olvent {

void Olvent::pattern_period_clk_process(int dps_count, int write_row_start,
                                        const lomerick::FlowContent& flow_table_info,
                                        const std::string& flow_table_directory)
{
  const std::string& test_suite_name = flow_table_info.parameter;
  const auto* records = columns::instance_records(
      test_instance_dict, test_suite_name, [this](const std::string& line) { put_data_log(line); });
  if (records == nullptr)
    return;
  if (work_sheet == nullptr)
    throw Error("No job sheet to write the pattern columns of " + test_suite_name + " into");
  xlsx::Worksheet& sheet = *work_sheet;
  const bool frequency = cycle_mode == "Frequency";

  if (records->size() > 1)
    sheet.set_row(write_row_start + 1, std::nullopt, {}, {.collapsed = true});

  columns::Cache& cache = columns::cache_in(m_column_cache);
  cache.begin_call();
  // Row-0 headers and widths are the same for every record of the row; each is written once.
  std::unordered_set<xlsx::Column> done_columns;
  auto header = [&](xlsx::Column column, const std::string& name, bool wide) {
    if (!done_columns.insert(column).second)
      return;
    sheet.write_string(0, column, name);
    if (wide)
      sheet.set_column(column, column, 40);
  };

  // The period and clock texts of one pattern; a pattern whose values cannot be had shows
  // empty cells.
  auto pattern_values = [&](const std::string& pattern, const std::string& time_set,
                            const std::string& category, const std::string& selector) {
    try {
      auto values = extract_per_clk(pattern, time_set, category, selector);
      pat2inst_dict[pattern].push_back(test_suite_name);
      return values;
    } catch (const std::exception&) {
      std::string line = "Warning: cannot read pattern file: " + pattern;
      put_data_log(line, LogMark::warning());
      columns::print_line(line);
      return std::pair<std::vector<std::string>, std::vector<std::string>>{{""}, {""}};
    }
  };

  const int start = write_row_start;
  for (const auto& record : *records) {
    const std::string& pattern = record.pattern;
    const std::string& time_set = record.time_set;
    const std::string category = columns::with_context(context_env, record.ac_category);
    const std::string& selector = record.ac_selector;

    if (!pattern.empty() && !time_set.empty()) {
      const auto row = static_cast<xlsx::Row>(write_row_start + 1);
      // A sheet unchanged since an earlier record is not parsed again.
      const columns::TimeSetTables& timing =
          cache.time_sets
              .get(
                  columns::join_path(flow_table_directory,
                                     time_set.substr(0, time_set.find(',')) + ".txt"),
                  [this](const std::string& path) {
                    vellox::ParseTIM reader;
                    reader.read_timing(path, platform);
                    return columns::TimeSetTables{reader.get_timing_info(), reader.get_clk_info()};
                  },
                  platform)
              .tables;
      tsb_dict.insert_or_assign(time_set, timing.timing);
      clock_dic.insert_or_assign(time_set, timing.clocks);

      const auto base = static_cast<xlsx::Column>(print_inst_info_col_cnt + dps_count);
      header(base, "PatternName_0", true);
      header(base + 1, frequency ? "Freq_0" : "Period_0", false);
      header(base + 2, "Clock_0", false);

      if (pattern.find(',') != std::string::npos) {
        const std::vector<std::string> items = columns::split_commas(pattern);
        for (std::size_t i = 0; i < items.size(); ++i) {
          const auto column = static_cast<xlsx::Column>(base + 3 * i);
          const std::string number = std::to_string(i);
          auto [periods, clocks] = pattern_values(items[i], time_set, category, selector);
          header(column, "PatternName_" + number, true);
          sheet.write_string(row, column, items[i]);
          header(column + 1, (frequency ? "Freq_" : "Period_") + number, false);
          sheet.write_string(row, column + 1, columns::join_commas(periods));
          header(column + 2, "Clock_" + number, false);
          sheet.write_string(row, column + 2, columns::join_commas(clocks));
        }
      } else {
        auto [periods, clocks] = pattern_values(pattern, time_set, category, selector);
        sheet.write_string(row, base, pattern);
        sheet.write_string(row, base + 1, columns::join_commas(periods));
        sheet.write_string(row, base + 2, columns::join_commas(clocks));
      }
    }

    // Every record after the first is an outline detail of the first, written or not.
    if (write_row_start != start)
      sheet.set_row(write_row_start + 1, std::nullopt, {}, {.level = 1, .hidden = true});
    ++write_row_start;
  }
}

std::pair<std::vector<std::string>, std::vector<std::string>>
Olvent::extract_per_clk(const std::string& pattern_name, const std::string& timing_name,
                        const std::string& category_name, const std::string& selector_name)
{
  std::vector<std::string> period_val_list;
  std::vector<std::string> clk_val_list;
  if (pattern_path.empty()) {
    period_val_list.emplace_back();
    clk_val_list.emplace_back();
    return {period_val_list, clk_val_list};
  }

  // The pattern tool is asked once per pattern; the time sets of a known pattern are the keys
  // of its entry.
  auto known = tset_dict.find(pattern_name);
  const bool cached = known != tset_dict.end();
  std::shared_ptr<const dravel::TsetNameList> listed;
  std::vector<const std::string*> tset_name_list;
  if (cached) {
    for (const auto& [name, value] : known->second)
      tset_name_list.push_back(&name);
  } else {
    dravel::Dravel tool;
    tool.read_tset_from_pattern(pattern_path, pattern_name);
    listed = tool.get_pattern_tset();
    for (const std::string& name : *listed)
      tset_name_list.push_back(&name);
  }

  auto timing_table = tsb_dict.find(timing_name);
  auto clock_table = clock_dic.find(timing_name);
  if (timing_table == tsb_dict.end() || clock_table == clock_dic.end() || !timing_table->second
      || !clock_table->second)
    throw Error("No time-set sheet read for " + timing_name);
  const vellox::TimingPeriod& timing = *timing_table->second;
  const vellox::ClkDic& clocks = *clock_table->second;
  const sarnet::SpecDict& spec_dict = columns::spec_table(ac_spec_dict);
  const bool frequency = cycle_mode == "Frequency";
  // Expressions computed before with the same spec tables and mode are not computed again.
  columns::Cache& cache = columns::cache_in(m_column_cache);
  cache.ac_values.use(ac_spec_dict, glob_spec_dict, ac_spec_version, frequency);

  // The value text of `expression`; `working` follows the expression text as far as the steps
  // got. A value without a unit (zero, negative, below 1e-12) counts as a failure.
  const std::string key_prefix = columns::value_key("", category_name, selector_name);
  std::string key;
  auto evaluate = [&](const std::string& expression, std::string& working) {
    key.assign(key_prefix).append(expression);
    if (const std::string* known_value = cache.ac_values.find(key))
      return *known_value;
    working =
        spec_calculation(expression, spec_dict, ac_spec_version, category_name, selector_name,
                         ac_selector_rows.get());
    if (frequency)
      working = "1/(" + working + ")";
    double value = evaluate_expression(common::format_str(working));
    std::optional<std::string> formatted = add_unit(value);
    if (!formatted)
      throw Error("No unit for the value " + text::format_float(value));
    cache.ac_values.store(key, *formatted);
    return *formatted;
  };

  for (const std::string* listed_name : tset_name_list) {
    const std::string& name = *listed_name;
    std::string period_value;
    std::string clock_text;
    const std::string key = text::upper(name);
    auto period = timing.find(key);
    if (period != timing.end()) {
      const std::string& timing_period = period->second;
      auto clock_map = clocks.find(key);
      if (clock_map == clocks.end())
        throw Error("No clock table for the time set " + name + " in " + timing_name);
      const vellox::ClockMap& mcg_clk_dic = clock_map->second;

      std::string working;
      try {
        period_value = evaluate(timing_period, working);
      } catch (const std::exception&) {
        period_value = "Error: cannot parse AC variables: " + timing_period + "=" + working;
      }
      for (const auto& [pin, clock] : mcg_clk_dic) {
        std::string clock_working = clock;
        clock_text += pin;
        clock_text += ':';
        try {
          clock_text += evaluate(clock, clock_working);
        } catch (const std::exception&) {
          clock_text += "Error: cannot parse AC variables: " + pin + "=" + clock_working;
        }
        clock_text += ';';
      }
    } else {
      std::string line = "Warning: Tset(" + name + ") in pattern(" + pattern_name
                         + ") is not list in TSB: " + timing_name;
      put_data_log(line, LogMark::warning());
      columns::print_line(line);
    }
    period_val_list.push_back(std::move(period_value));
    clk_val_list.push_back(std::move(clock_text));
  }

  // A known pattern gets each new value appended to the texts stored for its time sets (its
  // names are that entry's keys, each once); a new pattern pairs each name with its value, a
  // name listed twice keeping the later one.
  if (cached) {
    std::size_t i = 0;
    for (auto it = known.value().begin(); it != known.value().end(); ++it, ++i) {
      it.value() += ',';
      it.value() += period_val_list[i];
    }
  } else {
    text::OrderedMap<std::string, std::string> entry;
    for (std::size_t i = 0; i < tset_name_list.size(); ++i)
      entry.insert_or_assign(*tset_name_list[i], period_val_list[i]);
    tset_dict.insert_or_assign(pattern_name, std::move(entry));
  }
  return {period_val_list, clk_val_list};
}

} // namespace tarnwick::olvent
