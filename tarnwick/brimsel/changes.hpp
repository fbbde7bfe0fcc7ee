#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::brimsel {

// One rename recorded by the refactorer and listed in the refactor report.
struct RenameChange
{
  std::string file_path;     // source file, a key of the parser's `files` to be applied
  std::int64_t line_number = 0; // declaration or header line of the renamed thing, from 1
  std::string original_name; // the name as written in the source
  std::string new_name;      // the name written in its place
  std::string description;   // text for people
  std::string timestamp;     // local time the record was made, "%Y-%m-%d %H:%M:%S"

  bool operator==(const RenameChange&) const = default;
};

// Change type ("global_variable", "module_variable", "local_variable", "type_definition",
// "enum_definition") -> its records in recording order; types in order of first use.
using ChangesMade = text::OrderedMap<std::string, std::vector<RenameChange>>;

} // namespace tarnwick::brimsel
