#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarnwick/xlsx/export.hpp"

namespace tarnwick::xlsx {

// What a cell holds; `to_string` gives "empty", "text", "number", "boolean", "error".
enum class CellKind
{
  empty,
  text,
  number,
  boolean,
  error,
};
TARNWICK_XLSX_EXPORT std::string_view to_string(CellKind kind);

// One cell as read from a workbook.
struct Cell
{
  CellKind kind = CellKind::empty;
  // text: the text (shared or inline string, or a formula's text result);
  // error: the error value such as "#N/A";
  // number: the value as stored in the file ("1.5", "1E-3"); dates are plain numbers;
  // boolean: "TRUE" or "FALSE"; empty: "".
  std::string text;
  double number = 0.0;  // number cells; 1 or 0 for booleans
  bool boolean = false; // boolean cells
  // The cell's formula without a leading "=" when it has one. Cells that share a formula
  // written once in another cell have has_formula set and an empty `formula`.
  bool has_formula = false;
  std::string formula;
};

// Safety caps against archive and XML bombs; going past one throws tarnwick::Error. The total
// counts every part one Reader reads (the shared strings once, each read_sheet again).
struct ReaderLimits
{
  std::uint64_t max_entry_size = 256ULL << 20;  // uncompressed bytes of one part
  std::uint64_t max_total_size = 512ULL << 20;  // uncompressed bytes of all parts read
  std::uint64_t max_cells = 20'000'000;         // cells of one sheet
  std::uint64_t max_sheet_text = 512ULL << 20;  // bytes of cell text one sheet holds
};

// One worksheet's cells, sparse. Rows and columns count from 0.
class TARNWICK_XLSX_EXPORT Sheet
{
public:
  Sheet() = default;

  const std::string& name() const { return m_name; }

  // One past the last row / column that holds a cell (0 for a sheet without cells). A cell
  // element present in the file counts even when it is empty (a formatted blank).
  std::size_t row_count() const { return m_row_count; }
  std::size_t column_count() const { return m_column_count; }

  // True when (`row`, `column`) lies inside the used range, i.e. below row_count() and
  // column_count().
  bool in_used_range(std::size_t row, std::size_t column) const
  {
    return row < m_row_count && column < m_column_count;
  }

  // The cell at (`row`, `column`); an empty cell anywhere nothing was stored.
  const Cell& cell(std::size_t row, std::size_t column) const;

  // The stored cells of `row` as (column, cell) pairs in column order (empty for rows
  // without cells).
  std::span<const std::pair<std::size_t, Cell>> row_cells(std::size_t row) const;

private:
  friend class Reader;
  using RowCells = std::vector<std::pair<std::size_t, Cell>>;
  std::string m_name;
  std::size_t m_row_count = 0;
  std::size_t m_column_count = 0;
  std::vector<std::pair<std::size_t, RowCells>> m_rows; // by row index, ascending
};

// Reads .xlsx / .xlsm workbooks written by any program (Excel, LibreOffice, openpyxl, this
// project's writer): workbook order of sheets, shared and inline strings, numbers, booleans,
// errors and formulas with their cached values. Every error names the file.
class TARNWICK_XLSX_EXPORT Reader
{
public:
  // Opens the workbook at `path` and reads its sheet list. Throws tarnwick::FileNotFoundError
  // when the file does not exist, tarnwick::Error when it is no regular file (a FIFO or a
  // device is not waited on), no readable workbook or passes a cap of `limits`.
  explicit Reader(const std::filesystem::path& path, ReaderLimits limits = {});
  ~Reader();
  Reader(Reader&&) noexcept;
  Reader& operator=(Reader&&) noexcept;

  const std::filesystem::path& path() const;

  // Names of the worksheets in workbook order. Chart sheets, dialog and macro sheets are not
  // listed.
  const std::vector<std::string>& sheet_names() const;

  // True when a worksheet of that exact name exists.
  bool has_sheet(std::string_view name) const;

  // Reads the worksheet called `name` (exact match) or at position `index` of sheet_names().
  // Throws tarnwick::Error when there is no such worksheet or its part cannot be read.
  Sheet read_sheet(std::string_view name) const;
  Sheet read_sheet(std::size_t index) const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Zero-based (row, column) of an A1-style cell reference such as "AB12" ("$" signs allowed).
// Throws tarnwick::Error for a text that is no cell reference.
TARNWICK_XLSX_EXPORT std::pair<std::size_t, std::size_t> parse_cell_ref(std::string_view ref);

} // namespace tarnwick::xlsx
