#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/records.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::brimsel {

// Lines of one source file, each with its LF (the last may have none).
using SourceLines = std::vector<std::string>;
// Records of one list. A deque: records never move once stored, so pointers handed out by
// get_all_variable_issues stay valid while the parser lives, also across another parse_files.
using VariableList = std::deque<VariableInfo>;

// The parser's own records that carry an issue, by table, each list in table order.
struct AllIssues
{
  std::vector<const VariableInfo*> global_variables;
  std::vector<const VariableInfo*> module_variables;
  std::vector<const VariableInfo*> local_variables;
  std::vector<const TypeInfo*> type_definitions;
  std::vector<const TypeInfo*> enum_definitions;
};

// `line` up to the first apostrophe that is not inside a double-quoted string literal, without
// trailing white space: the text that declaration tests and the declaration parse look at.
// `Const A As String = "it's" ' note` gives `Const A As String = "it's"`.
TARNWICK_BRIMSEL_EXPORT std::string strip_trailing_comment(std::string_view line);

// Reader of the VBA source modules (".bas" files) of a test program's VBT code. One parser
// serves one run; its tables are filled by parse_files and read in place afterwards.
// Keys of the composite maps are the file path, ":" and a procedure, Type or Enum name; the
// file path is the text the directory walk built (the given folder joined with the names).
class TARNWICK_BRIMSEL_EXPORT VBAParser
{
public:
  // The 44 VBA keywords that are never references (exact case).
  static const std::set<std::string, std::less<>> vba_keywords;

  // Every table starts empty.
  VBAParser();

  // file path -> the file's lines.
  text::OrderedMap<std::string, SourceLines> files;
  // Records of scope GLOBAL in reading order.
  VariableList global_variables;
  // file path -> MODULE_PRIVATE records declared outside procedures.
  text::OrderedMap<std::string, VariableList> module_variables;
  // file path + ":" + procedure name -> LOCAL records of that procedure.
  text::OrderedMap<std::string, VariableList> local_variables;
  // file path + ":" + procedure name -> the procedure, in the order procedures were closed.
  text::OrderedMap<std::string, FunctionInfo> functions;
  // file path + ":" + Type name -> the Type block.
  text::OrderedMap<std::string, TypeInfo> types;
  // file path + ":" + Enum name -> the Enum block.
  text::OrderedMap<std::string, TypeInfo> enums;
  // variable name as written -> its references, in order of first reference.
  text::OrderedMap<std::string, std::vector<VariableReference>> variable_references;
  // The folders given to parse_files, in order; the renames also read the class and form
  // modules under them.
  std::vector<std::string> directories;

  // Finds every ".bas" file (any case) under `directory_path`, files of a folder before its
  // subfolders, and parses them; then collects references and checks parameters. Prints its
  // progress lines to standard output. A file that fails gets one error line; a missing folder
  // counts 0 files. Adds to the tables: a second call adds everything again.
  void parse_files(const std::string& directory_path);

  // The line walk of one file: procedures, Type and Enum headers, declarations.
  void parse_file(const std::string& file_path, const SourceLines& lines);

  // Whether the stripped line `line` opens a Function or Sub (not Static, Property, Declare).
  static bool is_function_definition(std::string_view line);
  // Whether the stripped line `line` is a declaration line (Public, Private, Global, Dim or
  // Const and white space, and no procedure header); a trailing comment plays no part.
  static bool is_variable_declaration(std::string_view line);

  // Reads the declaration line `line` (stripped; a trailing comment is ignored), judges every
  // name and stores the records. `function_name` is the open procedure or std::nullopt at
  // module level. A line it cannot read stores nothing; an error prints one line.
  void parse_variable_declaration(std::string_view line, const std::string& file_path, int line_num,
                                  const std::optional<std::string>& function_name);
  // The member of a declared type name, ignoring case; VARIANT for an unknown name.
  static VariableType parse_variable_type(std::string_view type_str);

  // The record of the procedure header `line`; the "unknown" record when it cannot be read.
  static FunctionInfo parse_function_definition(std::string_view line, const std::string& file_path,
                                                int line_num);
  // The parameters of the text between a header's brackets, in order.
  static std::vector<FunctionParameter> parse_function_parameters(std::string_view params_str);
  // Reads a Type or Enum header and stores its record in `types` or `enums`; a header it
  // cannot read stores nothing. `all_lines` is not read.
  void parse_type_definition(std::string_view line, const SourceLines& all_lines, int line_num,
                             const std::string& file_path);
  void parse_enum_definition(std::string_view line, const SourceLines& all_lines, int line_num,
                             const std::string& file_path);

  // Runs the parameter rule over every parameter of every stored procedure and appends the
  // issue texts ("参数 'x': ... (建议改为: 'y')") to the procedure's `issues`.
  void check_function_parameters();
  // Records every reference of a declared variable name and counts Type and Enum references.
  void collect_variable_references();
  // Counts, per Type and Enum name, the lines that name it and their files.
  void collect_type_enum_references();

  // The references stored for exactly `var_name`; an empty list when there are none.
  const std::vector<VariableReference>& get_variable_references(const std::string& var_name) const;

  // The parser's records whose `issue_description` is present and not empty. Built anew on
  // every call; the pointers stay valid while the parser lives.
  AllIssues get_all_variable_issues() const;

private:
  void parse_header_block(std::string_view line, int line_num, const std::string& file_path,
                          bool is_enum);
};

} // namespace tarnwick::brimsel
