#include "tarnwick/brimsel/parvine/parvine.hpp"

#include <filesystem>
#include <iostream>
#include <set>
#include <type_traits>
#include <unordered_set>

#include "tarnwick/files/claim.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace tarnwick::parvine {

namespace {

using brimsel::FunctionInfo;
using brimsel::TypeInfo;
using brimsel::VariableInfo;
using brimsel::VariableReference;

// Procedures longer than this many lines are listed for a manual look.
constexpr int k_max_function_lines = 60;

enum class Fit
{
  no,
  yes,
};

void print_line(const std::string& line)
{
  std::cout << line << std::endl;
}

std::string or_empty(const std::optional<std::string>& text)
{
  return text.value_or(std::string());
}

// The issue text of a row named `name` with the suggestion `suggestion`: `issue`, and when
// either name is longer than a cell holds (the cell then keeps only its beginning), a sentence
// that says so, since the refactor cannot apply such a row.
std::string issue_text(const std::optional<std::string>& issue, const std::string& name,
                       const std::optional<std::string>& suggestion)
{
  // The sentences come first: the issue text may hold the name, and be cut itself.
  std::string text;
  for (const std::string* which : {&name, suggestion ? &*suggestion : nullptr}) {
    if (which == nullptr || which->size() <= xlsx::k_max_text_length) {
      continue;
    }
    const std::size_t characters = text::length(*which);
    if (characters > xlsx::k_max_text_length) {
      text += (which == &name ? "名称" : "建议名称");
      text += "过长（" + std::to_string(characters) + " 个字符），超过报告单元格的 "
              + std::to_string(xlsx::k_max_text_length)
              + " 个字符上限：单元格中只有其开头，重构不能应用此行；";
    }
  }
  return text + or_empty(issue);
}

std::string yes_no(bool flag)
{
  return flag ? "是" : "否";
}

// First character upper-case, the rest lower-case: "public" -> "Public".
std::string capitalized(std::string_view text)
{
  const std::u32string code_points = text::to_u32(text);
  if (code_points.empty()) {
    return {};
  }
  return text::upper(text::to_utf8(code_points.substr(0, 1)))
         + text::lower(text::to_utf8(code_points.substr(1)));
}

// Writes `table` as sheet `name` unless it has no rows; fits the widths when asked.
void write_sheet(xlsx::Workbook& writer, std::string_view name, const Table& table, Fit fit)
{
  if (table.rows.empty()) {
    return;
  }
  xlsx::Worksheet& sheet = write_table_sheet(writer, name, table);
  if (fit == Fit::yes) {
    fit_column_widths(sheet, table);
  }
}

// The report's name as far as known before it is written: `stamped`, or the first free
// numbered name beside it. The name is claimed when the workbook is written.
std::string first_free_path(const std::string& stamped)
{
  return files::numbered_path(stamped, files::first_free_number(stamped)).string();
}

// Starts a workbook for `stamped`, lets `write` fill it and writes it; returns the name it was
// written under ("_2", "_3", ... before ".xlsx" when the stamped name is taken, also by a report
// written at the same time). When anything fails the workbook is dropped unwritten, so no
// half-written report is left and nothing that stood at a path is touched; the failure passes
// on.
// Every sheet is written top to bottom, row by row, so the rows need not all stay in memory
// until the end; the rows wait in scratch files in `scratch_folder` (empty: $TMPDIR).
template <class Write>
std::string write_workbook(const std::string& stamped, const std::filesystem::path& scratch_folder,
                           Write&& write)
{
  xlsx::Workbook writer(stamped, {.constant_memory = true, .scratch_folder = scratch_folder});
  try {
    write(writer);
  } catch (...) {
    writer.discard();
    throw;
  }
  return writer.close().string();
}

const std::vector<std::string>& variable_issue_headers()
{
  static const std::vector<std::string> headers{"变量名",   "建议名称", "问题描述", "作用域",
                                                "类型",     "是否数组", "文件路径", "行号",
                                                "所在函数", "引用次数", "涉及文件数", "是否常量"};
  return headers;
}

// The row of `variable` on a variable issue sheet, made in `row` (its earlier cells replaced).
void variable_issue_row(const VariableInfo& variable, ReferenceCounts& counts,
                        std::vector<Value>& row)
{
  const ReferenceCounts::Counts found = counts.of(variable);
  row.assign({
    variable.name,
    or_empty(variable.correct_name),
    issue_text(variable.issue_description, variable.name, variable.correct_name),
    std::string(brimsel::to_string(variable.scope)),
    std::string(brimsel::to_string(variable.var_type)),
    yes_no(variable.is_array),
    variable.file_path,
    std::int64_t{variable.line_number},
    or_empty(variable.function_name),
    found.references,
    found.files,
    yes_no(variable.is_const),
  });
}

template <class List>
std::int64_t total_size(const text::OrderedMap<std::string, List>& lists)
{
  std::int64_t total = 0;
  for (const auto& [key, list] : lists) {
    total += static_cast<std::int64_t>(list.size());
  }
  return total;
}

} // namespace

Parvine::Parvine() : Parvine([] { return std::chrono::system_clock::now(); }) {}

Parvine::Parvine(Clock clock) : m_clock(std::move(clock)) {}

std::string report_file_path(const std::string& output_dir, std::string_view prefix,
                             std::chrono::system_clock::time_point time)
{
  const std::string file_name =
    std::string(prefix) + brimsel::local_time_text(time, "%Y%m%d_%H%M%S") + ".xlsx";
  return (std::filesystem::path(output_dir) / file_name).string();
}

std::string Parvine::stamped_path(const std::string& output_dir, std::string_view prefix) const
{
  return report_file_path(output_dir, prefix, m_clock());
}

std::string Parvine::generate_dry_run_report(const brimsel::ProgressCallback& update_progressbar,
                                             const brimsel::VBAParser& parser,
                                             const std::string& output_dir,
                                             const std::filesystem::path& scratch_folder) const
{
  const std::string stamped = stamped_path(output_dir, "Brimsel_Report_");
  print_line("正在生成dry-run报告: " + first_free_path(stamped));
  const brimsel::AllIssues all_issues = parser.get_all_variable_issues();
  update_progressbar(10);

  const std::string path = write_workbook(stamped, scratch_folder, [&](xlsx::Workbook& writer) {
    const References& references = parser.variable_references;
    write_variable_issues_sheet(writer, all_issues.global_variables, "Global Variables",
                                references);
    update_progressbar(20);
    write_variable_issues_sheet(writer, all_issues.module_variables, "Module Variables",
                                references);
    update_progressbar(30);
    write_variable_issues_sheet(writer, all_issues.local_variables, "Local Variables",
                                references);
    update_progressbar(40);
    write_type_issues_sheet(writer, all_issues.type_definitions, "Type Definitions");
    update_progressbar(50);
    write_type_issues_sheet(writer, all_issues.enum_definitions, "Enum Definitions");
    update_progressbar(60);
    write_function_issues_sheet(writer, parser.functions, "Function Parameters");
    update_progressbar(70);
    write_summary_sheet(writer, all_issues, parser);
    update_progressbar(80);
    write_manual_check_sheet(writer, parser, "Manual Check Required");
    update_progressbar(90);
  });

  print_line("Dry-run报告已生成: " + path);
  return path;
}

std::string Parvine::generate_refactor_report(const brimsel::ChangesMade& changes_made,
                                              const std::string& output_dir,
                                              const std::filesystem::path& scratch_folder) const
{
  const std::string stamped = stamped_path(output_dir, "VBT_Refactor_Report_");
  print_line("正在生成重构报告: " + first_free_path(stamped));
  const std::string path = write_workbook(stamped, scratch_folder, [&](xlsx::Workbook& writer) {
    write_refactor_changes_sheet(writer, changes_made, "Refactor Changes");
    write_refactor_summary_sheet(writer, changes_made, "Refactor Summary");
  });
  print_line("重构报告已生成: " + path);
  return path;
}

void Parvine::write_variable_issues_sheet(xlsx::Workbook& writer,
                                          const std::vector<const VariableInfo*>& variables,
                                          std::string_view sheet_name,
                                          const References& references)
{
  // The sheet can be long: its rows are written as they are made.
  if (variables.empty()) {
    return;
  }
  ReferenceCounts counts(references);
  TableSheetWriter sheet(writer, sheet_name, variable_issue_headers());
  std::vector<Value> row;
  for (const VariableInfo* variable : variables) {
    variable_issue_row(*variable, counts, row);
    sheet.add_row(row);
  }
  sheet.fit_column_widths();
}

void Parvine::write_type_issues_sheet(xlsx::Workbook& writer,
                                      const std::vector<const TypeInfo*>& types,
                                      std::string_view sheet_name)
{
  write_sheet(writer, sheet_name, type_issue_rows(types), Fit::yes);
}

void Parvine::write_function_issues_sheet(xlsx::Workbook& writer, const Functions& functions,
                                          std::string_view sheet_name)
{
  write_sheet(writer, sheet_name, function_issue_rows(functions), Fit::yes);
}

void Parvine::write_summary_sheet(xlsx::Workbook& writer, const brimsel::AllIssues& all_issues,
                                  const brimsel::VBAParser& parser)
{
  write_sheet(writer, "Summary", summary_rows(all_issues, parser), Fit::no);
}

void Parvine::write_manual_check_sheet(xlsx::Workbook& writer, const brimsel::VBAParser& parser,
                                       std::string_view sheet_name)
{
  write_sheet(writer, sheet_name, manual_check_rows(parser), Fit::yes);
}

void Parvine::write_refactor_changes_sheet(xlsx::Workbook& writer,
                                           const brimsel::ChangesMade& changes_made,
                                           std::string_view sheet_name)
{
  write_sheet(writer, sheet_name, refactor_change_rows(changes_made), Fit::no);
}

void Parvine::write_refactor_summary_sheet(xlsx::Workbook& writer,
                                           const brimsel::ChangesMade& changes_made,
                                           std::string_view sheet_name)
{
  write_sheet(writer, sheet_name, refactor_summary_rows(changes_made), Fit::no);
}

ReferenceCounts::ReferenceCounts(const References& references) : m_references(references) {}

ReferenceCounts::Counts ReferenceCounts::of(const VariableInfo& variable)
{
  const auto found = m_references.find(variable.original_name);
  if (found == m_references.end()) {
    return {};
  }
  // The key's text lives in the map, which is only read, so a view of it can be the key here.
  const std::string_view name = found->first;
  auto counted = m_names.find(name);
  if (counted == m_names.end()) {
    counted = m_names.emplace(name, count_name(found->second)).first;
  }
  const NameCounts& counts = counted->second;
  const bool own_procedure_only = variable.scope == brimsel::VariableScope::LOCAL
                                  && variable.function_name.has_value()
                                  && !variable.function_name->empty();
  if (!own_procedure_only) {
    return {counts.references, counts.files};
  }
  const auto in_procedure = counts.per_procedure.find(*variable.function_name);
  return {in_procedure == counts.per_procedure.end() ? 0 : in_procedure->second, counts.files};
}

ReferenceCounts::NameCounts
ReferenceCounts::count_name(const std::vector<VariableReference>& references)
{
  NameCounts counts;
  counts.references = static_cast<std::int64_t>(references.size());
  std::unordered_set<std::string_view> files;
  const brimsel::SharedText* previous_file = nullptr;
  for (const VariableReference& reference : references) {
    // References come file by file; the set is asked only when the file changes.
    if (previous_file == nullptr || !(*previous_file == reference.file_path)) {
      files.insert(reference.file_path.str());
      previous_file = &reference.file_path;
    }
    if (reference.function_name) {
      ++counts.per_procedure[*reference.function_name];
    }
  }
  counts.files = static_cast<std::int64_t>(files.size());
  m_entries_walked += references.size();
  return counts;
}

Table variable_issue_rows(const std::vector<const VariableInfo*>& variables,
                          const References& references)
{
  ReferenceCounts counts(references);
  return variable_issue_rows(variables, counts);
}

Table variable_issue_rows(const std::vector<const VariableInfo*>& variables,
                          ReferenceCounts& counts)
{
  Table table{variable_issue_headers(), {}};
  table.rows.reserve(variables.size());
  for (const VariableInfo* variable : variables) {
    variable_issue_row(*variable, counts, table.rows.emplace_back());
  }
  return table;
}

Table type_issue_rows(const std::vector<const TypeInfo*>& types)
{
  Table table{{"名称", "建议名称", "问题描述", "类型", "作用域", "引用次数", "涉及文件数",
               "文件路径", "行号"},
              {}};
  for (const TypeInfo* type : types) {
    table.rows.push_back({
      type->name,
      or_empty(type->correct_name),
      issue_text(type->issue_description, type->name, type->correct_name),
      type->info_type,
      capitalized(type->scope),
      std::int64_t{type->reference_count},
      static_cast<std::int64_t>(type->referenced_files.size()),
      type->file_path,
      std::int64_t{type->line_number},
    });
  }
  return table;
}

Table function_issue_rows(const Functions& functions)
{
  static const text::Regex name_pattern(R"(参数\s+'([^']+)':)", {.unicode = true});
  static const text::Regex suggestion_pattern(R"(建议改为:\s*'([^']*)')", {.unicode = true});
  static constexpr std::string_view suggestion_start = " (建议改为:";

  Table table{{"参数名", "建议名称", "问题描述", "函数名", "函数类型", "类型", "文件路径", "行号",
               "所在函数"},
              {}};
  for (const auto& [key, function] : functions) {
    for (const std::string& issue : function.issues) {
      if (issue.find("参数") == std::string::npos) {
        continue;
      }
      const auto name = name_pattern.search(issue);
      const auto suggestion = suggestion_pattern.search(issue);
      const std::size_t cut = issue.find(suggestion_start);
      table.rows.push_back({
        name ? name->str(1) : std::string("Unknown"),
        suggestion ? suggestion->str(1) : std::string(),
        issue.substr(0, cut),
        function.name,
        std::string(brimsel::to_string(function.func_type)),
        std::string("函数参数"),
        function.file_path,
        std::int64_t{function.start_line},
        function.name,
      });
    }
  }
  return table;
}

Table summary_rows(const brimsel::AllIssues& all_issues, const brimsel::VBAParser& parser)
{
  const auto size = [](const auto& list) { return static_cast<std::int64_t>(list.size()); };
  const std::int64_t globals = size(all_issues.global_variables);
  const std::int64_t modules = size(all_issues.module_variables);
  const std::int64_t locals = size(all_issues.local_variables);
  const std::int64_t types = size(all_issues.type_definitions);
  const std::int64_t enums = size(all_issues.enum_definitions);
  return Table{{"检查项目", "发现问题数", "总数量"},
               {
                 {std::string("全局变量"), globals, size(parser.global_variables)},
                 {std::string("模块变量"), modules, total_size(parser.module_variables)},
                 {std::string("局部变量"), locals, total_size(parser.local_variables)},
                 {std::string("Type定义"), types, size(parser.types)},
                 {std::string("Enum定义"), enums, size(parser.enums)},
                 {std::string("总计"), globals + modules + locals + types + enums,
                  std::string("N/A")},
               }};
}

Table manual_check_rows(const brimsel::VBAParser& parser)
{
  Table table{{"检查类型", "文件路径", "行号", "问题描述", "建议操作"}, {}};

  for (const VariableInfo& variable : parser.global_variables) {
    if (variable.var_type == brimsel::VariableType::VARIANT && !variable.is_const
        && variable.name != "site") {
      table.rows.push_back({
        std::string("变量类型判断"),
        variable.file_path,
        std::int64_t{variable.line_number},
        "变量 '" + variable.name + "' 为Variant类型，请确认是否为正确类型",
        std::string("确认变量类型，如有需要请手动更改变量声明"),
      });
    }
  }

  std::set<std::string_view> seen_names;
  for (const VariableInfo& variable : parser.global_variables) {
    if (!seen_names.insert(variable.name).second) {
      table.rows.push_back({
        std::string("变量名冲突"),
        variable.file_path,
        std::int64_t{variable.line_number},
        "变量名 '" + variable.name + "' 可能与其他变量冲突",
        std::string("检查是否存在命名冲突，考虑重命名"),
      });
    }
  }

  for (const auto& [key, function] : parser.functions) {
    const std::int64_t line_count =
      std::int64_t{function.end_line} - std::int64_t{function.start_line} + 1;
    if (line_count > k_max_function_lines) {
      table.rows.push_back({
        std::string("函数长度"),
        function.file_path,
        std::int64_t{function.start_line},
        "函数 '" + function.name + "' 长度为 " + text::format_int(line_count) + " 行，超过建议的"
          + text::format_int(k_max_function_lines) + "行",
        std::string("考虑将函数分解为更小的函数"),
      });
    }
  }
  return table;
}

Table refactor_change_rows(const brimsel::ChangesMade& changes_made)
{
  Table table{{"修改类型", "文件路径", "行号", "原名称", "新名称", "修改描述", "修改时间"}, {}};
  for (const auto& [change_type, changes] : changes_made) {
    for (const brimsel::RenameChange& change : changes) {
      table.rows.push_back({
        change_type,
        change.file_path,
        std::int64_t{change.line_number},
        change.original_name,
        change.new_name,
        change.description,
        change.timestamp,
      });
    }
  }
  return table;
}

Table refactor_summary_rows(const brimsel::ChangesMade& changes_made)
{
  Table table{{"修改类型", "修改数量"}, {}};
  std::int64_t total_changes = 0;
  for (const auto& [change_type, changes] : changes_made) {
    const auto count = static_cast<std::int64_t>(changes.size());
    total_changes += count;
    table.rows.push_back({change_type, count});
  }
  table.rows.push_back({std::string("总计"), total_changes});
  return table;
}

} // namespace tarnwick::parvine

extern "C" {

void tarnwick_parvine_generate_dry_run_report(
  const tarnwick::brimsel::ProgressCallback& update_progressbar,
  const tarnwick::brimsel::VBAParser& parser, const std::string& output_dir,
  const std::filesystem::path& scratch_folder, std::string& path)
{
  path = tarnwick::parvine::Parvine().generate_dry_run_report(update_progressbar, parser,
                                                              output_dir, scratch_folder);
}

void tarnwick_parvine_generate_refactor_report(const tarnwick::brimsel::ChangesMade& changes_made,
                                               const std::string& output_dir,
                                               const std::filesystem::path& scratch_folder,
                                               std::string& path)
{
  path = tarnwick::parvine::Parvine().generate_refactor_report(changes_made, output_dir,
                                                               scratch_folder);
}
}

// The loader calls the entry points through these types; a signature that drifts apart fails
// to compile here.
static_assert(std::is_same_v<decltype(&tarnwick_parvine_generate_dry_run_report),
                             tarnwick::brimsel::DryRunReportEntry>);
static_assert(std::is_same_v<decltype(&tarnwick_parvine_generate_refactor_report),
                             tarnwick::brimsel::RefactorReportEntry>);
