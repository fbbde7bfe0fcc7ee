#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/sarnet/export.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::sarnet {

// One data row of a spec sheet: upper-cased column key (the two header cells of the column
// joined by a blank) to the row's upper-cased cell, in column order, from column 3 on.
using SpecInfo = text::OrderedMap<std::string, std::string>;

// Spec table: upper-cased symbol (cell 1) to its row. A later row with the same symbol replaces
// the earlier one in place.
using SpecDict = text::OrderedMap<std::string, SpecInfo>;

// The rows of a sheet that gives each symbol one row per selector (a "Selector Name" column):
// upper-cased symbol to its rows by upper-cased selector name. A later row of the same symbol
// and selector replaces the earlier one.
using SelectorRows = text::OrderedMap<std::string, text::OrderedMap<std::string, SpecInfo>>;

// Reader of one DC or AC spec sheet text export. The table it fills is shared: a caller that
// took it with get_info keeps it after the reader is gone and sees later reads of this reader.
class TARNWICK_SARNET_EXPORT Sarnet
{
public:
  // An empty table and the empty version text.
  Sarnet();

  // Reads the sheet at `spec_path` for the tester `platform` and adds its rows to the table
  // (the table is not cleared first). When nothing exists at `spec_path`, every "%20" in it is
  // replaced by a blank and that path is read. Throws FileNotFoundError when the file is
  // missing, tarnwick::Error (naming the file and row) for a row the layout does not allow;
  // rows read before the failure stay in the table.
  void read_spec(const std::string& spec_path, const std::string& platform);

  // The parse core of read_spec: `text` is the whole export with LF line ends; `source` names
  // it in error messages.
  void parse(std::string_view text, std::string_view platform, std::string_view source = {});

  // The reader's own table (not a copy).
  std::shared_ptr<const SpecDict> get_info() const;

  // The version text of row 0 of the last sheet read; empty before a read.
  const std::string& get_spec_version() const;

  // The rows by selector when a sheet read has a "Selector Name" column (its header rows
  // combine to the key "SELECTOR NAME"); null when none had.
  std::shared_ptr<const SelectorRows> get_selector_rows() const;

private:
  std::shared_ptr<SpecDict> m_spec_dict;
  std::shared_ptr<SelectorRows> m_selector_rows;
  std::string m_spec_version;
};

// The SpecInfo of one data row: for every header key from index 3 on, the key upper-cased to
// `line_list`'s cell at the same index upper-cased. Throws tarnwick::Error when the row has
// fewer cells than `key_list`.
TARNWICK_SARNET_EXPORT SpecInfo get_spec_info(const text::Row& line_list,
                                              const std::vector<std::string>& key_list);

} // namespace tarnwick::sarnet
