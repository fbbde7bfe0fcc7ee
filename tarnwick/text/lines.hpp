#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

// One row of a sheet text export: the cells between tabs, untrimmed; the last keeps the LF.
using Row = std::vector<std::string>;

// Reads a sheet text export whole: drops a UTF-8 byte-order mark, decodes bytes that are not
// valid UTF-8 as Windows-1252, turns CR LF and lone CR into LF. Returns UTF-8 text.
// Throws FileNotFoundError when `path` does not exist, tarnwick::Error for a folder or a read
// failure (the message names the path).
TARNWICK_TEXT_EXPORT std::string read_text_file(const std::filesystem::path& path);

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
