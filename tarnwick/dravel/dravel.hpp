#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/dravel/export.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::dravel {

// Upper-cased pattern-set name to a list of texts (items as written, or resolved file paths).
using PatternSetDict = text::OrderedMap<std::string, std::vector<std::string>>;

// Upper-cased pattern-set name to its cycle count.
using PatternCycleDict = text::OrderedMap<std::string, std::int64_t>;

// Time-set names of one pattern, in the order the pattern tool lists them.
using TsetNameList = std::vector<std::string>;

// Reader of pattern-set sheet text exports, and the pattern tool's time-set query.
class TARNWICK_DRAVEL_EXPORT Dravel
{
public:
  // Pattern-file extensions; the longer one first, and the first that qualifies wins.
  static constexpr std::array<std::string_view, 4> valid_extensions = {".PATX.GZ", ".PAT.GZ",
                                                                       ".PATX", ".PAT"};

  // Empty tables, no version.
  Dravel();

  // Reads the export at `pattern_set_path` (every "%20" turned into a blank when no regular
  // file exists there) and adds its sets. The item of a row is in the column headed
  // "File/Group Name" in row 2; without that heading, in cell 4 for version 2.3, cell 2 for 1.1
  // and cell 5 for any other version. `pattern_file_path` has no effect. Throws
  // FileNotFoundError for a missing file, tarnwick::Error for a line 0 without a version or a
  // row that lacks its item cell (sets read before that row stay).
  void read_pattern_set(const std::string& pattern_set_path, const std::string& pattern_file_path,
                        std::string_view platform = "UltraFLEXplus");

  // Adds the sets of the export text `text` (LF line ends); `source` names it in errors.
  void parse(std::string_view text, std::string_view platform = "UltraFLEXplus",
             std::string_view source = "<text>");

  // Adds the cycle count of the pattern text dump at `pattern_file_path` to the set
  // `pattern_set_name`. Throws tarnwick::Error for an unreadable dump, a bad line, an unknown
  // set or a count that overflows 64 bits; the cycle table is then unchanged.
  void read_pattern_file(const std::string& pattern_file_path,
                         const std::string& pattern_set_name);

  // The same for the dump text `text`.
  void parse_pattern_file(std::string_view text, std::string_view pattern_set_name,
                          std::string_view source = "<text>");

  // Asks the pattern tool `patinfo` (found on PATH, run without a shell) which time sets the
  // pattern `pattern_file_path` in `pattern_folder_path` uses; its listing is written to
  // `pattern_folder_path` + "/pattern_tset.txt". Does nothing for an empty folder; a missing
  // pattern gives ["Error: pattern file does not exist"]. Throws tarnwick::Error when the
  // listing file cannot be opened.
  void read_tset_from_pattern(const std::string& pattern_folder_path,
                              const std::string& pattern_file_path);

  // The reader's own cycle table (shared; it outlives the reader).
  std::shared_ptr<PatternCycleDict> get_pattern_cycle_info() const;

  // True when some element of `substrings` occurs in `s` (exact comparison).
  static bool contains_any_substring(std::string_view s, std::span<const std::string_view> substrings);

  // `s` cut right after the first occurrence (letter case ignored) of the first element of
  // `substrings` that has at least one character after it; `s` unchanged when none has.
  static std::string truncate_after_substring(std::string_view s,
                                              std::span<const std::string_view> substrings);

  // The pattern file paths that the item `pat_path` stands for, nested sets expanded (each set
  // resolved once, however often it is named). Throws tarnwick::Error for an item that is
  // neither a pattern file nor a known set, for a set that contains itself, for sets nested
  // more than 10,000 deep and for sets that together expand to more than 2,000,000 paths; each
  // message names the set at fault.
  std::vector<std::string> get_pat_path(std::string_view pat_path) const;

  // A new table of every set resolved into its pattern file paths. Throws as get_pat_path,
  // the path limit counting the paths of all sets.
  std::shared_ptr<PatternSetDict> get_pattern_set_info() const;

  // The reader's own time-set list of the last query (shared; it outlives the reader). Each
  // query that reaches the pattern makes a new list: one handed out before keeps its names.
  std::shared_ptr<TsetNameList> get_pattern_tset() const;

private:
  PatternSetDict m_pattern_set_dict;
  std::shared_ptr<PatternCycleDict> m_cycle_dict;
  std::shared_ptr<TsetNameList> m_tset_name;
  std::optional<std::string> m_pattern_set_version;
};

} // namespace tarnwick::dravel
