#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "tarnwick/text/error.hpp"
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

// `time` as local time in the strftime `format`: "%Y-%m-%d %H:%M:%S" in change records,
// "%Y%m%d_%H%M%S" in backup and report file names. Throws tarnwick::Error when the time has no
// local form.
inline std::string local_time_text(std::chrono::system_clock::time_point time, const char* format)
{
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) {
    throw Error("cannot convert a time to local time");
  }
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, format, &local));
}

} // namespace tarnwick::brimsel
