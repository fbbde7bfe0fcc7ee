#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/text/export.hpp"
#include "tarnwick/text/regex.hpp"

namespace tarnwick::text {

// True when the platform text names an UltraFLEX tester ("UltraFLEX", "UltraFLEXplus", ...).
TARNWICK_TEXT_EXPORT bool is_ultraflex(std::string_view platform);

// Every occurrence of `from` in `text` replaced by `to`, left to right.
TARNWICK_TEXT_EXPORT std::string replace_all(std::string_view text, std::string_view from,
                                             std::string_view to);

// "<source>, row <n>" for error messages; "row <n>" when `source` is empty.
TARNWICK_TEXT_EXPORT std::string row_location(std::string_view source, std::size_t row);

// "row has <have> cells, needs at least <need>".
TARNWICK_TEXT_EXPORT std::string short_row_message(std::size_t need, std::size_t have);

// Throws tarnwick::Error with short_row_message when `row` has fewer than `need` cells.
TARNWICK_TEXT_EXPORT void need_cells(const std::vector<std::string>& row, std::size_t need);

// Cell `index` of `cells`; throws tarnwick::Error "<location>: no cell N (the row has K cells)"
// when the row is shorter. `source` and `row` name the place for the message.
TARNWICK_TEXT_EXPORT const std::string& cell_at(const std::vector<std::string>& cells,
                                                std::size_t index, std::string_view source,
                                                std::size_t row);

// The index of the first cell of the header row `cells` that reads `name` (blanks and the line
// end around it ignored); std::nullopt when no cell does. Cells before `from` are passed over.
TARNWICK_TEXT_EXPORT std::optional<std::size_t> header_column(const std::vector<std::string>& cells,
                                                              std::string_view name,
                                                              std::size_t from = 0);

// The version of a sheet from its row 0 (group 1 of sheet_version_regex). Throws tarnwick::Error
// "<source>, row 0: no version mark "<pattern>" for the platform "<platform>"" without one.
TARNWICK_TEXT_EXPORT std::string sheet_version(std::string_view row0, std::string_view platform,
                                               std::string_view source);

// A sheet path that the flow walk may hand over with its blanks written as "%20": `path` as
// given when something exists there, else with every "%20" turned back into a blank.
TARNWICK_TEXT_EXPORT std::string existing_or_unescaped(const std::string& path);

// The pattern that finds a sheet's version in its row 0: "version=(\S+?):" on UltraFLEX
// platforms, "DFF (\d+(\.\d+)?)" on the others. Group 1 is the version.
TARNWICK_TEXT_EXPORT const Regex& sheet_version_regex(std::string_view platform);

} // namespace tarnwick::text
