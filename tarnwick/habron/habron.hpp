#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/habron/export.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::habron {

// The sheets that make up one job, as the job-list sheet names them. Texts are kept as written:
// not trimmed, not case-changed; a list cell split at "," gives [""] when empty.
struct TARNWICK_HABRON_EXPORT JobListContent
{
  std::vector<std::string> test_instance_list; // "TestInstanceList": cell 3 split at ","
  std::string flow_table;                      // "Flow Table": cell 4
  std::string dc_spec;                         // "DC Spec": cell 6
  std::string ac_spec;                         // "AC Spec": cell 5
  std::vector<std::string> pattern_set;        // "PatternSet": cell 7 split at ","
  std::string global_spec = "Global Specs";    // "Global Spec": always "Global Specs"

  bool operator==(const JobListContent&) const = default;
};

// Printed form in key order: {'TestInstanceList': ['a'], 'Flow Table': 'f', 'DC Spec': ...,
// 'AC Spec': ..., 'PatternSet': [...], 'Global Spec': 'Global Specs'}.
TARNWICK_HABRON_EXPORT std::string printed(const JobListContent& content);

// Job name (cell 1 exactly as written) to its sheets, in order of first appearance.
using JobListDict = text::OrderedMap<std::string, JobListContent>;

// Builds the entry of one job row from its cells `line_list`. Cells the row lacks (a row of
// five to seven cells) count as empty texts.
TARNWICK_HABRON_EXPORT JobListContent get_job_list_content(const text::Row& line_list);

// Reader of the job-list sheet text export.
class TARNWICK_HABRON_EXPORT Habron
{
public:
  // An empty job table.
  Habron();

  // Reads the export at `job_list_path` (used unchanged) and adds its jobs to the table.
  // Throws FileNotFoundError when the file is missing, tarnwick::Error for other read failures.
  void read_job_list(const std::filesystem::path& job_list_path);

  // Adds the jobs of the export text `text` (LF line ends). Rows of four cells or fewer print a
  // warning line to standard output and are left out.
  void parse(std::string_view text);

  // The reader's own job table (shared; it outlives the reader).
  std::shared_ptr<JobListDict> get_test_job_list_info() const;

private:
  std::shared_ptr<JobListDict> m_job_list_dict;
};

} // namespace tarnwick::habron
