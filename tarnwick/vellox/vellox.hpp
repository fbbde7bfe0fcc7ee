#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tarnwick/text/ordered_map.hpp"
#include "tarnwick/vellox/export.hpp"

namespace tarnwick::vellox {

// Upper-cased time-set name to the period text of its first row ("=" removed, upper-cased),
// in order of first appearance.
using TimingPeriod = text::OrderedMap<std::string, std::string>;

// One time set's clocks: pin name (UltraFLEX) or divider text (J750) to clock text.
using ClockMap = text::OrderedMap<std::string, std::string>;

// Upper-cased time-set name to its clock map (possibly empty), in order of first appearance.
using ClkDic = text::OrderedMap<std::string, ClockMap>;

// Reader of a time-set sheet text export. Its two tables are shared: a caller that took them
// keeps them after the reader is gone and sees later reads of this reader.
class TARNWICK_VELLOX_EXPORT ParseTIM
{
public:
  // Both tables empty.
  ParseTIM();

  // Reads the sheet at `timing_path` (used unchanged) for the tester `platform` and adds its
  // rows to the two tables. Throws FileNotFoundError when the file is missing,
  // tarnwick::Error (naming the file and row) for a data row that lacks a cell the row needs;
  // rows read before the failure stay in the tables.
  void read_timing(const std::string& timing_path, const std::string& platform);

  // The parse core of read_timing: `text` is the whole export with LF line ends; `source`
  // names it in error messages.
  void parse(std::string_view text, std::string_view platform, std::string_view source = {});

  // The reader's own period table (not a copy).
  std::shared_ptr<const TimingPeriod> get_timing_info() const;

  // The reader's own clock table (not a copy).
  std::shared_ptr<const ClkDic> get_clk_info() const;

private:
  std::shared_ptr<TimingPeriod> m_timing_period;
  std::shared_ptr<ClkDic> m_clk_dic;
};

} // namespace tarnwick::vellox
