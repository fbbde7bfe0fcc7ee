#include "tarnwick/brimsel/refactorer.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <variant>

#include "tarnwick/brimsel/module_model.hpp"
#include "tarnwick/brimsel/source_file.hpp"
#include "tarnwick/brimsel/source_writer.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/printed.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::brimsel {

namespace {

using LineNumber = decltype(RenameChange::line_number);
using StatBuffer = struct stat;

// ---------------------------------------------------------------------------------------------
// Records

// The description of a rename: "<kind> '<old>' 重命名为 '<new>'", with "在函数 '<function>' 中"
// before "重命名为" when a procedure is named.
std::string rename_description(std::string_view kind, const std::string& old_name,
                               const std::string& new_name,
                               const std::string* function_name = nullptr)
{
  std::string description = std::string(kind) + " '" + old_name + "' ";
  if (function_name != nullptr) {
    description += "在函数 '" + *function_name + "' 中";
  }
  return description + "重命名为 '" + new_name + "'";
}

// The rename that the suggested name of a variable, Type or Enum record asks for, not yet
// stamped; none when the record has no suggestion or suggests its own name.
template <class Record>
std::optional<RenameChange> suggested_rename(const Record& record, std::string_view kind,
                                             const std::string* function_name = nullptr)
{
  const std::optional<std::string>& correct_name = record.correct_name;
  if (!correct_name || correct_name->empty() || *correct_name == record.name) {
    return std::nullopt;
  }
  return RenameChange{record.file_path, record.line_number, record.name, *correct_name,
                      rename_description(kind, record.name, *correct_name, function_name), ""};
}

struct ReportSheet
{
  const char* name;
  const char* change_type;
  const char* failure_text;
  const char* kind; // "全局变量", ...
  bool names_function;
};

constexpr ReportSheet k_report_sheets[] = {
    {"Global Variables", "global_variable", "读取全局变量工作表失败: ", "全局变量", false},
    {"Module Variables", "module_variable", "读取模块变量工作表失败: ", "模块变量", false},
    {"Local Variables", "local_variable", "读取局部变量工作表失败: ", "局部变量", true},
};

bool is_confirmed(const xlsx::Cell& cell)
{
  return (cell.kind == xlsx::CellKind::boolean && cell.boolean)
         || (cell.kind == xlsx::CellKind::number && cell.number == 1.0);
}

// The "行号" cell as a line number: a number loses its fraction, a text of decimal digits
// (blanks around allowed) gives its value. Throws tarnwick::Error for anything else and for a
// value that is not finite or does not fit. `row` is the sheet row, counted from 1.
LineNumber line_number_of(const xlsx::Cell& cell, std::size_t row)
{
  const std::string where = "第 " + std::to_string(row) + " 行的行号";
  constexpr auto lowest = static_cast<double>(std::numeric_limits<LineNumber>::min());
  // One past the greatest value; exact as a double for 32- and 64-bit integers.
  constexpr double beyond = -lowest;
  switch (cell.kind) {
  case xlsx::CellKind::number: {
    if (!std::isfinite(cell.number)) {
      throw Error(where + "不是有限的数: " + cell.text);
    }
    const double whole = std::trunc(cell.number);
    if (whole < lowest || whole >= beyond) {
      throw Error(where + "超出范围: " + cell.text);
    }
    return static_cast<LineNumber>(whole);
  }
  case xlsx::CellKind::text: {
    const std::string stripped = text::strip(cell.text);
    if (stripped.empty() || stripped.find_first_not_of("0123456789") != std::string::npos) {
      throw Error(where + "不是整数: " + text::quoted(cell.text));
    }
    const std::optional<std::int64_t> value = text::parse_int(stripped);
    if (!value || *value > std::numeric_limits<LineNumber>::max()) {
      throw Error(where + "超出范围: " + text::quoted(cell.text));
    }
    return static_cast<LineNumber>(*value);
  }
  case xlsx::CellKind::empty:
    throw Error(where + "为空");
  case xlsx::CellKind::boolean:
  case xlsx::CellKind::error:
    break;
  }
  throw Error(where + "不是整数: " + cell.text);
}

// Column of the first header exactly `header` in the header row, if any.
std::optional<std::size_t> find_column(const xlsx::Sheet& sheet, std::string_view header)
{
  for (const auto& [column, cell] : sheet.row_cells(0)) {
    if (cell.text == header) {
      return column;
    }
  }
  return std::nullopt;
}

// The leftmost header holding "应用", or "apply" in any case.
std::optional<std::size_t> find_confirmation_column(const xlsx::Sheet& sheet)
{
  for (const auto& [column, cell] : sheet.row_cells(0)) {
    const std::string& header = cell.text;
    if (header.find("应用") != std::string::npos
        || text::lower(header).find("apply") != std::string::npos) {
      return column;
    }
  }
  return std::nullopt;
}

const std::string& text_in(const xlsx::Sheet& sheet, std::size_t row,
                           std::optional<std::size_t> column)
{
  static const std::string empty;
  // A text cell's text, a number as stored, TRUE/FALSE or an error value.
  return column ? sheet.cell(row, *column).text : empty;
}

} // namespace

// ---------------------------------------------------------------------------------------------

struct VBTRefactorer::Grouping
{
  // The records' files in order of each one's first record: the parsed file's key, or the
  // record's path when there is none.
  std::vector<std::pair<std::string, bool>> files; // (path, parsed)
  // Per record of changes_made, in its order: the key of its parsed file, if any.
  std::vector<std::optional<std::string>> parsed_key;
};

VBTRefactorer::VBTRefactorer(const VBAParser& parser, RefactorClock clock)
    : m_parser(parser),
      m_clock(clock ? std::move(clock)
                    : RefactorClock([] { return std::chrono::system_clock::now(); }))
{}

const std::vector<RenameChange>& VBTRefactorer::changes_of(std::string_view change_type) const
{
  static const std::vector<RenameChange> none;
  const auto found = m_changes_made.find(std::string(change_type));
  return found == m_changes_made.end() ? none : found->second;
}

std::string VBTRefactorer::local_time(const char* format) const
{
  return local_time_text(m_clock(), format);
}

bool VBTRefactorer::add_change(const std::string& change_type, RenameChange change_info)
{
  if (!is_valid_rename(change_info.original_name, change_info.new_name)) {
    std::cout << "跳过无效的重命名: " << text::quoted(change_info.original_name) << " -> "
              << text::quoted(change_info.new_name) << " (" << change_info.file_path << ")\n";
    return false;
  }
  m_changes_made[change_type].push_back(std::move(change_info));
  return true;
}

namespace {

// A source file as it is now, when it can be rewritten.
struct CurrentSource
{
  SourceFile file;
  std::vector<std::string> ends; // each line's own line end
};

// Why a file cannot be rewritten: the line that says so, and the reason alone.
struct Unwritable
{
  std::string line;
  std::string reason;
};

// The file at `file_path` as it is now, when it is readable, valid UTF-8 and still what the
// parse read as `parsed`; otherwise why not.
std::variant<CurrentSource, Unwritable> read_current(const std::string& file_path,
                                                     const SourceLines& parsed)
{
  CurrentSource current;
  try {
    current.file = read_source_file(file_path);
  } catch (const std::exception& error) {
    return Unwritable{"备份文件失败 " + file_path + ": " + error.what(), error.what()};
  }
  if (!text::is_valid_utf8(current.file.bytes)) {
    // The parse dropped the invalid bytes; written back, the file would lose them.
    return Unwritable{"备份文件失败 " + file_path + ": not valid UTF-8, the file is not rewritten",
                      "not valid UTF-8"};
  }
  if (split_source_lines(current.file.bytes, &current.ends) != parsed) {
    return Unwritable{"文件在解析后已被修改，跳过 " + file_path, "文件在解析后已被修改"};
  }
  return current;
}

} // namespace

VBTRefactorer::FileOutcome
VBTRefactorer::apply_changes_to_file(const std::string& file_path, const SourceLines& parsed,
                                     const SourceLines& lines, std::size_t names)
{
  // The renamed text first: a file that no rename changes is neither backed up nor written.
  if (lines == parsed) {
    std::cout << "未修改文件（没有名称需要重命名）: " << file_path << '\n';
    return FileOutcome::unchanged;
  }

  // The file as it is now: valid UTF-8 and still what the parse read, or it is left alone.
  auto now = read_current(file_path, parsed);
  if (const auto* unwritable = std::get_if<Unwritable>(&now)) {
    std::cout << unwritable->line << '\n';
    return FileOutcome::failed;
  }
  const SourceFile& current = std::get<CurrentSource>(now).file;
  const std::vector<std::string>& ends = std::get<CurrentSource>(now).ends;

  try {
    const std::string backup_path =
        write_backup(file_path, local_time("%Y%m%d_%H%M%S"), current.bytes, current.status.st_mode);
    std::cout << "已备份文件: " << backup_path << '\n';
  } catch (const std::exception& error) {
    std::cout << "备份文件失败 " << file_path << ": " << error.what() << '\n';
    return FileOutcome::failed;
  }

  try {
    replace_file(file_path, join_with_ends(lines, ends), current.status);
  } catch (const std::exception& error) {
    std::cout << "写入文件失败 " << file_path << ": " << error.what() << '\n';
    return FileOutcome::failed;
  }
  std::cout << "已修改文件: " << file_path << '\n'
            << "  - 更新了 " << names << " 个变量名的所有引用\n";
  return FileOutcome::rewritten;
}

VBTRefactorer::Grouping VBTRefactorer::group_by_file() const
{
  // A path that is not a key of the parse may still name a parsed file (another spelling of
  // the folder, a link): matched by device and inode.
  std::optional<std::map<std::pair<dev_t, ino_t>, std::string>> identities;
  const auto parsed_key = [&](const std::string& path) -> std::optional<std::string> {
    if (m_parser.files.contains(path)) {
      return path;
    }
    StatBuffer status{};
    if (::stat(path.c_str(), &status) != 0) {
      return std::nullopt;
    }
    if (!identities) {
      identities.emplace();
      for (const auto& [key, lines] : m_parser.files) {
        StatBuffer key_status{};
        if (::stat(key.c_str(), &key_status) == 0) {
          identities->try_emplace({key_status.st_dev, key_status.st_ino}, key);
        }
      }
    }
    const auto found = identities->find({status.st_dev, status.st_ino});
    return found == identities->end() ? std::nullopt : std::optional(found->second);
  };

  Grouping grouping;
  std::set<std::string, std::less<>> seen;
  for (const auto& [type, changes] : m_changes_made) {
    for (const RenameChange& change : changes) {
      std::optional<std::string> key = parsed_key(change.file_path);
      const std::string& path = key ? *key : change.file_path;
      if (seen.insert(path).second) {
        grouping.files.emplace_back(path, key.has_value());
      }
      grouping.parsed_key.push_back(std::move(key));
    }
  }
  return grouping;
}

// The renames of one apply step and what became of them.
struct VBTRefactorer::Plan
{
  std::vector<ScopedRename> renames; // the records of parsed files, in order
  // Per record of changes_made, in its order: its place in `renames`, if it has one.
  std::vector<std::optional<std::size_t>> rename_of_record;
  // Class and form modules are not parsed; they are read here, for the renames only. The
  // rewrite points into them, so the plan is filled in place and never moved.
  ClassAndFormModules class_and_form;
  std::map<std::string, Unwritable, std::less<>> unwritable; // path -> why not rewritable
  ScopedRewrite rewrite;
  std::vector<bool> rewritten; // per file of `rewrite`: backed up and rewritten
};

void VBTRefactorer::plan_renames(const Grouping& grouping, Plan& plan) const
{
  // The records of parsed files, each made in the scope of what it names.
  std::size_t record = 0;
  for (const auto& [type, changes] : m_changes_made) {
    for (const RenameChange& change : changes) {
      const std::optional<std::string>& key = grouping.parsed_key[record++];
      plan.rename_of_record.push_back(key ? std::optional(plan.renames.size()) : std::nullopt);
      if (key) {
        plan.renames.push_back(
            {type, *key, change.line_number, change.original_name, change.new_name});
      }
    }
  }
  // A rename that changes several files needs every one of them rewritable (valid UTF-8, as
  // parsed, readable): otherwise rename_in_scope refuses it as a whole before any file is
  // touched, so that no global is left renamed in some modules only. Such a file still counts
  // as failed.
  plan.class_and_form = read_class_and_form_modules(m_parser.directories);
  const auto cannot_rewrite = [&](const std::string& path) -> std::optional<std::string> {
    const auto parsed = m_parser.files.find(path);
    auto now = read_current(path, parsed != m_parser.files.end()
                                      ? parsed->second
                                      : plan.class_and_form.files.at(path));
    auto* problem = std::get_if<Unwritable>(&now);
    if (problem == nullptr) {
      return std::nullopt;
    }
    const std::string reason = problem->reason;
    plan.unwritable.emplace(path, std::move(*problem));
    return reason;
  };
  plan.rewrite = rename_in_scope(m_parser, plan.renames, cannot_rewrite, plan.class_and_form);
  plan.rewritten.assign(plan.rewrite.files.size(), false);
}

void VBTRefactorer::report_unmade_records(const Plan& plan) const
{
  std::size_t record = 0;
  for (const auto& [type, changes] : m_changes_made) {
    for (std::size_t i = 0; i < changes.size(); ++i, ++record) {
      if (!plan.rename_of_record[record]) {
        continue;
      }
      const RenameResult& result = plan.rewrite.results[*plan.rename_of_record[record]];
      const char* prefix = result.outcome == RenameOutcome::refused ? "跳过无法安全应用的重命名: "
                           : result.outcome == RenameOutcome::merged ? "合并同一变量的重命名: "
                                                                      : nullptr;
      if (prefix == nullptr) {
        continue;
      }
      const RenameChange& change = changes[i];
      const auto origin = m_origins.find({type, i});
      std::cout << prefix << text::quoted(text::excerpt(change.original_name)) << " -> "
                << text::quoted(text::excerpt(change.new_name)) << " ("
                << (origin == m_origins.end() ? "" : origin->second + ", ") << change.file_path
                << "): " << result.reason << '\n';
    }
  }
}

void VBTRefactorer::rewrite_entry(Plan& plan, std::size_t entry, ApplyResult& result)
{
  const ScopedFile& file = plan.rewrite.files[entry];
  const auto problem = plan.unwritable.find(file.path);
  if (problem != plan.unwritable.end()) {
    std::cout << problem->second.line << '\n';
    ++result.failed;
    return;
  }
  std::set<std::string_view> names;
  for (const std::size_t index : file.renames) {
    names.insert(plan.renames[index].original_name);
  }
  switch (apply_changes_to_file(file.path, *file.parsed, file.lines(), names.size())) {
  case FileOutcome::rewritten:
    plan.rewritten[entry] = true;
    ++result.rewritten;
    break;
  case FileOutcome::failed:
    ++result.failed;
    break;
  case FileOutcome::unchanged:
    break;
  }
}

ApplyResult VBTRefactorer::rewrite_files(const Grouping& grouping, Plan& plan)
{
  std::map<std::string, std::size_t, std::less<>> entry_of;
  for (std::size_t e = 0; e < plan.rewrite.files.size(); ++e) {
    entry_of.emplace(plan.rewrite.files[e].path, e);
  }
  ApplyResult result;
  std::vector<bool> done(plan.rewrite.files.size(), false);
  for (const auto& [path, parsed] : grouping.files) {
    if (!parsed) {
      std::cout << "跳过未解析的文件: " << path << '\n';
      ++result.not_parsed;
      continue;
    }
    const std::size_t e = entry_of.at(path);
    rewrite_entry(plan, e, result);
    done[e] = true;
  }
  for (std::size_t e = 0; e < plan.rewrite.files.size(); ++e) {
    if (!done[e]) {
      rewrite_entry(plan, e, result);
    }
  }
  return result;
}

void VBTRefactorer::record_applied_changes(const Plan& plan)
{
  const std::vector<bool>& rewritten = plan.rewritten;
  std::size_t record = 0;
  for (const auto& [type, changes] : m_changes_made) {
    for (const RenameChange& change : changes) {
      const std::optional<std::size_t> index = plan.rename_of_record[record++];
      if (!index || plan.rewrite.results[*index].outcome != RenameOutcome::renamed) {
        continue;
      }
      const RenameResult& renamed = plan.rewrite.results[*index];
      const std::vector<std::size_t>& files = renamed.files;
      if (!std::any_of(files.begin(), files.end(), [&](std::size_t e) { return rewritten[e]; })) {
        continue;
      }
      std::vector<RenameChange>& applied = m_applied_changes[type];
      applied.push_back(change);
      for (std::size_t f = 0; f < files.size(); ++f) {
        const std::string& path = plan.rewrite.files[files[f]].path;
        if (!rewritten[files[f]] || m_parser.files.contains(path)) {
          continue;
        }
        const char* where = module_kind_of(path) == ModuleKind::form ? "（窗体模块中的引用）"
                                                                      : "（类模块中的引用）";
        applied.push_back({path, static_cast<LineNumber>(renamed.first_lines[f]) + 1,
                           change.original_name, change.new_name, change.description + where,
                           change.timestamp});
      }
    }
  }
}

ApplyResult VBTRefactorer::apply_all_changes()
{
  m_applied_changes.clear();
  const Grouping grouping = group_by_file();
  Plan plan;
  plan_renames(grouping, plan);
  // The records that are not made, each in a line, before any file is touched.
  report_unmade_records(plan);
  // The files in order: those of the records (a file outside the parse named in a line), then
  // the other files that a rename changed.
  const ApplyResult result = rewrite_files(grouping, plan);
  // A record is applied when it changed a file that was rewritten. Each class or form module
  // it changed gets a record of its own, at the first line changed there: the dry-run report
  // never names those modules, so the refactor report is where they are seen.
  record_applied_changes(plan);
  return result;
}

void VBTRefactorer::refactor_all_issues()
{
  std::cout << "开始自动重构...\n";
  refactor_global_variables();
  refactor_module_variables();
  refactor_local_variables();
  refactor_type_definitions();
  refactor_enum_definitions();
  apply_all_changes();
  std::cout << "自动重构完成！\n";
}

void VBTRefactorer::add_suggested_rename(const char* change_type,
                                         std::optional<RenameChange> change)
{
  if (change) {
    change->timestamp = local_time("%Y-%m-%d %H:%M:%S");
    add_change(change_type, std::move(*change));
  }
}

void VBTRefactorer::refactor_global_variables()
{
  for (const VariableInfo& variable : m_parser.global_variables) {
    add_suggested_rename("global_variable", suggested_rename(variable, "全局变量"));
  }
}

void VBTRefactorer::refactor_module_variables()
{
  for (const auto& [file_path, variables] : m_parser.module_variables) {
    for (const VariableInfo& variable : variables) {
      add_suggested_rename("module_variable", suggested_rename(variable, "模块变量"));
    }
  }
}

void VBTRefactorer::refactor_local_variables()
{
  static const std::string no_function;
  for (const auto& [key, variables] : m_parser.local_variables) {
    for (const VariableInfo& variable : variables) {
      const std::string& function_name =
          variable.function_name ? *variable.function_name : no_function;
      add_suggested_rename("local_variable",
                           suggested_rename(variable, "局部变量", &function_name));
    }
  }
}

void VBTRefactorer::refactor_type_definitions()
{
  for (const auto& [key, type] : m_parser.types) {
    add_suggested_rename("type_definition", suggested_rename(type, "Type定义"));
  }
}

void VBTRefactorer::refactor_enum_definitions()
{
  for (const auto& [key, type] : m_parser.enums) {
    add_suggested_rename("enum_definition", suggested_rename(type, "Enum定义"));
  }
}

ApplyResult VBTRefactorer::apply_changes_from_excel(const std::string& excel_path)
{
  if constexpr (!k_spreadsheet_available) {
    std::cout << "错误: tarnwick_xlsx未安装，无法读取Excel文件\n";
    return {};
  }
  try {
    std::cout << "正在读取Excel报告: " << excel_path << '\n';
    std::vector<std::string> all_changes;
    for (const ReportSheet& spec : k_report_sheets) {
      try {
        const xlsx::Sheet sheet = xlsx::Reader(excel_path).read_sheet(spec.name);
        if (sheet.row_count() < 2) {
          continue;
        }
        const std::optional<std::size_t> confirmation = find_confirmation_column(sheet);
        if (!confirmation) {
          continue;
        }
        const std::optional<std::size_t> name_column = find_column(sheet, "变量名");
        const std::optional<std::size_t> new_name_column = find_column(sheet, "建议名称");
        const std::optional<std::size_t> path_column = find_column(sheet, "文件路径");
        const std::optional<std::size_t> line_column = find_column(sheet, "行号");
        const std::optional<std::size_t> function_column = find_column(sheet, "所在函数");
        for (std::size_t row = 1; row < sheet.row_count(); ++row) {
          if (!is_confirmed(sheet.cell(row, *confirmation))) {
            continue;
          }
          const std::string& old_name = text_in(sheet, row, name_column);
          const std::string& new_name = text_in(sheet, row, new_name_column);
          if (old_name.empty() || new_name.empty()) {
            continue;
          }
          const std::string& file_path = text_in(sheet, row, path_column);
          if (!is_valid_rename(old_name, new_name)) {
            std::cout << "跳过无效的重命名: " << text::quoted(old_name) << " -> "
                      << text::quoted(new_name) << " (" << spec.name << " 第 " << row + 1 << " 行, "
                      << file_path << ")\n";
            continue;
          }
          RenameChange change;
          change.file_path = file_path;
          change.line_number =
              line_column ? line_number_of(sheet.cell(row, *line_column), row + 1) : 0;
          change.original_name = old_name;
          change.new_name = new_name;
          change.description =
              rename_description(spec.kind, old_name, new_name,
                                 spec.names_function ? &text_in(sheet, row, function_column)
                                                     : nullptr);
          change.timestamp = local_time("%Y-%m-%d %H:%M:%S");
          if (add_change(spec.change_type, std::move(change))) {
            m_origins[{spec.change_type, changes_of(spec.change_type).size() - 1}] =
                std::string(spec.name) + " 第 " + std::to_string(row + 1) + " 行";
            all_changes.push_back(std::string(spec.kind) + ": " + text::excerpt(old_name) + " -> "
                                  + text::excerpt(new_name));
          }
        }
      } catch (const std::exception& error) {
        std::cout << spec.failure_text << error.what() << '\n';
      }
    }

    if (all_changes.empty()) {
      std::cout << "未找到任何确认的修改\n";
      return {};
    }
    std::cout << "从Excel中读取到 " << all_changes.size() << " 个确认的修改:\n";
    for (std::size_t i = 0; i < all_changes.size() && i < 10; ++i) {
      std::cout << "  - " << all_changes[i] << '\n';
    }
    if (all_changes.size() > 10) {
      std::cout << "  ... 以及另外 " << all_changes.size() - 10 << " 个修改\n";
    }
    return apply_all_changes();
  } catch (const std::exception& error) {
    std::cout << "读取Excel文件失败: " << error.what() << '\n';
    return {};
  }
}

} // namespace tarnwick::brimsel
