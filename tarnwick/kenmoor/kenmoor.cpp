#include "tarnwick/kenmoor/kenmoor.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/printed.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::kenmoor {

namespace {

namespace fs = std::filesystem;

// Title, blank, column groups and column headings come before the first data row.
constexpr std::size_t k_header_rows = 4;

// Six argument cells, from the argument list on, may name pattern sets.
constexpr std::size_t k_set_cells = 6;

// How much of a row the pattern-file search looks at.
constexpr std::size_t k_ultraflex_search_cells = 144;
constexpr std::size_t k_other_search_cells = 93;

std::string join(const std::vector<std::string>& items, std::string_view separator)
{
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      joined += separator;
    }
    joined += items[i];
  }
  return joined;
}

// A pattern file named in a row: a whole cell, or a whole item of a comma-separated cell, that
// ends with the platform's pattern extension (a ".gz" after it kept). Blanks may stand inside.
std::string pattern_file_expression(std::string_view extension)
{
  return R"([\t,]((?:[^\s,]| )+)" + std::string(extension) + R"((?:\.gz)?)(?=[\t,\n]|$))";
}

const text::Regex& patx_expression()
{
  static const text::Regex regex(pattern_file_expression(R"(\.patx)"),
                                 {.caseless = true, .unicode = true});
  return regex;
}

const text::Regex& pat_or_patx_expression()
{
  static const text::Regex regex(pattern_file_expression(R"(\.patx?)"),
                                 {.caseless = true, .unicode = true});
  return regex;
}

const text::Regex& pat_expression()
{
  static const text::Regex regex(pattern_file_expression(R"(\.pat)"),
                                 {.caseless = true, .unicode = true});
  return regex;
}

// The pattern files UltraFLEXplus reads are .patx; UltraFLEX reads .pat and .patx; the other
// testers .pat.
const text::Regex& pattern_file_regex(std::string_view platform)
{
  if (platform == "UltraFLEXplus") {
    return patx_expression();
  }
  return text::is_ultraflex(platform) ? pat_or_patx_expression() : pat_expression();
}

// Where a sheet's cells are, from its two heading rows: the group row (row 2, "DC Specs",
// "AC Specs") and the column row (row 3). A column the headings do not name stays in the cell
// of the UltraFLEX layout; the J750 layout has no "Mixed Signal Timing" column, so its
// arguments start one cell earlier.
InstanceColumns columns_of(const std::vector<std::string>& lines)
{
  InstanceColumns columns;
  if (lines.size() < k_header_rows) {
    return columns;
  }
  const auto groups = text::split_cells(lines[2]);
  const auto headings = text::split_cells(lines[3]);
  if (const auto overlay = text::header_column(headings, "Overlay")) {
    columns.arg_list = *overlay + 1;
  }
  if (const auto time_sets = text::header_column(headings, "Time Sets")) {
    columns.time_set = *time_sets;
  }
  if (const auto pin_levels = text::header_column(headings, "Pin Levels")) {
    columns.pin_level = *pin_levels;
  }
  auto spec_group = [&](std::string_view group, std::size_t& category, std::size_t& selector) {
    const auto first = text::header_column(groups, group);
    const auto named = first ? text::header_column(headings, "Category", *first) : std::nullopt;
    if (!named) {
      return;
    }
    category = *named;
    if (const auto next = text::header_column(headings, "Selector", *named)) {
      selector = *next;
    }
  };
  spec_group("DC Specs", columns.dc_category, columns.dc_selector);
  spec_group("AC Specs", columns.ac_category, columns.ac_selector);
  return columns;
}

} // namespace

std::array<std::string, 9> InstanceContent::text_values() const
{
  return {method,      dc_category, dc_selector, time_set, ac_category,
          ac_selector, pin_level,   pattern,     arg_list};
}

std::string printed(const InstanceContent& content)
{
  std::vector<std::pair<std::string, std::string>> fields;
  const auto values = content.text_values();
  for (std::size_t i = 0; i < values.size(); ++i) {
    fields.emplace_back(InstanceContent::k_keys[i], text::quoted(values[i]));
  }
  fields.emplace_back(InstanceContent::k_keys[9], text::quoted_list(content.arg_details));
  return text::printed_record(fields);
}

Kenmoor::Kenmoor() : m_test_instance_dict(std::make_shared<TestInstanceDict>()) {}

void Kenmoor::read_test_instance(const std::string& test_instance_path,
                                 const PatternSetDict& pattern_set_dict, std::string_view platform)
{
  const auto path = text::existing_or_unescaped(test_instance_path);
  parse(files::read_sheet_export(path), pattern_set_dict, platform, path);
}

void Kenmoor::parse(std::string_view text, const PatternSetDict& pattern_set_dict,
                    std::string_view platform, std::string_view source)
{
  const auto& expression = pattern_file_regex(platform);
  const std::size_t search_cells =
    text::is_ultraflex(platform) ? k_ultraflex_search_cells
                                                         : k_other_search_cells;
  const auto lines = text::split_lines(text);
  m_columns = columns_of(lines);
  const std::size_t sets_end = m_columns.arg_list + k_set_cells;
  for (std::size_t i = k_header_rows; i < lines.size(); ++i) {
    try {
      const auto cells = text::split_cells(lines[i]);
      text::need_cells(cells, 2);
      if (cells[1].empty()) {
        return;
      }
      auto& records = (*m_test_instance_dict)[text::upper(cells[1])];
      std::string pattern_info;
      if (!pattern_set_dict.empty()) {
        text::need_cells(cells, sets_end);
        for (std::size_t c = m_columns.arg_list; c < sets_end; ++c) {
          const auto set = pattern_set_dict.find(text::upper(cells[c]));
          if (set == pattern_set_dict.end()) {
            continue;
          }
          if (!pattern_info.empty()) {
            pattern_info += ',';
          }
          pattern_info += join(set->second, ",");
        }
      }
      if (!pattern_info.empty()) {
        records.push_back(get_instance_content(cells, std::move(pattern_info)));
        continue;
      }
      const std::vector<std::string> searched(
        cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(std::min(search_cells, cells.size())));
      find_pat_path(expression, join(searched, "\t"), cells);
    } catch (const Error& error) {
      throw Error(text::row_location(source, i) + ": " + error.what());
    }
  }
}

void Kenmoor::find_pat_path(const text::Regex& pat_pattern, std::string_view test_instance_line,
                            const text::Row& line_list)
{
  text::need_cells(line_list, 2);
  auto record = get_instance_content(line_list, join(pat_pattern.find_all(test_instance_line), ","));
  (*m_test_instance_dict)[text::upper(line_list[1])].push_back(std::move(record));
}

InstanceContent Kenmoor::get_instance_content(const text::Row& line_list,
                                              std::string pattern_info) const
{
  const InstanceColumns& at = m_columns;
  text::need_cells(line_list, std::max({at.arg_list, at.dc_category, at.dc_selector,
                                        at.ac_category, at.ac_selector, at.time_set,
                                        at.pin_level}) + 1);
  const auto& arg_list = line_list[at.arg_list];
  const auto items = static_cast<std::size_t>(std::count(arg_list.begin(), arg_list.end(), ',')) + 1;
  const auto first = line_list.begin() + static_cast<std::ptrdiff_t>(at.arg_list + 1);
  const auto last = line_list.begin() +
                    static_cast<std::ptrdiff_t>(std::min(line_list.size(), at.arg_list + 1 + items));

  InstanceContent content;
  content.method = line_list[3];
  content.dc_category = line_list[at.dc_category];
  content.dc_selector = line_list[at.dc_selector];
  content.time_set = line_list[at.time_set];
  content.ac_category = line_list[at.ac_category];
  content.ac_selector = line_list[at.ac_selector];
  content.pin_level = line_list[at.pin_level];
  content.pattern = std::move(pattern_info);
  content.arg_list = arg_list;
  content.arg_details.assign(first, last);
  return content;
}

std::shared_ptr<TestInstanceDict> Kenmoor::get_instance_info() const
{
  return m_test_instance_dict;
}

} // namespace tarnwick::kenmoor
