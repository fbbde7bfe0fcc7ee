#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tarnwick/text/ordered_map.hpp"
#include "tarnwick/tiskel/export.hpp"

namespace tarnwick::tiskel {

// Global-spec table: upper-cased symbol (cell 1) to upper-cased value (cell 3, untrimmed; a
// value in the row's last cell keeps its LF). A later row with the same symbol replaces the
// value in place.
using GlobSpecDict = text::OrderedMap<std::string, std::string>;

// Reader of a global-spec sheet text export.
class TARNWICK_TISKEL_EXPORT ParseGlobalSpec
{
public:
  // Reads the sheet at `spec_path` for the tester `platform` into a new table; a table handed
  // out earlier keeps its contents. When nothing exists at `spec_path`, every "%20" in it is
  // replaced by a blank and that path is read. Throws FileNotFoundError when the file is
  // missing, tarnwick::Error (naming the file and row) for a row 0 without the version mark of
  // the platform or a data row of fewer than four cells.
  void read_spec(const std::string& spec_path, const std::string& platform);

  // The parse core of read_spec: `text` is the whole export with LF line ends; `source` names
  // it in error messages. Starts a new table like read_spec.
  void parse(std::string_view text, std::string_view platform, std::string_view source = {});

  // The table of the last read (not a copy). Throws tarnwick::Error before the first read.
  std::shared_ptr<const GlobSpecDict> get_info() const;

private:
  std::shared_ptr<GlobSpecDict> m_spec_dict;
};

} // namespace tarnwick::tiskel
