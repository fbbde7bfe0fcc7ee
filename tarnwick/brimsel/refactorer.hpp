#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/brimsel/changes.hpp"
#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/rename_scope.hpp"

namespace tarnwick::brimsel {

// Source of the local time that stamps change records and backup names.
using RefactorClock = std::function<std::chrono::system_clock::time_point()>;

// What an apply step did with the files its records name.
struct ApplyResult
{
  std::size_t rewritten = 0;  // files backed up and rewritten
  std::size_t failed = 0;     // files a rename had to change that were left as they were: the
                              // backup or the rewrite failed, not valid UTF-8, changed since
                              // the parse
  std::size_t not_parsed = 0; // record paths that name no file of the parse

  bool operator==(const ApplyResult&) const = default;
};

// Renames variables, Types and Enums in the sources a VBAParser has read. Renames are recorded
// first (`add_change`), then applied file by file (`apply_all_changes`), each in the scope of
// what it names (rename_in_scope), in the parsed modules and in the class and form modules
// under the parsed folders, which are read for that when the renames are applied. Each affected
// file is checked against the text that was read, backed up byte for byte beside itself and
// replaced atomically by the renamed text, keeping every line's own line end. Reports through
// lines on standard output; never changes the parser.
class TARNWICK_BRIMSEL_EXPORT VBTRefactorer
{
public:
  // Refactorer over `parser`, whose parse_files has run; `parser` must outlive it. Change
  // stamps and backup names take the time from `clock` (default: the system clock).
  explicit VBTRefactorer(const VBAParser& parser, RefactorClock clock = {});

  const VBAParser& parser() const { return m_parser; }

  // Change type ("global_variable", ...) -> its records, in recording order.
  const ChangesMade& changes_made() const { return m_changes_made; }

  // The records of `change_type`; an empty list when there are none (nothing is created).
  const std::vector<RenameChange>& changes_of(std::string_view change_type) const;

  // The records of the last apply step that changed a file that was rewritten, types in the
  // order of `changes_made`; a type none of whose records changed a file is left out. After
  // each such record, one per class or form module that it changed and that was rewritten:
  // that module's path, the first line changed there, the description with "（类模块中的引用）"
  // or "（窗体模块中的引用）" added. This is what the refactor report lists.
  const ChangesMade& applied_changes() const { return m_applied_changes; }

  // Records every variable, Type and Enum whose suggested name differs from its name, then
  // applies all records. Prints "开始自动重构..." first and "自动重构完成！" last.
  void refactor_all_issues();

  // Reads the rows confirmed in the edited dry-run report at `excel_path` (sheets "Global
  // Variables", "Module Variables", "Local Variables"), records and lists them, and applies all
  // records. A confirmed row whose names is_valid_rename refuses is named in a line and left
  // out. Returns what apply_all_changes did; all counts are 0 when no row was confirmed or the
  // report could not be read. Every failure is reported as a console line.
  ApplyResult apply_changes_from_excel(const std::string& excel_path);

  // Appends `change_info` to the records of `change_type`. A rename that is_valid_rename
  // refuses is not recorded: prints one line naming it and returns false.
  bool add_change(const std::string& change_type, RenameChange change_info);

  // Applies every record in the scope of what it names: the files that declare the records in
  // order of first appearance, then the other files that a global's, Type's or Enum's record
  // changes. A record path that is not a file of the parse (nor the same file under another
  // name) is skipped with a line; a record that cannot be applied safely is named in a line
  // with the reason and changes nothing; a file whose text no record changes is named in a
  // line and neither backed up nor written. A file whose backup or rewrite fails is named in a
  // line and left as it was; the next file follows. Fills applied_changes(); returns the counts
  // of files rewritten, failed and not parsed.
  ApplyResult apply_all_changes();

private:
  struct Grouping;

  enum class FileOutcome
  {
    rewritten,
    unchanged, // no rename changes its text: neither backed up nor written
    failed,
  };

  // Rewrites one file, read as `parsed`, with its renamed `lines`, made by the renames of
  // `names` distinct old names.
  FileOutcome apply_changes_to_file(const std::string& file_path, const SourceLines& parsed,
                                    const SourceLines& lines, std::size_t names);
  Grouping group_by_file() const;

  // The steps of apply_all_changes, in order, over one Plan.
  struct Plan;
  // Makes the renames of the records of parsed files in their scope, refusing those whose
  // files cannot all be rewritten.
  void plan_renames(const Grouping& grouping, Plan& plan) const;
  // Names each record that is refused or merged in a line.
  void report_unmade_records(const Plan& plan) const;
  // Rewrites the files of the records, then the others a rename changed; returns the counts.
  ApplyResult rewrite_files(const Grouping& grouping, Plan& plan);
  // Rewrites the file `entry` of the plan's rewrite and counts it in `result`.
  void rewrite_entry(Plan& plan, std::size_t entry, ApplyResult& result);
  // Fills applied_changes from the records whose renames changed a rewritten file.
  void record_applied_changes(const Plan& plan);
  std::string local_time(const char* format) const;
  // Stamps `change`, when there is one, and records it under `change_type`.
  void add_suggested_rename(const char* change_type, std::optional<RenameChange> change);

  void refactor_global_variables();
  void refactor_module_variables();
  void refactor_local_variables();
  void refactor_type_definitions();
  void refactor_enum_definitions();

  const VBAParser& m_parser;
  RefactorClock m_clock;
  ChangesMade m_changes_made;
  ChangesMade m_applied_changes;
  // Where a record was read, by change type and place in its list: "Local Variables 第 5 行".
  std::map<std::pair<std::string, std::size_t>, std::string> m_origins;
};

} // namespace tarnwick::brimsel
