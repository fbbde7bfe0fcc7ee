#pragma once

// Small text helpers shared by the power-pin and the pattern columns of a job sheet. Internal to
// the engine library; not installed.

#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/quenby/quenby.hpp"
#include "tarnwick/sarnet/sarnet.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/tiskel/tiskel.hpp"
#include "tarnwick/vellox/vellox.hpp"

namespace tarnwick::olvent::columns {

// `file` in the folder `directory`, joined the way the host joins paths: an absolute `file`
// stands alone, and no "/" is added after an empty folder or one that ends in "/".
inline std::string join_path(const std::string& directory, const std::string& file)
{
  if (!file.empty() && file.front() == '/')
    return file;
  if (directory.empty() || directory.back() == '/')
    return directory + file;
  return directory + "/" + file;
}

// A category that begins with "::" gets the context environment `context_env` put directly in
// front of it, unless that is empty ("::Slow" with "Ctx" gives "Ctx::Slow").
inline std::string with_context(const std::string& context_env, const std::string& category)
{
  if (!context_env.empty() && category.starts_with("::"))
    return context_env + category;
  return category;
}

// `text` cut at every ",", empty items kept ("a,,b" gives "a", "", "b").
inline std::vector<std::string> split_commas(std::string_view text)
{
  std::vector<std::string> items;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      items.emplace_back(text.substr(start));
      return items;
    }
    items.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

// `items` joined by ",".
inline std::string join_commas(const std::vector<std::string>& items)
{
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      text += ',';
    text += items[i];
  }
  return text;
}

// Writes `line` and a line feed to standard output.
inline void print_line(const std::string& line)
{
  std::cout << line << '\n';
}

// The table `table` points to, or an empty one.
inline const sarnet::SpecDict& spec_table(const std::shared_ptr<const sarnet::SpecDict>& table)
{
  static const sarnet::SpecDict empty;
  return table ? *table : empty;
}

// The records of the test instance `name` in `table`. Null when `name` is no instance there,
// after "Info: cannot found " + name + " in Test Instance, please check." went to `log` and to
// standard output.
template <class Log>
const std::vector<kenmoor::InstanceContent>*
instance_records(const std::shared_ptr<kenmoor::TestInstanceDict>& table, const std::string& name,
                 Log log)
{
  if (table) {
    if (auto hit = table->find(name); hit != table->end())
      return &hit->second;
  }
  std::string line = "Info: cannot found " + name + " in Test Instance, please check.";
  log(line);
  print_line(line);
  return nullptr;
}

// What the file system says of a file's content: device, inode, size, modification and change
// times. A file written again shows a new size or new times.
struct FileStamp
{
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modified_s = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_s = 0;
  std::int64_t changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file at `path`; std::nullopt when there is none.
inline std::optional<FileStamp> stamp_of(const std::string& path)
{
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(st.st_dev),
                   static_cast<std::uint64_t>(st.st_ino),
                   st.st_size,
                   st.st_mtim.tv_sec,
                   st.st_mtim.tv_nsec,
                   st.st_ctim.tv_sec,
                   st.st_ctim.tv_nsec};
}

// Whether a change made to the file after the moment `now` is bound to show in `stamp`: its times
// lie further back than the granule of the file system's clock (a clock tick; two seconds when
// the file system keeps no fractions of a second). A file written within that granule may be
// written again with the same size and the same times.
inline bool settled(const FileStamp& stamp, std::chrono::system_clock::time_point now)
{
  using namespace std::chrono;
  const nanoseconds granule =
      stamp.modified_ns == 0 && stamp.changed_ns == 0 ? nanoseconds(seconds(2))
                                                      : nanoseconds(milliseconds(50));
  const nanoseconds since_epoch = duration_cast<nanoseconds>(now.time_since_epoch());
  auto older = [&](std::int64_t s, std::int64_t ns) {
    return seconds(s) + nanoseconds(ns) + granule < since_epoch;
  };
  return older(stamp.modified_s, stamp.modified_ns) && older(stamp.changed_s, stamp.changed_ns);
}

// The tables read from sheet files, kept while each file stays as it was read: a file that
// changed, or any other state of it, is read again with the reader's own errors. Every read
// gets a new serial number, so what was derived from an earlier read can tell it is out of date.
template <class Tables> class FileCache
{
public:
  struct Entry
  {
    FileStamp stamp;
    bool settled = false;         // a later change is bound to show in `stamp`
    std::uint64_t serial = 0;
    std::uint64_t checked_in = 0; // the call that last looked at the file
    Tables tables;
  };

  // The tables of the file at `path`, read with `read(path)` unless the file is unchanged since
  // its last read with the same `setting` (what else the read depends on, such as the
  // platform) and `usable`, when given, accepts the tables of that read. A file is looked at
  // once per call of a column operation (`begin_call`).
  const Entry& get(const std::string& path, const std::function<Tables(const std::string&)>& read,
                   const std::string& setting = {},
                   const std::function<bool(const Tables&)>& usable = nullptr)
  {
    const std::string key = setting.empty() ? path : setting + '\n' + path;
    auto hit = m_entries.find(key);
    const bool known = hit != m_entries.end() && (!usable || usable(hit->second.tables));
    if (known && hit->second.checked_in == m_call)
      return hit->second;
    const auto now = m_now();
    std::optional<FileStamp> stamp = stamp_of(path);
    if (stamp && known && hit->second.settled && hit->second.stamp == *stamp) {
      hit->second.checked_in = m_call;
      return hit->second;
    }
    ++m_reads;
    Tables tables = read(path);
    Entry& entry = m_entries[key];
    entry = {stamp.value_or(FileStamp{}), stamp && settled(*stamp, now), ++m_serial, m_call,
             std::move(tables)};
    return entry;
  }

  // Starts a call of a column operation: every file is looked at again.
  void begin_call() { ++m_call; }

  // Forgets every file read (the counts stay).
  void clear() { m_entries.clear(); }

  // How many times a file was read, failed reads included.
  std::uint64_t reads() const { return m_reads; }

  // Replaces the clock that says how old a file's times are (tests move it on).
  void set_clock(std::function<std::chrono::system_clock::time_point()> now)
  {
    m_now = std::move(now);
  }

private:
  std::unordered_map<std::string, Entry> m_entries;
  std::uint64_t m_serial = 0;
  std::uint64_t m_reads = 0;
  std::uint64_t m_call = 1;
  std::function<std::chrono::system_clock::time_point()> m_now = std::chrono::system_clock::now;
};

// The key of the value of `expression` for a category and selector: the category, the selector
// and the expression, in that order (a key made for the empty expression is the prefix of the
// others).
inline std::string value_key(const std::string& expression, const std::string& category,
                             const std::string& selector)
{
  std::string key = category;
  key += '\x1f';
  key += selector;
  key += '\x1f';
  key += expression;
  return key;
}

// Values computed from spec expressions, valid for the DC/AC spec tables, spec version and mode
// they were computed with; `use` forgets them all when any of those changed. Only successful
// computations are kept (a failure may log and is computed again).
template <class Value> class ValueCache
{
public:
  void use(const std::shared_ptr<const sarnet::SpecDict>& spec,
           const std::shared_ptr<const tiskel::GlobSpecDict>& glob, const std::string& version,
           bool frequency)
  {
    // The tables are held, so a new table never takes the address of one computed with.
    if (spec != m_spec || glob != m_glob || version != m_version || frequency != m_frequency) {
      m_values.clear();
      m_spec = spec;
      m_glob = glob;
      m_version = version;
      m_frequency = frequency;
    }
  }

  const Value* find(const std::string& key) const
  {
    auto hit = m_values.find(key);
    return hit == m_values.end() ? nullptr : &hit->second;
  }
  void store(std::string key, Value value)
  {
    m_values.insert_or_assign(std::move(key), std::move(value));
  }

private:
  std::shared_ptr<const sarnet::SpecDict> m_spec;
  std::shared_ptr<const tiskel::GlobSpecDict> m_glob;
  std::string m_version;
  bool m_frequency = false;
  std::unordered_map<std::string, Value> m_values;
};

struct PinLevelTables
{
  std::shared_ptr<const quenby::PinLevelDict> levels;
  std::shared_ptr<const quenby::PinLevelDict> clamps;
};

struct TimeSetTables
{
  std::shared_ptr<const vellox::TimingPeriod> timing;
  std::shared_ptr<const vellox::ClkDic> clocks;
};

// The records of one test-instance sheet, read with the pattern-set table `pattern_sets`.
struct InstanceSheet
{
  std::shared_ptr<const kenmoor::TestInstanceDict> instances;
  std::shared_ptr<const kenmoor::PatternSetDict> pattern_sets;
};

// (pin name, alias) rows of a power-order workbook.
using PowerOrder = std::vector<std::pair<std::string, std::string>>;

// A log line's text with its mark, kept until it is logged.
struct MarkedLine
{
  std::string text;
  LogMark mark;
};

// What the power-pin columns of one instance record come to, in the order it happens: the log
// lines of the pins that the power order lists but the level sheet lacks, then each pin shown,
// with its column header, its level text (none when the level failed) and its clamp value (none
// when the clamp failed). A record that failed comes to the part before its failure.
struct PowerPlan
{
  struct Pin
  {
    std::string pin;
    std::string header;
    std::optional<std::string> text;
    bool zero = false;
    std::optional<double> clamp;
  };
  std::vector<MarkedLine> log_lines;
  std::vector<Pin> pins;
};

// What the job flow walk and the power-pin and pattern columns computed before, for later flow
// rows, jobs and runs.
struct Cache
{
  FileCache<InstanceSheet> instance_sheets; // by platform; see `instance_sheet_usable`
  FileCache<PinLevelTables> pin_levels;
  FileCache<TimeSetTables> time_sets;
  FileCache<PowerOrder> power_orders;
  ValueCache<PowerPlan> power_plans; // by level sheet and power order read, category, selector
  ValueCache<std::string> ac_values; // formatted period and clock values (AC)
  // Position of each header in the engine's `power_list` (rebuilt when the list's length
  // differs, as after the flow walk emptied it for a new job).
  std::unordered_map<std::string, std::size_t> power_columns;

  // The pattern-set table last used for test-instance sheets, shared by the sheets read with it.
  std::shared_ptr<const kenmoor::PatternSetDict> pattern_sets;

  // A table equal to `sets` to read test-instance sheets with: the one used before when nothing
  // changed, else a copy of `sets`.
  const std::shared_ptr<const kenmoor::PatternSetDict>&
  pattern_sets_like(const kenmoor::PatternSetDict& sets)
  {
    if (!pattern_sets || *pattern_sets != sets)
      pattern_sets = std::make_shared<const kenmoor::PatternSetDict>(sets);
    return pattern_sets;
  }

  // Whether the records of `sheet` are those a read with the pattern sets `sets` gives: the sets
  // are looked up by name, so only an equal table serves.
  static bool instance_sheet_usable(const InstanceSheet& sheet,
                                    const std::shared_ptr<const kenmoor::PatternSetDict>& sets)
  {
    return sheet.pattern_sets == sets || *sheet.pattern_sets == *sets;
  }

  // Starts a call of a column operation: sheet files are looked at again for changes.
  void begin_call()
  {
    instance_sheets.begin_call();
    pin_levels.begin_call();
    time_sets.begin_call();
    power_orders.begin_call();
  }
};

// The cache in `slot`, made on first use.
inline Cache& cache_in(std::shared_ptr<Cache>& slot)
{
  if (!slot)
    slot = std::make_shared<Cache>();
  return *slot;
}

} // namespace tarnwick::olvent::columns
