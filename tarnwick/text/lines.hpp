#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

// One row of a sheet text export: the cells between tabs, untrimmed; the last keeps the LF.
using Row = std::vector<std::string>;

// Text of the file bytes `bytes`: drops a UTF-8 byte-order mark, decodes bytes that are not
// valid UTF-8 as Windows-1252, turns CR LF and lone CR into LF. Returns UTF-8 text.
TARNWICK_TEXT_EXPORT std::string decode_text(std::string_view bytes);

// decode_text for the bytes of a sheet text export read from `path`, which holds at least its
// header rows: an export with nothing but white space (no byte at all, or only blank lines,
// lines of tabs included: see is_blank) is what a failed or cut-off export leaves, and throws
// tarnwick::Error "Empty sheet export: '<path>'" (+ " holds only blank lines" when it has any).
// An export that begins with a UTF-16 byte-order mark (a "Unicode text" export) throws
// tarnwick::Error "UTF-16 sheet export: '<path>' is UTF-16LE text; ..." (UTF-16BE for the mark
// FE FF).
TARNWICK_TEXT_EXPORT std::string sheet_export_text(std::string_view bytes,
                                                   const std::filesystem::path& path);

// Cuts `text` into lines that keep their LF; the last line may have none. "a\nb\n" gives two
// lines, "" gives none. Expects LF line ends (see decode_text).
TARNWICK_TEXT_EXPORT std::vector<std::string> split_lines(std::string_view text);

// Splits one line at every tab, keeping empty cells: "x\t\n" gives "x" and "\n".
TARNWICK_TEXT_EXPORT Row split_cells(std::string_view line);

// split_lines + split_cells on every line.
TARNWICK_TEXT_EXPORT std::vector<Row> parse_rows(std::string_view text);

} // namespace tarnwick::text
