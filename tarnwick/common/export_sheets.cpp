#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/common/common.hpp"
#include "tarnwick/files/no_follow.hpp"
#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::common {

namespace {

// Limits on the text exports, like those on unpacked archives: one sheet (the size the readers
// read a sheet export up to), and all sheets of a workbook together. Far above any test
// program; a sheet with one value in its last cell (XFD1048576) would otherwise export 17 GB
// of tabs.
using files::k_max_sheet_export;
constexpr std::uint64_t k_max_total_export = std::uint64_t{1} << 30;

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

// "A1"-style name of the cell at zero-based (`row`, `column`).
std::string cell_reference(std::size_t row, std::size_t column)
{
  std::string letters;
  for (std::size_t n = column + 1; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return letters + std::to_string(row + 1);
}

// The used range of `sheet` as "A1:<last used cell>".
std::string used_range(const xlsx::Sheet& sheet)
{
  if (sheet.row_count() == 0 || sheet.column_count() == 0) {
    return "A1:A1";
  }
  return "A1:" + cell_reference(sheet.row_count() - 1, sheet.column_count() - 1);
}

// Writes the export of one sheet to its file in pieces, counting the bytes against a limit.
class ExportStream
{
public:
  ExportStream(const files::Fd& fd, const std::string& shown, std::uint64_t limit)
      : m_fd(fd), m_shown(shown), m_limit(limit)
  {
  }

  std::string& buffer() { return m_buffer; }

  // Writes out what the buffer holds once it is large. Returns false, writing nothing, when
  // the bytes written would pass the limit.
  bool flush(bool always = false)
  {
    if (!always && m_buffer.size() < k_piece) {
      return true;
    }
    m_written += m_buffer.size();
    if (m_written > m_limit) {
      return false;
    }
    files::write_all(m_fd, m_buffer, m_shown);
    m_buffer.clear();
    return true;
  }

  std::uint64_t written() const { return m_written; }

private:
  static constexpr std::size_t k_piece = std::size_t{1} << 20;

  const files::Fd& m_fd;
  const std::string& m_shown;
  std::uint64_t m_limit;
  std::uint64_t m_written = 0;
  std::string m_buffer;
};

// Rows from the first row of the sheet to the last used one, each with as many fields as the
// last used column needs; every field but the first is preceded by a tab. Returns false when
// the export would pass the stream's limit (what was written so far stays in the file).
bool write_sheet_text(const xlsx::Sheet& sheet, ExportStream& stream)
{
  std::string& out = stream.buffer();
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
    if (column < columns) {
      out.append(columns - std::max<std::size_t>(column, 1), '\t');
    }
    out += '\n';
    if (!stream.flush()) {
      return false;
    }
  }
  return stream.flush(true);
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

  const files::Fd root = files::open_target_directory(target_directory);
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const xlsx::Sheet sheet = reader.read_sheet(i);
    const std::uint64_t limit = std::min(k_max_sheet_export, k_max_total_export - total);
    const auto too_large = [&] {
      const std::string where = workbook_path + ": the sheet \"" + names[i] + "\" (used range "
                                + used_range(sheet) + ")";
      if (limit < k_max_sheet_export) {
        return Error(where + " takes the export of the workbook past "
                     + std::to_string(k_max_total_export) + " bytes");
      }
      return Error(where + " exports to more than " + std::to_string(k_max_sheet_export)
                   + " bytes");
    };
    // Every row of the used range takes at least a tab per column after the first and a line
    // end, whatever its cells hold: a sheet whose range alone passes the limit is refused
    // before anything of it is written.
    std::uint64_t layout = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(sheet.row_count()),
                               std::max<std::uint64_t>(sheet.column_count(), 1), &layout)
        || layout > limit) {
      throw too_large();
    }

    const std::string file_name = names[i] + ".txt";
    const std::string shown = (std::filesystem::path(target_directory) / file_name).string();
    files::Fd out = files::create_file(root, file_name, shown);
    ExportStream stream(out, shown, limit);
    if (!write_sheet_text(sheet, stream)) {
      // The cells' texts took it past the limit: no part of the export is left behind.
      out.reset();
      ::unlinkat(root.get(), file_name.c_str(), 0);
      throw too_large();
    }
    files::close_file(out, shown);
    total += stream.written();
  }
}

} // namespace tarnwick::common
