#include "tarnwick/brimsel/parvine/table.hpp"

#include <algorithm>

#include "tarnwick/text/number.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace tarnwick::parvine {

namespace {

struct LengthOf
{
  std::size_t operator()(const std::string& text) const
  {
    // Texts may still carry bytes that are not UTF-8 (file paths); count them as the sheet
    // will show them, repaired.
    return text::is_valid_utf8(text) ? text::length(text) : text::length(text::repair_utf8(text));
  }
  std::size_t operator()(std::int64_t number) const { return text::format_int(number).size(); }
};

struct CellWriter
{
  xlsx::Worksheet& sheet;
  xlsx::Row row;
  xlsx::Column column;

  void operator()(const std::string& text) const { sheet.write_string(row, column, text); }
  void operator()(std::int64_t number) const
  {
    sheet.write_number(row, column, static_cast<double>(number));
  }
};

} // namespace

std::size_t cell_length(const Value& value)
{
  return std::visit(LengthOf{}, value);
}

std::vector<double> fitted_widths(const Table& table)
{
  std::vector<double> widths;
  widths.reserve(table.headers.size());
  for (std::size_t column = 0; column < table.headers.size(); ++column) {
    std::size_t longest = cell_length(table.headers[column]);
    for (const auto& row : table.rows) {
      if (column < row.size()) {
        longest = std::max(longest, cell_length(row[column]));
      }
    }
    widths.push_back(std::min(static_cast<double>(longest) + 2.0, k_max_column_width));
  }
  return widths;
}

xlsx::Worksheet& write_table_sheet(xlsx::Workbook& writer, std::string_view name,
                                   const Table& table)
{
  xlsx::Worksheet& sheet = writer.add_worksheet(name);
  for (std::size_t column = 0; column < table.headers.size(); ++column) {
    sheet.write_string(0, static_cast<xlsx::Column>(column), table.headers[column]);
  }
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    const auto& values = table.rows[row];
    for (std::size_t column = 0; column < values.size(); ++column) {
      std::visit(CellWriter{sheet, static_cast<xlsx::Row>(row + 1),
                            static_cast<xlsx::Column>(column)},
                 values[column]);
    }
  }
  return sheet;
}

void fit_column_widths(xlsx::Worksheet& sheet, const Table& table)
{
  const auto widths = fitted_widths(table);
  for (std::size_t column = 0; column < widths.size(); ++column) {
    const auto c = static_cast<xlsx::Column>(column);
    sheet.set_column(c, c, widths[column]);
  }
}

TableSheetWriter::TableSheetWriter(xlsx::Workbook& writer, std::string_view name,
                                   const std::vector<std::string>& headers)
    : m_sheet(writer.add_worksheet(name))
{
  m_longest.reserve(headers.size());
  for (std::size_t column = 0; column < headers.size(); ++column) {
    m_sheet.write_string(0, static_cast<xlsx::Column>(column), headers[column]);
    m_longest.push_back(cell_length(headers[column]));
  }
}

void TableSheetWriter::add_row(const std::vector<Value>& values)
{
  const auto row = static_cast<xlsx::Row>(m_next_row);
  for (std::size_t column = 0; column < values.size(); ++column) {
    std::visit(CellWriter{m_sheet, row, static_cast<xlsx::Column>(column)}, values[column]);
    if (column < m_longest.size()) {
      m_longest[column] = std::max(m_longest[column], cell_length(values[column]));
    }
  }
  ++m_next_row;
}

void TableSheetWriter::fit_column_widths()
{
  for (std::size_t column = 0; column < m_longest.size(); ++column) {
    const auto c = static_cast<xlsx::Column>(column);
    m_sheet.set_column(c, c, std::min(static_cast<double>(m_longest[column]) + 2.0,
                                      k_max_column_width));
  }
}

} // namespace tarnwick::parvine
