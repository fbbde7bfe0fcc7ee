#pragma once

// Reading the text files of a device (sheet text exports, pattern files, listings) as capped
// regular files decoded by the rules of text/lines.hpp.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tarnwick/files/export.hpp"
#include "tarnwick/text/lines.hpp"

namespace tarnwick::files {

// The largest sheet text export read: 256 MiB, the most one sheet of an .xlsm device exports to.
inline constexpr std::uint64_t k_max_sheet_export = std::uint64_t{256} << 20;

// Reads a text file whole: drops a UTF-8 byte-order mark, decodes bytes that are not valid
// UTF-8 as Windows-1252, turns CR LF and lone CR into LF (text::decode_text). Returns UTF-8
// text. Only a regular file of at most k_max_sheet_export bytes is read (see read_regular_file).
// Throws FileNotFoundError when `path` does not exist, tarnwick::Error for anything else than
// a regular file, a file too large or a read failure (the message names the path).
TARNWICK_FILES_EXPORT std::string read_text_file(const std::filesystem::path& path);

// read_text_file for a sheet text export, with the checks of text::sheet_export_text: throws
// tarnwick::Error "Empty sheet export: '<path>'" (+ " holds only blank lines") for an export
// with nothing but white space and "UTF-16 sheet export: '<path>' is UTF-16LE text; ..." for a
// "Unicode text" export.
TARNWICK_FILES_EXPORT std::string read_sheet_export(const std::filesystem::path& path);

// read_text_file + text::split_lines.
TARNWICK_FILES_EXPORT std::vector<std::string> read_lines(const std::filesystem::path& path);

// read_text_file + text::parse_rows.
TARNWICK_FILES_EXPORT std::vector<text::Row> read_rows(const std::filesystem::path& path);

} // namespace tarnwick::files
