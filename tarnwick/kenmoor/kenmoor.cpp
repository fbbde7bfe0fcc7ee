#include "tarnwick/kenmoor/kenmoor.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

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

// Cells 14 to 19 may name pattern sets; cell 14 is the argument list.
constexpr std::size_t k_first_set_cell = 14;
constexpr std::size_t k_set_cells_end = 20;
constexpr std::size_t k_arg_list_cell = 14;

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


const text::Regex& patx_expression()
{
  static const text::Regex regex(R"(\t([\S ]+\.patx))", {.caseless = true, .unicode = true});
  return regex;
}

const text::Regex& pat_expression()
{
  static const text::Regex regex(R"(\t([\S ]+\.pat))", {.caseless = true, .unicode = true});
  return regex;
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
  parse(text::read_sheet_export(path), pattern_set_dict, platform, path);
}

void Kenmoor::parse(std::string_view text, const PatternSetDict& pattern_set_dict,
                    std::string_view platform, std::string_view source)
{
  const auto& expression = platform == "UltraFLEXplus" ? patx_expression() : pat_expression();
  const std::size_t search_cells =
    text::is_ultraflex(platform) ? k_ultraflex_search_cells
                                                         : k_other_search_cells;
  const auto lines = text::split_lines(text);
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
        text::need_cells(cells, k_set_cells_end);
        for (std::size_t c = k_first_set_cell; c < k_set_cells_end; ++c) {
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
  text::need_cells(line_list, k_arg_list_cell + 1);
  const auto& arg_list = line_list[k_arg_list_cell];
  const auto items = static_cast<std::size_t>(std::count(arg_list.begin(), arg_list.end(), ',')) + 1;
  const auto first = line_list.begin() + static_cast<std::ptrdiff_t>(k_arg_list_cell + 1);
  const auto last = line_list.begin() +
                    static_cast<std::ptrdiff_t>(std::min(line_list.size(), k_arg_list_cell + 1 + items));

  InstanceContent content;
  content.method = line_list[3];
  content.dc_category = line_list[5];
  content.dc_selector = line_list[6];
  content.time_set = line_list[9];
  content.ac_category = line_list[7];
  content.ac_selector = line_list[8];
  content.pin_level = line_list[11];
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
