#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "tarnwick/xlsx/export.hpp"

// The workbook library's own types stay opaque here; only the wrapper's sources see them.
struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace tarnwick::xlsx {

// Zero-based sheet coordinates. Values beyond the sheet's limits (1,048,576 rows, 16,384
// columns) make the writing call throw tarnwick::Error.
using Row = std::uint32_t;
using Column = std::uint32_t;

// Longest text a cell holds, in code points; longer texts are cut to it.
inline constexpr std::size_t k_max_text_length = 32767;

// The row height a row has when nothing else is set (points).
inline constexpr double k_default_row_height = 15.0;

// Properties of a cell format. `bg_color` is 0xRRGGBB (0xFFC7CE for "#FFC7CE"); unset leaves
// the background alone. A background colour gives a solid fill.
struct FormatSpec
{
  std::optional<std::uint32_t> bg_color = std::nullopt;
  bool bold = false;
};

// Handle of a cell format made by Workbook::add_format. A default-constructed handle means
// "no format". Valid while its workbook lives; use it on that workbook's sheets only.
class TARNWICK_XLSX_EXPORT Format
{
public:
  Format() = default;

  // True when the handle names a format.
  explicit operator bool() const { return m_format != nullptr; }

private:
  friend class Workbook;
  friend class Worksheet;
  explicit Format(lxw_format* format) : m_format(format) {}
  lxw_format* m_format = nullptr;
};

// Outline options of a row (`set_row`): outline `level` 0 to 7, `hidden`, `collapsed`.
struct RowOptions
{
  std::uint8_t level = 0;
  bool hidden = false;
  bool collapsed = false;
};

// Kinds of conditional format the workbooks use; `to_string` gives "duplicate" / "blanks".
enum class ConditionalType
{
  duplicate, // cells whose value occurs more than once in the range
  blanks,    // empty cells
};
TARNWICK_XLSX_EXPORT std::string_view to_string(ConditionalType type);

// One cell value for `write`, `write_row` and `write_column`: nothing (a blank), a text or a
// number (a double: write 5.0, not 5).
using CellValue = std::variant<std::monostate, std::string, double>;

// Workbook-wide options, fixed when the workbook is made.
struct WorkbookOptions
{
  // A NaN number is written as the error value #NUM!, an infinite one as #DIV/0!. Without
  // this option writing NaN or infinity throws tarnwick::Error.
  bool nan_inf_to_errors = false;
  // Each sheet is written row by row, top to bottom: a row goes to a temporary file when a
  // later row is begun, and texts are kept in their cells rather than in a table of shared
  // texts. Memory then stays small however large the sheets are; the cells read back the
  // same. Writing a cell in a row above the last row begun throws tarnwick::Error.
  bool constant_memory = false;
  // The folder for the library's own scratch files while the workbook is written. Each is
  // unlinked as soon as it is made, but a process ended at that moment leaves it behind, so a
  // program that removes its temporary folder on a signal puts them there. Empty, missing or
  // not a folder: $TMPDIR, else /tmp.
  std::filesystem::path scratch_folder = {};
};

class Workbook;

// One worksheet of a Workbook; owned by it (use through the reference `add_worksheet` returns).
// Every call after the workbook was closed throws tarnwick::Error.
class TARNWICK_XLSX_EXPORT Worksheet
{
public:
  Worksheet(const Worksheet&) = delete;
  Worksheet& operator=(const Worksheet&) = delete;

  // The sheet's name as given to `add_worksheet` (UTF-8 repaired).
  const std::string& name() const { return m_name; }

  // Writes `text` as a text cell (never as a formula or link). Invalid UTF-8 is repaired
  // (U+FFFD), a text over 32,767 code points is cut to that length. An empty text writes a
  // blank that carries `format`, or nothing without a format. Throws tarnwick::Error.
  void write_string(Row row, Column column, std::string_view text, Format format = {});

  // Writes a number cell. NaN and infinity follow WorkbookOptions::nan_inf_to_errors.
  void write_number(Row row, Column column, double number, Format format = {});

  // Writes an empty cell that carries `format`; without a format nothing is written.
  void write_blank(Row row, Column column, Format format = {});

  // Writes one value by its kind (blank, text or number) as the three calls above.
  void write(Row row, Column column, const CellValue& value, Format format = {});

  // Writes `values` into consecutive columns of `row` from `first_column`.
  void write_row(Row row, Column first_column, std::span<const std::string> values,
                 Format format = {});
  void write_row(Row row, Column first_column, std::span<const CellValue> values,
                 Format format = {});

  // Writes `values` into consecutive rows of `column` from `first_row`.
  void write_column(Row first_row, Column column, std::span<const std::string> values,
                    Format format = {});
  void write_column(Row first_row, Column column, std::span<const CellValue> values,
                    Format format = {});

  // Sets the width (characters) and optionally the format of columns `first` to `last`
  // (either order).
  void set_column(Column first, Column last, double width, Format format = {});

  // Sets a row's height, format and outline options. An unset `height` or `format` keeps what
  // an earlier `set_row` of the same row gave (default height k_default_row_height, no
  // format), so a later call that only sets outline options does not drop the row's format.
  void set_row(Row row, std::optional<double> height = std::nullopt, Format format = {},
               RowOptions options = {});

  // Adds a conditional format of `type` that shows matching cells of the range with
  // `format`. The range's ends may come in either order.
  void conditional_format(Row first_row, Column first_column, Row last_row, Column last_column,
                          ConditionalType type, Format format);

  // Puts filter buttons on the range (ends in either order).
  void autofilter(Row first_row, Column first_column, Row last_row, Column last_column);

  // Freezes the rows above `row` and the columns left of `column`.
  void freeze_panes(Row row, Column column);
  // The same with a cell reference such as "C2" (rows above 2, columns left of C).
  // Throws tarnwick::Error for a text that is no cell reference.
  void freeze_panes(std::string_view cell);

  // Outline display: symbols `visible`, summary rows below their detail (`symbols_below`),
  // summary columns right of their detail (`symbols_right`), automatic outline style.
  void outline_settings(bool visible, bool symbols_below, bool symbols_right, bool auto_style);

private:
  friend class Workbook;
  struct RowState
  {
    double height = k_default_row_height;
    lxw_format* format = nullptr;
  };

  Worksheet(Workbook& workbook, lxw_worksheet* sheet, std::string name);
  lxw_worksheet* checked_sheet() const;
  void write_error_value(Row row, Column column, double number, Format format);

  Workbook* m_workbook;
  lxw_worksheet* m_sheet;
  std::string m_name;
  std::unordered_map<Row, RowState> m_rows;
  std::string m_text_buffer; // the C string of the cell text being written
};

// A workbook being written (.xlsx, or .xlsm when a VBA project is added; the caller names the
// file). Nothing reaches the disk until `close`, which writes the file under a temporary name
// beside the final one and then claims the final name (see files/claim.hpp): a workbook never
// replaces or removes anything, and a failed close leaves nothing behind. When something stands
// at the name given, the workbook is written under the first free name of "_2", "_3", ... put
// before the extension. The destructor closes a workbook that was neither closed nor discarded
// and swallows any error of that close.
class TARNWICK_XLSX_EXPORT Workbook
{
public:
  // Starts a workbook to be written at `path` (or a numbered name beside it). Throws
  // tarnwick::Error when the library cannot make one.
  explicit Workbook(const std::filesystem::path& path, WorkbookOptions options = {});
  ~Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  // Where the workbook goes: before a successful `close`, the first free name when it was
  // started (another writer may still take it first); afterwards the name it was written under.
  const std::filesystem::path& path() const { return m_path; }
  const WorkbookOptions& options() const { return m_options; }

  // Makes a cell format with the properties of `spec`.
  Format add_format(const FormatSpec& spec);

  // Adds a worksheet after the existing ones. Throws tarnwick::Error for a refused name (empty,
  // longer than 31 characters, holding one of []:*?/\, starting or ending with an apostrophe,
  // or used already, case-insensitively) with the library's text for the reason.
  Worksheet& add_worksheet(std::string_view name);

  // The worksheet called `name` (exact match), or nullptr.
  Worksheet* find_worksheet(std::string_view name);

  // The worksheets in the order they were added.
  std::span<const std::unique_ptr<Worksheet>> worksheets() const { return m_sheets; }

  // Embeds the VBA project file at `path`. Throws tarnwick::Error when it cannot be read.
  void add_vba_project(const std::filesystem::path& path);

  // Fixes the document's creation time (default: the time of `close`), for reproducible files.
  void set_created(std::chrono::system_clock::time_point created);

  // Writes the file and returns the name it was written under. Call once; a second call
  // throws. Throws tarnwick::Error "cannot write workbook '<path>': " + the system's reason
  // ("No such file or directory", "Permission denied", "No space left on device", ...) when
  // the file cannot be written; nothing is left on disk then, and the workbook counts as
  // closed either way.
  const std::filesystem::path& close();

  // Drops the workbook without writing anything; it counts as closed afterwards. Does nothing
  // when it is closed already.
  void discard() noexcept;

  // True after `close` (successful or not) or `discard`.
  bool closed() const { return m_book == nullptr; }

private:
  friend class Worksheet;
  lxw_workbook* checked_book() const;

  std::filesystem::path m_base;  // the name given; numbered names are made from it
  unsigned m_number = 1;         // the number of `m_path` in the sequence of `m_base`
  std::filesystem::path m_path;
  WorkbookOptions m_options;
  lxw_workbook* m_book = nullptr;
  std::vector<std::unique_ptr<Worksheet>> m_sheets;
};

} // namespace tarnwick::xlsx
