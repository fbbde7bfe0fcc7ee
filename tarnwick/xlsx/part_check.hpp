#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "tarnwick/xlsx/export.hpp"

namespace tarnwick::xlsx {

// What the check of a written workbook found.
struct PartCheck
{
  // What is wrong with the first part that is not whole: "part '<name>' is not well-formed
  // XML (<reason> at offset <n>)" for an XML part that is empty or cut short (reasons: "no
  // document element", "cut short inside markup", "cut short, elements left open: <k>", ...), "part '<name>':
  // <reason>" for one that cannot be read back, or why the archive cannot be opened. Nothing
  // when every part is whole.
  std::optional<std::string> problem;
  // The uncompressed bytes of the XML parts read.
  std::uint64_t xml_bytes = 0;
};

// Checks the zip archive `archive` (a workbook as written): each XML part is decompressed once
// and its markup followed as it comes, in constant memory (no document is built: a workbook's
// sheets can hold millions of cells); other parts are not read.
TARNWICK_XLSX_EXPORT PartCheck check_parts(std::span<const char> archive);

// The system's reason (strerror) why `bytes` more bytes cannot be written into `folder` now,
// found by reserving them in a nameless file there: "No space left on device" for a full file
// system or one too small, "Disk quota exceeded", ... Nothing when the space can be had or the
// file system cannot tell.
TARNWICK_XLSX_EXPORT std::optional<std::string>
scratch_space_problem(const std::filesystem::path& folder, std::uint64_t bytes);

} // namespace tarnwick::xlsx
