#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "safe_files.hpp"
#include "tarnwick/common/common.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::common {

namespace {

// Below this magnitude every integral double prints exactly as an integer.
constexpr double k_integral_limit = 1e15;

// Text of a number cell: integral values without a fraction ("5"), others the shortest text
// that reads back as the same value ("0.1", "1e-09").
std::string number_text(double value)
{
  if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < k_integral_limit) {
    return text::format_int(static_cast<std::int64_t>(value));
  }
  return text::format_float(value);
}

// A cell as one field of a sheet text export. A formula keeps its text so that expressions
// survive; a tab or line break inside a cell would split the row, so it becomes a blank.
std::string cell_text(const xlsx::Cell& cell)
{
  std::string out;
  if (cell.has_formula && !cell.formula.empty()) {
    out = "=" + cell.formula;
  } else {
    switch (cell.kind) {
    case xlsx::CellKind::empty:
      break;
    case xlsx::CellKind::text:
    case xlsx::CellKind::error:
      out = cell.text;
      break;
    case xlsx::CellKind::number:
      out = number_text(cell.number);
      break;
    case xlsx::CellKind::boolean:
      out = cell.boolean ? "TRUE" : "FALSE";
      break;
    }
  }
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return out;
}

// Rows from the first row of the sheet to the last used one, each with as many fields as the
// last used column needs; every field but the first is preceded by a tab.
std::string sheet_text(const xlsx::Sheet& sheet)
{
  std::string out;
  const std::size_t columns = sheet.column_count();
  for (std::size_t row = 0; row < sheet.row_count(); ++row) {
    std::size_t column = 0;
    for (const auto& [at, cell] : sheet.row_cells(row)) {
      for (; column < at; ++column) {
        if (column > 0) {
          out += '\t';
        }
      }
      if (at > 0) {
        out += '\t';
      }
      out += cell_text(cell);
      column = at + 1;
    }
    for (; column < columns; ++column) {
      if (column > 0) {
        out += '\t';
      }
    }
    out += '\n';
  }
  return out;
}

void check_file_name(std::string_view sheet_name, const std::string& workbook_path)
{
  if (sheet_name.empty() || sheet_name == "." || sheet_name == ".."
      || sheet_name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    throw Error(workbook_path + ": the sheet name \"" + std::string(sheet_name)
                + "\" cannot name a file");
  }
}

} // namespace

void export_sheets_to_txt(const std::string& workbook_path, const std::string& target_directory)
{
  if (workbook_path.empty()) {
    throw FileNotFoundError("No such file or directory: ''");
  }
  const xlsx::Reader reader{std::filesystem::path(workbook_path)};
  const std::vector<std::string>& names = reader.sheet_names();
  for (const std::string& name : names) {
    check_file_name(name, workbook_path);
  }

  const detail::Fd root = detail::open_target_directory(target_directory);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string text = sheet_text(reader.read_sheet(i));
    const std::string file_name = names[i] + ".txt";
    const std::string shown = (std::filesystem::path(target_directory) / file_name).string();
    detail::Fd out = detail::create_file(root, file_name, shown);
    detail::write_all(out, text, shown);
    detail::close_file(out, shown);
  }
}

} // namespace tarnwick::common
