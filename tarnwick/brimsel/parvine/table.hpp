#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tarnwick/brimsel/parvine/export.hpp"

namespace tarnwick::xlsx {
class Workbook;
class Worksheet;
} // namespace tarnwick::xlsx

namespace tarnwick::parvine {

// One cell of a report table: a text or a whole number. An empty text leaves the cell empty.
using Value = std::variant<std::string, std::int64_t>;

// The rows of one report sheet before they are written: the header texts and, per row, one
// value per header in the same order.
struct Table
{
  std::vector<std::string> headers;
  std::vector<std::vector<Value>> rows;

  bool operator==(const Table&) const = default;
};

// Widest column a fitted sheet gets, in characters.
inline constexpr double k_max_column_width = 50.0;

// Length of a cell for width fitting: code points of a text (a Chinese character counts 1),
// digits and sign of a number.
TARNWICK_PARVINE_EXPORT std::size_t cell_length(const Value& value);

// The fitted width of every column of `table`: min(L + 2, 50) where L is the longest cell of the
// column, header included.
TARNWICK_PARVINE_EXPORT std::vector<double> fitted_widths(const Table& table);

// Adds a sheet `name` after the existing ones and writes `table` into it: the headers in row 1
// from column A, each row below in order, texts as text cells, numbers as number cells, empty
// texts as no cell. Returns the new sheet. Throws tarnwick::Error when the workbook refuses the
// sheet or a cell.
TARNWICK_PARVINE_EXPORT xlsx::Worksheet& write_table_sheet(xlsx::Workbook& writer,
                                                           std::string_view name,
                                                           const Table& table);

// Sets the columns of `sheet` to the fitted widths of `table`, the table written into it.
TARNWICK_PARVINE_EXPORT void fit_column_widths(xlsx::Worksheet& sheet, const Table& table);

// Writes a table sheet row by row: the same cells and fitted widths as write_table_sheet and
// fit_column_widths give the whole Table, without holding every row at once.
class TARNWICK_PARVINE_EXPORT TableSheetWriter
{
public:
  // Adds the sheet `name` and writes `headers` into row 1. Throws as write_table_sheet.
  TableSheetWriter(xlsx::Workbook& writer, std::string_view name,
                   const std::vector<std::string>& headers);

  // Writes `values` into the next row.
  void add_row(const std::vector<Value>& values);

  // Sets the columns to the fitted widths of the headers and every row written so far.
  void fit_column_widths();

private:
  xlsx::Worksheet& m_sheet;
  std::vector<std::size_t> m_longest; // per header column, its longest cell
  std::size_t m_next_row = 1;
};

} // namespace tarnwick::parvine
