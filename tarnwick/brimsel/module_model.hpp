#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/vba_lexer.hpp"
#include "tarnwick/text/ordered_map.hpp"

// What each word of a VBA module is, as the rename scope rules see it.
namespace tarnwick::brimsel {

enum class Role : std::uint8_t
{
  use,               // a name in an expression
  member,            // directly after "." or "!"
  named_argument,    // before ":="
  statement_word,    // a reserved word, or a word of a statement in its place
  type_name,         // after As (or As New) in a declaration, header or Type member
  declared,          // the name that a Dim, Static, Const, Public, Private or Global item declares
  parameter,         // a parameter of a Function, Sub or Property
  foreign_parameter, // a parameter of a Declare or Event statement
  procedure_name,    // the name of a Function, Sub, Property, Declare or Event
  block_name,        // a Type or Enum name in its header
  type_member,       // a member of a Type block
  enum_member,       // a member of an Enum block
  label,             // a line label or the target of GoTo, GoSub or Resume
  directive,         // a word of a "#If", "#Const", ... line
  comment,           // a word in a comment
  control,           // a control of a form: named in its designer block, or by an event procedure
};

enum class ModuleKind : std::uint8_t
{
  standard,     // ".bas"
  class_module, // ".cls"
  form,         // ".frm"
};

// The kind of module the file at `path` holds, by its extension in any case: ".cls" a class,
// ".frm" a form, anything else a standard module.
TARNWICK_BRIMSEL_EXPORT ModuleKind module_kind_of(std::string_view path);

inline constexpr std::uint32_t k_none = std::numeric_limits<std::uint32_t>::max();

// One word of interest (one whose lower-cased text is an old or new name of a rename).
struct Token
{
  std::uint32_t line = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t qualifier = k_none; // a member after "Name.": index into FileScan::qualifiers
  Role role = Role::use;
  bool is_public = false; // a module-level declaration with Public or Global, a public Type/Enum
};

// A Function, Sub or Property block: its header line to its end line (indices, inclusive).
struct Extent
{
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

struct FileScan
{
  const std::string* path = nullptr;
  const SourceLines* lines = nullptr;
  ModuleKind kind = ModuleKind::standard; // set by scan_module from the path
  // Lower-cased: its Attribute VB_Name, or else its file name without the extension.
  std::string module_name;
  // The first line after its header (VERSION line, designer block, Attribute lines), which no
  // word is taken from and which a rename never changes.
  std::uint32_t code_start = 0;
  std::vector<Extent> procedures;
  std::vector<std::int32_t> procedure_of_line; // -1 at module level
  std::vector<Token> tokens;
  std::vector<std::string> qualifiers; // lower-cased
  NameMap<std::vector<std::uint32_t>> by_name; // lower-cased word -> its tokens, in order

  std::string_view text(const Token& token) const
  {
    return std::string_view((*lines)[token.line]).substr(token.offset, token.length);
  }
  std::int32_t procedure_of(const Token& token) const { return procedure_of_line[token.line]; }
  const std::vector<std::uint32_t>* named(std::string_view lower) const
  {
    const auto found = by_name.find(lower);
    return found == by_name.end() ? nullptr : &found->second;
  }
  // The tokens named `lower` on the lines `first` to `last`, found by halving (a name's tokens
  // are in line order).
  std::vector<std::uint32_t> named_on(std::string_view lower, std::uint32_t first,
                                      std::uint32_t last) const
  {
    const std::vector<std::uint32_t>* all = named(lower);
    if (all == nullptr) {
      return {};
    }
    const auto by_line = [&](std::uint32_t t, std::uint32_t line) { return tokens[t].line < line; };
    const auto begin = std::lower_bound(all->begin(), all->end(), first, by_line);
    const auto end = std::lower_bound(begin, all->end(), last + 1, by_line);
    return {begin, end};
  }
};

// Modules the parse does not read: the class and form modules of the parsed folders.
struct ClassAndFormModules
{
  text::OrderedMap<std::string, SourceLines> files; // path -> lines, as the parser reads a file
  std::vector<std::pair<std::string, std::string>> unreadable; // (path, why it cannot be read)
};

// The class and form modules (".cls", ".frm", any case) under each of `directories`, found as
// the parser finds ".bas" files (a folder's files before its subfolders, links to folders not
// followed, each path once) and read as it reads them (line ends made LF, invalid UTF-8 bytes
// dropped). A module that cannot be read (UTF-16 text, no permission, ...) gets a line on
// standard output and a place in `unreadable`.
TARNWICK_BRIMSEL_EXPORT ClassAndFormModules
read_class_and_form_modules(const std::vector<std::string>& directories);

// Fills `scan` (whose `path` and `lines` are set) in one pass over its lines: its kind, name and
// header, its procedures and the role of every word whose lower-cased text is in `interesting`.
// In a form, the controls of its designer block are `control` words in the header, and the
// name before the event of an event procedure ("Total" of "Total_Change") one in the code.
TARNWICK_BRIMSEL_EXPORT void scan_module(FileScan& scan, const NameSet& interesting);

} // namespace tarnwick::brimsel
