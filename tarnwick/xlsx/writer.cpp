#include "tarnwick/xlsx/writer.hpp"

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tarnwick/files/claim.hpp"
#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/part_check.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::xlsx {

namespace {

std::string quoted_path(const std::filesystem::path& path)
{
  std::string quoted = "'";
  quoted += path.string();
  quoted += '\'';
  return quoted;
}

bool is_hex(char c)
{
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool escape_at(std::string_view text, std::size_t pos)
{
  return pos + 7 <= text.size() && text[pos] == '_' && text[pos + 1] == 'x' && is_hex(text[pos + 2])
         && is_hex(text[pos + 3]) && is_hex(text[pos + 4]) && is_hex(text[pos + 5])
         && text[pos + 6] == '_';
}

// Spreadsheet readers decode "_xHHHH_" in cell texts as an escaped character; a text that
// holds such a sequence literally gets its underscore escaped ("_x005F_") so it reads back
// unchanged. The library escapes control characters itself but not this, and it would end the
// text at a NUL character, which is escaped here.
std::string escape_literal_escapes(std::string_view text)
{
  std::string out;
  out.reserve(text.size() + 7);
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] == '\0') {
      out += "_x0000_";
      continue;
    }
    if (escape_at(text, pos)) {
      out += "_x005F";
    }
    out += text[pos];
  }
  return out;
}

// Whether `text` goes to the library as it is, found in one pass: short enough, ASCII only (so
// valid UTF-8), no NUL character and no "_x" that could start a literal escape sequence.
bool plain_text(std::string_view text)
{
  if (text.size() > k_max_text_length) {
    return false;
  }
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c == 0 || c >= 0x80 || (c == '_' && pos + 1 < text.size() && text[pos + 1] == 'x')) {
      return false;
    }
  }
  return true;
}

// The text to hand to the library: valid UTF-8 and, once stored, at most k_max_text_length
// code points. Returns `text` itself when nothing needs changing, else a view of `storage`.
std::string_view cell_text(std::string_view text, std::string& storage)
{
  if (plain_text(text)) {
    return text;
  }
  if (!text::is_valid_utf8(text)) {
    storage = text::repair_utf8(text);
    text = storage;
  }
  const bool has_escape =
    text.find("_x") != std::string_view::npos || text.find('\0') != std::string_view::npos;
  // A code point takes at least one byte, so a short text needs no count.
  if (!has_escape && text.size() <= k_max_text_length) {
    return text;
  }
  std::string value(text);
  if (text::length(value) > k_max_text_length) {
    value = text::truncate(value, k_max_text_length);
  }
  if (has_escape) {
    // The library measures the escaped text: keep the longest start whose escaped form fits.
    std::size_t cost = 0;
    std::size_t end = 0;
    while (end < value.size()) {
      std::size_t next = end + 1;
      while (next < value.size() && (static_cast<unsigned char>(value[next]) & 0xC0) == 0x80) {
        ++next;
      }
      // An escaped character is stored as the seven characters "_xHHHH_".
      const std::size_t step = escape_at(value, end) || value[end] == '\0' ? 7 : 1;
      if (cost + step > k_max_text_length) {
        break;
      }
      cost += step;
      end = next;
    }
    value = escape_literal_escapes(std::string_view(value).substr(0, end));
  }
  storage = std::move(value);
  return storage;
}

lxw_row_t to_lxw_row(Row row)
{
  if (row >= LXW_ROW_MAX) {
    throw Error("row " + std::to_string(row) + ": "
                + lxw_strerror(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE));
  }
  return static_cast<lxw_row_t>(row);
}

lxw_col_t to_lxw_col(Column column)
{
  if (column >= LXW_COL_MAX) {
    throw Error("column " + std::to_string(column) + ": "
                + lxw_strerror(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE));
  }
  return static_cast<lxw_col_t>(column);
}

} // namespace

std::string_view to_string(ConditionalType type)
{
  switch (type) {
  case ConditionalType::duplicate:
    return "duplicate";
  case ConditionalType::blanks:
    return "blanks";
  }
  return "";
}

// ---------------------------------------------------------------------------------------------
// Worksheet

Worksheet::Worksheet(Workbook& workbook, lxw_worksheet* sheet, std::string name)
  : m_workbook(&workbook), m_sheet(sheet), m_name(std::move(name))
{
}

lxw_worksheet* Worksheet::checked_sheet() const
{
  m_workbook->checked_book();
  return m_sheet;
}

namespace {

// Turns a failed library call on `sheet` into an exception naming the sheet and the cell.
void check(lxw_error error, const std::string& sheet, Row row, Column column)
{
  if (error != LXW_NO_ERROR) {
    throw Error("worksheet '" + sheet + "' row " + std::to_string(row) + " column "
                + std::to_string(column) + ": " + lxw_strerror(error));
  }
}

void check(lxw_error error, const std::string& sheet)
{
  if (error != LXW_NO_ERROR) {
    throw Error("worksheet '" + sheet + "': " + lxw_strerror(error));
  }
}

} // namespace

void Worksheet::write_string(Row row, Column column, std::string_view text, Format format)
{
  lxw_worksheet* sheet = checked_sheet();
  // The library takes a C string; the sheet's buffer is reused from call to call.
  std::string& storage = m_text_buffer;
  const std::string_view value = cell_text(text, storage);
  if (value.empty()) {
    write_blank(row, column, format);
    return;
  }
  if (storage.data() != value.data()) {
    storage.assign(value);
  }
  check(worksheet_write_string(sheet, to_lxw_row(row), to_lxw_col(column), storage.c_str(),
                               format.m_format),
        m_name, row, column);
}

void Worksheet::write_number(Row row, Column column, double number, Format format)
{
  lxw_worksheet* sheet = checked_sheet();
  if (std::isnan(number) || std::isinf(number)) {
    write_error_value(row, column, number, format);
    return;
  }
  check(worksheet_write_number(sheet, to_lxw_row(row), to_lxw_col(column), number,
                               format.m_format),
        m_name, row, column);
}

void Worksheet::write_error_value(Row row, Column column, double number, Format format)
{
  if (!m_workbook->options().nan_inf_to_errors) {
    throw Error("worksheet '" + m_name + "' row " + std::to_string(row) + " column "
                + std::to_string(column)
                + ": NaN and infinity cannot be written without nan_inf_to_errors");
  }
  // A formula cell whose cached result is the error value: the file shows the error without
  // recalculation, and a recalculation gives the same error.
  const char* formula = "#NUM!";
  const char* result = "#NUM!";
  if (std::isinf(number)) {
    formula = number > 0 ? "1/0" : "-1/0";
    result = "#DIV/0!";
  }
  check(worksheet_write_formula_str(m_sheet, to_lxw_row(row), to_lxw_col(column), formula,
                                    format.m_format, result),
        m_name, row, column);
}

void Worksheet::write_blank(Row row, Column column, Format format)
{
  lxw_worksheet* sheet = checked_sheet();
  if (!format) {
    return;
  }
  check(worksheet_write_blank(sheet, to_lxw_row(row), to_lxw_col(column), format.m_format),
        m_name, row, column);
}

void Worksheet::write(Row row, Column column, const CellValue& value, Format format)
{
  if (const auto* text = std::get_if<std::string>(&value)) {
    write_string(row, column, *text, format);
  } else if (const auto* number = std::get_if<double>(&value)) {
    write_number(row, column, *number, format);
  } else {
    write_blank(row, column, format);
  }
}

void Worksheet::write_row(Row row, Column first_column, std::span<const std::string> values,
                          Format format)
{
  for (std::size_t i = 0; i < values.size(); ++i) {
    write_string(row, first_column + static_cast<Column>(i), values[i], format);
  }
}

void Worksheet::write_row(Row row, Column first_column, std::span<const CellValue> values,
                          Format format)
{
  for (std::size_t i = 0; i < values.size(); ++i) {
    write(row, first_column + static_cast<Column>(i), values[i], format);
  }
}

void Worksheet::write_column(Row first_row, Column column, std::span<const std::string> values,
                             Format format)
{
  for (std::size_t i = 0; i < values.size(); ++i) {
    write_string(first_row + static_cast<Row>(i), column, values[i], format);
  }
}

void Worksheet::write_column(Row first_row, Column column, std::span<const CellValue> values,
                             Format format)
{
  for (std::size_t i = 0; i < values.size(); ++i) {
    write(first_row + static_cast<Row>(i), column, values[i], format);
  }
}

void Worksheet::set_column(Column first, Column last, double width, Format format)
{
  lxw_worksheet* sheet = checked_sheet();
  if (first > last) {
    std::swap(first, last);
  }
  check(worksheet_set_column(sheet, to_lxw_col(first), to_lxw_col(last), width,
                             format.m_format),
        m_name);
}

void Worksheet::set_row(Row row, std::optional<double> height, Format format,
                        RowOptions options)
{
  lxw_worksheet* sheet = checked_sheet();
  RowState state;
  if (auto it = m_rows.find(row); it != m_rows.end()) {
    state = it->second;
  }
  if (height) {
    state.height = *height;
  }
  if (format) {
    state.format = format.m_format;
  }
  lxw_row_col_options lxw_options{};
  lxw_options.hidden = options.hidden ? 1 : 0;
  lxw_options.level = options.level;
  lxw_options.collapsed = options.collapsed ? 1 : 0;
  check(worksheet_set_row_opt(sheet, to_lxw_row(row), state.height, state.format, &lxw_options),
        m_name, row, 0);
  m_rows[row] = state;
}

void Worksheet::conditional_format(Row first_row, Column first_column, Row last_row,
                                   Column last_column, ConditionalType type, Format format)
{
  lxw_worksheet* sheet = checked_sheet();
  if (first_row > last_row) {
    std::swap(first_row, last_row);
  }
  if (first_column > last_column) {
    std::swap(first_column, last_column);
  }
  lxw_conditional_format rule{};
  switch (type) {
  case ConditionalType::duplicate:
    rule.type = LXW_CONDITIONAL_TYPE_DUPLICATE;
    break;
  case ConditionalType::blanks:
    rule.type = LXW_CONDITIONAL_TYPE_BLANKS;
    break;
  }
  rule.format = format.m_format;
  check(worksheet_conditional_format_range(sheet, to_lxw_row(first_row),
                                           to_lxw_col(first_column), to_lxw_row(last_row),
                                           to_lxw_col(last_column), &rule),
        m_name);
}

void Worksheet::autofilter(Row first_row, Column first_column, Row last_row, Column last_column)
{
  lxw_worksheet* sheet = checked_sheet();
  if (first_row > last_row) {
    std::swap(first_row, last_row);
  }
  if (first_column > last_column) {
    std::swap(first_column, last_column);
  }
  check(worksheet_autofilter(sheet, to_lxw_row(first_row), to_lxw_col(first_column),
                             to_lxw_row(last_row), to_lxw_col(last_column)),
        m_name);
}

void Worksheet::freeze_panes(Row row, Column column)
{
  lxw_worksheet* sheet = checked_sheet();
  worksheet_freeze_panes(sheet, to_lxw_row(row), to_lxw_col(column));
}

void Worksheet::freeze_panes(std::string_view cell)
{
  const auto [row, column] = parse_cell_ref(cell);
  if (row >= LXW_ROW_MAX || column >= LXW_COL_MAX) {
    throw Error("worksheet '" + m_name + "': cell reference '" + std::string(cell)
                + "' lies outside the sheet");
  }
  freeze_panes(static_cast<Row>(row), static_cast<Column>(column));
}

void Worksheet::outline_settings(bool visible, bool symbols_below, bool symbols_right,
                                 bool auto_style)
{
  lxw_worksheet* sheet = checked_sheet();
  worksheet_outline_settings(sheet, visible ? 1 : 0, symbols_below ? 1 : 0,
                             symbols_right ? 1 : 0, auto_style ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------
// Workbook

namespace {

// A file in memory that the library writes the zip into, through its /proc/self/fd name, so
// that every write to the output folder is this wrapper's own and a failure there is reported
// once, with the system's reason (the library would print its own lines for a full disk).
// Not valid where memory files or /proc are missing; the library then writes the temporary
// file itself.
class MemoryFile
{
public:
  MemoryFile() = default;
  ~MemoryFile()
  {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  void open()
  {
    const int fd = ::memfd_create("tarnwick-workbook", MFD_CLOEXEC);
    if (fd < 0) {
      return;
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (::access(path.c_str(), W_OK) != 0) {
      ::close(fd);
      return;
    }
    m_fd = fd;
    m_path = std::move(path);
  }

  bool valid() const { return m_fd >= 0; }
  int fd() const { return m_fd; }
  const std::string& proc_path() const { return m_path; }

private:
  int m_fd = -1;
  std::string m_path;
};

// Makes the library write the file to `name` instead of the name it was started with.
void hand_over_file_name(lxw_workbook* book, const std::string& name)
{
  char* copy = ::strdup(name.c_str());
  if (copy == nullptr) {
    throw Error(std::string("cannot write workbook: ")
                + lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
  std::free(book->filename); // the library's own copy, made with malloc
  book->filename = copy;
}

// The reason of a failed library close: the system's, where the library failed on a system
// call and left its error number, else the library's text.
std::string library_reason(lxw_error error, int error_number)
{
  if (error_number != 0) {
    switch (error) {
    case LXW_ERROR_CREATING_XLSX_FILE:
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_PARAMETER_ERROR:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
      return std::strerror(error_number);
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE:
      return std::string("its temporary files: ") + std::strerror(error_number);
    default:
      break;
    }
  }
  return lxw_strerror(error);
}

// A read-only view of a whole file, for the check of what the library wrote.
class MappedFile
{
public:
  // Maps the file open at `fd`; throws `failed` + the system's reason.
  MappedFile(int fd, const std::string& failed)
  {
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
      throw Error(failed + std::strerror(errno));
    }
    m_size = static_cast<std::size_t>(info.st_size);
    if (m_size == 0) {
      return;
    }
    void* data = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      throw Error(failed + std::strerror(errno));
    }
    m_data = static_cast<const char*>(data);
  }
  ~MappedFile()
  {
    if (m_data != nullptr) {
      ::munmap(const_cast<char*>(m_data), m_size);
    }
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const char> bytes() const { return {m_data, m_data == nullptr ? 0 : m_size}; }

private:
  const char* m_data = nullptr;
  std::size_t m_size = 0;
};

// The folder the library puts its scratch files in (see WorkbookOptions::scratch_folder).
std::filesystem::path library_scratch_folder(const std::filesystem::path& chosen)
{
  std::error_code ec;
  if (!chosen.empty() && std::filesystem::is_directory(chosen, ec)) {
    return chosen;
  }
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
}

// The library does not see a failed write to its scratch files: a part whose file was cut
// short (a full scratch folder) is zipped as it is, and the close succeeds. Every XML part of
// the workbook `written` is therefore read back before the workbook takes its name.
// Throws `failed` + the reason for the first part that is not whole: the scratch folder's
// ("its temporary files: No space left on device") where it cannot hold the workbook's parts.
void check_written_parts(std::span<const char> written,
                         const std::filesystem::path& scratch_folder, const std::string& failed)
{
  const PartCheck check = check_parts(written);
  if (!check.problem) {
    return;
  }
  // Room for every part at once, as the library may hold them, and for its buffers.
  constexpr std::uint64_t k_margin = std::uint64_t{1} << 20;
  if (const auto reason = scratch_space_problem(library_scratch_folder(scratch_folder),
                                                check.xml_bytes + k_margin)) {
    throw Error(failed + "its temporary files: " + *reason);
  }
  throw Error(failed + "it was written incomplete: " + *check.problem);
}

} // namespace

Workbook::Workbook(const std::filesystem::path& path, WorkbookOptions options)
  : m_base(path), m_number(files::first_free_number(path)),
    m_path(files::numbered_path(path, m_number)), m_options(options)
{
  // The library is told the real file name only at `close`. It keeps its own copy of the
  // scratch folder's name.
  lxw_workbook_options lxw_options{};
  lxw_options.constant_memory = options.constant_memory ? LXW_TRUE : LXW_FALSE;
  std::string scratch = options.scratch_folder.string();
  lxw_options.tmpdir = scratch.empty() ? nullptr : scratch.data();
  m_book = workbook_new_opt(m_path.c_str(), &lxw_options);
  if (m_book == nullptr) {
    throw Error("cannot start workbook " + quoted_path(m_path) + ": "
                + lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
}

Workbook::~Workbook()
{
  if (m_book != nullptr) {
    try {
      close();
    } catch (...) { // NOLINT(bugprone-empty-catch): a destructor must not throw
    }
  }
}

lxw_workbook* Workbook::checked_book() const
{
  if (m_book == nullptr) {
    throw Error("workbook " + quoted_path(m_path) + " is already closed");
  }
  return m_book;
}

Format Workbook::add_format(const FormatSpec& spec)
{
  lxw_workbook* book = checked_book();
  lxw_format* format = workbook_add_format(book);
  if (format == nullptr) {
    throw Error("workbook " + quoted_path(m_path) + ": "
                + lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
  if (spec.bg_color) {
    format_set_bg_color(format, static_cast<lxw_color_t>(*spec.bg_color & 0xFFFFFFU));
  }
  if (spec.bold) {
    format_set_bold(format);
  }
  return Format(format);
}

Worksheet& Workbook::add_worksheet(std::string_view name)
{
  lxw_workbook* book = checked_book();
  std::string sheet_name = text::is_valid_utf8(name) ? std::string(name) : text::repair_utf8(name);
  const std::string refused = "cannot add worksheet '" + sheet_name + "' to workbook "
                              + quoted_path(m_path) + ": ";
  // The library would accept an empty name and write a sheet no spreadsheet opens.
  if (sheet_name.empty() || sheet_name.find('\0') != std::string::npos) {
    throw Error(refused + "a worksheet name must not be empty or hold a NUL character.");
  }
  if (const lxw_error error = workbook_validate_sheet_name(book, sheet_name.c_str());
      error != LXW_NO_ERROR) {
    throw Error(refused + lxw_strerror(error));
  }
  lxw_worksheet* sheet = workbook_add_worksheet(book, sheet_name.c_str());
  if (sheet == nullptr) {
    throw Error(refused + lxw_strerror(LXW_ERROR_PARAMETER_VALIDATION));
  }
  m_sheets.push_back(std::unique_ptr<Worksheet>(new Worksheet(*this, sheet, sheet_name)));
  return *m_sheets.back();
}

Worksheet* Workbook::find_worksheet(std::string_view name)
{
  for (const auto& sheet : m_sheets) {
    if (sheet->name() == name) {
      return sheet.get();
    }
  }
  return nullptr;
}

void Workbook::add_vba_project(const std::filesystem::path& path)
{
  lxw_workbook* book = checked_book();
  const std::string refused = "cannot add VBA project " + quoted_path(path) + " to workbook "
                              + quoted_path(m_path) + ": ";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw FileNotFoundError(refused + "no such file");
  }
  if (!std::ifstream(path, std::ios::binary)) {
    throw Error(refused + "the file cannot be read");
  }
  if (const lxw_error error = workbook_add_vba_project(book, path.c_str());
      error != LXW_NO_ERROR) {
    throw Error(refused + lxw_strerror(error));
  }
}

void Workbook::set_created(std::chrono::system_clock::time_point created)
{
  lxw_workbook* book = checked_book();
  lxw_doc_properties properties{};
  properties.created = std::chrono::system_clock::to_time_t(created);
  if (const lxw_error error = workbook_set_properties(book, &properties);
      error != LXW_NO_ERROR) {
    throw Error("workbook " + quoted_path(m_path) + ": " + lxw_strerror(error));
  }
}

const std::filesystem::path& Workbook::close()
{
  // workbook_close frees the workbook even when it fails: it is called exactly once, and every
  // way out before it frees the workbook itself.
  lxw_workbook* book = checked_book();
  m_book = nullptr;
  const std::string failed = "cannot write workbook " + quoted_path(m_path) + ": ";
  std::optional<files::TemporaryFile> temp;
  MemoryFile memory;
  try {
    temp.emplace(m_path, "workbook");
    memory.open();
    hand_over_file_name(book, memory.valid() ? memory.proc_path() : temp->path().string());
  } catch (...) {
    lxw_workbook_free(book);
    throw;
  }
  errno = 0;
  const lxw_error error = workbook_close(book);
  const int error_number = errno;
  if (error != LXW_NO_ERROR) {
    throw Error(failed + library_reason(error, error_number));
  }
  if (memory.valid()) {
    // Mapped once: checked, then written to the temporary file from the same mapping.
    const MappedFile written(memory.fd(), failed);
    const std::span<const char> bytes = written.bytes();
    check_written_parts(bytes, m_options.scratch_folder, failed);
    if (!files::write_all(temp->fd(), std::string_view(bytes.data(), bytes.size()))) {
      throw Error(failed + std::strerror(errno));
    }
  } else {
    const files::Fd written(::open(temp->path().c_str(), O_RDONLY | O_CLOEXEC));
    if (!written) {
      throw Error(failed + std::strerror(errno));
    }
    check_written_parts(MappedFile(written.get(), failed).bytes(), m_options.scratch_folder,
                        failed);
  }
  temp->sync_and_close();
  m_path = files::claim_output_file(temp->path(), m_base, m_number, "workbook");
  temp->release();
  return m_path;
}

void Workbook::discard() noexcept
{
  if (m_book != nullptr) {
    lxw_workbook_free(m_book);
    m_book = nullptr;
  }
}

} // namespace tarnwick::xlsx
