#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

// One row of a sheet text export: the cells between tabs, untrimmed; the last keeps the LF.
using Row = std::vector<std::string>;

// Reads a text file whole: drops a UTF-8 byte-order mark, decodes bytes that are not valid
// UTF-8 as Windows-1252, turns CR LF and lone CR into LF. Returns UTF-8 text. Only a regular
// file of at most k_max_sheet_export bytes is read (see read_regular_file).
// Throws FileNotFoundError when `path` does not exist, tarnwick::Error for anything else than
// a regular file, a file too large or a read failure (the message names the path).
TARNWICK_TEXT_EXPORT std::string read_text_file(const std::filesystem::path& path);

// read_text_file for a sheet text export, which holds at least its header rows: an export with
// nothing but white space (no byte at all, or only blank lines, lines of tabs included: see
// is_blank) is what a failed or cut-off export leaves, and throws tarnwick::Error
// "Empty sheet export: '<path>'" (+ " holds only blank lines" when it has any). An export that
// begins with a UTF-16 byte-order mark (a "Unicode text" export) throws tarnwick::Error
// "UTF-16 sheet export: '<path>' is UTF-16LE text; ..." (UTF-16BE for the mark FE FF).
TARNWICK_TEXT_EXPORT std::string read_sheet_export(const std::filesystem::path& path);

// Cuts `text` into lines that keep their LF; the last line may have none. "a\nb\n" gives two
// lines, "" gives none. Expects LF line ends (see read_text_file).
TARNWICK_TEXT_EXPORT std::vector<std::string> split_lines(std::string_view text);

// Splits one line at every tab, keeping empty cells: "x\t\n" gives "x" and "\n".
TARNWICK_TEXT_EXPORT Row split_cells(std::string_view line);

// read_text_file + split_lines.
TARNWICK_TEXT_EXPORT std::vector<std::string> read_lines(const std::filesystem::path& path);

// split_lines + split_cells on every line.
TARNWICK_TEXT_EXPORT std::vector<Row> parse_rows(std::string_view text);

// read_text_file + parse_rows.
TARNWICK_TEXT_EXPORT std::vector<Row> read_rows(const std::filesystem::path& path);

} // namespace tarnwick::text
