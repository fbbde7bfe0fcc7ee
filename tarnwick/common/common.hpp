#pragma once

#include <string>

#include "tarnwick/common/export.hpp"

namespace tarnwick::common {

// Unpacks the zip archive `archive_path` (an ".igxl" device is one) into `target_directory`,
// which is created when missing. Entry names may use "\" as separator. An entry whose name is
// absolute, carries a drive prefix or a ".." component, a symbolic-link entry, an encrypted
// entry or one past the size limits is refused before anything of it is written; nothing is
// ever written outside the target and no existing symbolic link below it is followed.
// Throws FileNotFoundError when the archive does not exist, tarnwick::Error otherwise, also
// for an archive that is no regular file (the message names the archive and, where one is at
// fault, the entry).
TARNWICK_COMMON_EXPORT void unzip(const std::string& archive_path,
                                  const std::string& target_directory);

// Writes every worksheet of the .xlsx/.xlsm workbook `workbook_path`, in workbook order, as
// "<sheet name>.txt" into `target_directory` (created when missing): rows 1 to the last used
// row, each padded with tabs to the last used column, cells joined by tabs, LF line ends,
// UTF-8. A formula cell gives "=" + its formula (a formula shared from another cell, which has
// no text of its own, gives its cached value); a number its shortest text ("5", "0.1",
// "1e-09"); a boolean TRUE or FALSE; an error its text. Tabs and line breaks inside a cell
// become blanks. Chart sheets are skipped. Existing files are replaced, never written through
// a symbolic link.
// Each export is written row by row. A sheet whose export would pass 256 MiB, or take the
// exports of the workbook past 1 GiB, is refused and leaves no file behind.
// Throws FileNotFoundError when the workbook does not exist, tarnwick::Error when it cannot be
// read, a sheet name cannot be a file name ("/", "\", ".", ".."), a file cannot be written or
// a sheet is too large to export (the message names the sheet and its used range).
TARNWICK_COMMON_EXPORT void export_sheets_to_txt(const std::string& workbook_path,
                                                 const std::string& target_directory);

// Turns a substituted value expression into plain arithmetic: drops every "=" and every blank,
// tab, LF and CR, and replaces each unit name that stands as a whole word (S, MS, NS, V, MV,
// MHZ, KOHM, ...; any case) by its value in parentheses: "10*NS" gives "10*(1e-09)". Whatever
// else the text holds is left for the evaluator.
TARNWICK_COMMON_EXPORT std::string format_str(const std::string& expression_text);

} // namespace tarnwick::common
