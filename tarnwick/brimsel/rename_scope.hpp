#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/module_model.hpp"
#include "tarnwick/brimsel/parser.hpp"

namespace tarnwick::brimsel {

// Whether a rename can be applied: both names are identifiers ([A-Za-z][A-Za-z0-9_]*). A
// header that the declaration rules list as a variable ("Property Get Value"), blanks or a
// name with its bounds would otherwise rewrite whatever text it matches.
TARNWICK_BRIMSEL_EXPORT bool is_valid_rename(std::string_view old_name, std::string_view new_name);

// One rename of a variable, constant, Type or Enum, named by its declaration.
struct ScopedRename
{
  // "type_definition" or "enum_definition" for a Type or Enum; any other type ("global_variable",
  // "module_variable", "local_variable") names a variable, whose scope is read from its
  // declaration line, whatever list the record came from.
  std::string change_type;
  std::string file_path;        // the declaring file: a key of the parser's `files`
  std::int64_t line_number = 0; // the declaration or header line, from 1
  std::string original_name;    // as written in the declaration
  std::string new_name;
};

enum class RenameOutcome
{
  renamed,   // its declaration and every use carry the new name
  unchanged, // made, but no text changed (the new name is the old one)
  merged,    // another rename of the same variable came first and gave its new name
  refused,   // not made at all: it cannot be made safely in its scope
};

// What became of one rename.
struct RenameResult
{
  RenameOutcome outcome = RenameOutcome::unchanged;
  std::string reason;             // for `refused` and `merged`: one line saying why
  std::vector<std::size_t> files; // indices into ScopedRewrite::files of the files it changed
  std::vector<std::uint32_t> first_lines; // per entry of `files`: the first line it changed there
};

// One parsed file as the renames leave it.
struct ScopedFile
{
  std::string path;                           // a key of the parser's `files`
  const SourceLines* parsed = nullptr;        // its lines as the parser read them
  std::vector<std::pair<std::size_t, std::string>> changed; // (line index, new text), in order
  // The renames that concern it, in order: those it declares that were not refused, and those
  // declared elsewhere that changed it.
  std::vector<std::size_t> renames;

  // Its lines with the renames made.
  TARNWICK_BRIMSEL_EXPORT SourceLines lines() const;
};

struct ScopedRewrite
{
  // Every file that declares a rename, in order of its first rename, then every other file
  // that a rename changed, in parse order.
  std::vector<ScopedFile> files;
  std::vector<RenameResult> results; // per rename, in order
};

// Why the file at a path cannot be rewritten, or nothing when it can.
using RewriteCheck = std::function<std::optional<std::string>(const std::string& path)>;

// Makes `renames` on the lines of `parser` and of the modules of `class_and_form`, each exactly
// where the VBA name it declares is meant, and nowhere else:
// - a local (or a name declared inside a Function, Sub or Property block) inside that block;
// - a module-level variable or constant on every line of its module, except inside the
//   procedures that declare a local or parameter of that name; a Public or Global one also in
//   every other module (standard, class or form) under the same rule, unless that module
//   declares the name itself (a variable, constant or member, a procedure, Declare or Enum
//   member, a form's control); a Type or Enum likewise, a Private one in its module only;
// - names are matched ignoring case, as VBA does, and in the declaring module's comments as
//   written; never in a module's header (VERSION line, designer block, Attribute lines), in
//   string literals, after "." or "!" (unless the declaring module's name qualifies it: its
//   VB_Name, or else its file name), before ":=", in the parameters of other procedures and
//   Declare statements, in procedure, Type and Enum names, on "#If" lines, nor where the word
//   belongs to a statement (the keywords, Line Input, Open ... For ... As, Input #, Print #,
//   Name ... As, ...).
// A rename that cannot be made so (its name also stands as a statement word or a procedure
// name in its scope, its new name is already used there, ...) is refused as a whole. Renames
// of one variable (declarations in two "#If" branches) share the first one's new name. A
// rename that changes several files is made in all of them or in none: when `cannot_rewrite`
// gives a reason for one of them, it is refused with "文件 <path> 不能修改 (<reason>)" (asked
// once per file, and only for such files); a Public or Global one is refused so while a module
// of `class_and_form` could not be read. The parser's tables are only read.
TARNWICK_BRIMSEL_EXPORT ScopedRewrite
rename_in_scope(const VBAParser& parser, const std::vector<ScopedRename>& renames,
                const RewriteCheck& cannot_rewrite = {},
                const ClassAndFormModules& class_and_form = {});

} // namespace tarnwick::brimsel
