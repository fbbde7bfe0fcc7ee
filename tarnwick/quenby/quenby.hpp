#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tarnwick/quenby/export.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::quenby {

// Upper-cased pin name to its upper-cased level or clamp text. A pin named again takes the
// later value and keeps the place of its first appearance.
using PinLevelDict = text::OrderedMap<std::string, std::string>;

// Reader of a pin-level sheet text export. Its two tables are shared: a caller that took them
// keeps them after the reader is gone and sees later reads of this reader.
class TARNWICK_QUENBY_EXPORT ParsePinLevel
{
public:
  // Both tables empty.
  ParsePinLevel();

  // Reads the sheet at `pin_level_path` (used unchanged) and adds its "VMAIN"/"VPS" rows to the
  // level table and its "IFOLDLEVEL" rows to the clamp table, up to the first row whose cell 1
  // is empty. Throws FileNotFoundError when the file is missing, tarnwick::Error (naming the
  // file and row) for a row that lacks a cell it needs or a value cell without a value; rows
  // read before the failure stay in the tables.
  void read_pin_level(const std::string& pin_level_path);

  // The parse core of read_pin_level: `text` is the whole export with LF line ends; `source`
  // names it in error messages.
  void parse(std::string_view text, std::string_view source = {});

  // The reader's own level table (not a copy).
  std::shared_ptr<const PinLevelDict> get_pin_level_info() const;

  // The reader's own clamp table (not a copy).
  std::shared_ptr<const PinLevelDict> get_pin_clamp_info() const;

private:
  std::shared_ptr<PinLevelDict> m_pin_level_dict;
  std::shared_ptr<PinLevelDict> m_pin_clamp_dict;
};

} // namespace tarnwick::quenby
