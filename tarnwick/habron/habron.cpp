#include "tarnwick/habron/habron.hpp"

#include <iostream>
#include <utility>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/printed.hpp"

namespace tarnwick::habron {

namespace {

// Cells before the first job row: title, blank, parameters and column headings.
constexpr std::size_t k_header_rows = 4;

std::string cell_or_empty(const text::Row& row, std::size_t i)
{
  return i < row.size() ? row[i] : std::string();
}

std::vector<std::string> split_at_commas(const std::string& cell)
{
  std::vector<std::string> items;
  std::size_t begin = 0;
  for (;;) {
    const auto comma = cell.find(',', begin);
    items.emplace_back(cell.substr(begin, comma - begin));
    if (comma == std::string::npos) {
      return items;
    }
    begin = comma + 1;
  }
}

} // namespace

std::string printed(const JobListContent& content)
{
  return text::printed_record({
    {"TestInstanceList", text::quoted_list(content.test_instance_list)},
    {"Flow Table", text::quoted(content.flow_table)},
    {"DC Spec", text::quoted(content.dc_spec)},
    {"AC Spec", text::quoted(content.ac_spec)},
    {"PatternSet", text::quoted_list(content.pattern_set)},
    {"Global Spec", text::quoted(content.global_spec)},
  });
}

JobListContent get_job_list_content(const text::Row& line_list)
{
  JobListContent content;
  content.test_instance_list = split_at_commas(cell_or_empty(line_list, 3));
  content.flow_table = cell_or_empty(line_list, 4);
  content.dc_spec = cell_or_empty(line_list, 6);
  content.ac_spec = cell_or_empty(line_list, 5);
  content.pattern_set = split_at_commas(cell_or_empty(line_list, 7));
  return content;
}

Habron::Habron() : m_job_list_dict(std::make_shared<JobListDict>()) {}

void Habron::read_job_list(const std::filesystem::path& job_list_path)
{
  parse(files::read_sheet_export(job_list_path));
}

void Habron::parse(std::string_view text)
{
  const auto lines = text::split_lines(text);
  for (std::size_t i = k_header_rows; i < lines.size(); ++i) {
    const auto& line = lines[i];
    auto cells = text::split_cells(line);
    if (cells.size() <= 4) {
      std::cout << "Warning: No flow table found in this line: " << line << '\n';
      continue;
    }
    if (cells[1].empty()) {
      continue;
    }
    (*m_job_list_dict)[cells[1]] = get_job_list_content(cells);
  }
}

std::shared_ptr<JobListDict> Habron::get_test_job_list_info() const
{
  return m_job_list_dict;
}

} // namespace tarnwick::habron
