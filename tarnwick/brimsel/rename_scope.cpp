#include "tarnwick/brimsel/rename_scope.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "tarnwick/brimsel/module_model.hpp"
#include "tarnwick/brimsel/vba_lexer.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace tarnwick::brimsel {

namespace {

// ---------------------------------------------------------------------------------------------
// Renames

enum class Kind
{
  local,  // inside one procedure
  module, // a Private (Dim, Const) module-level variable
  global, // a Public or Global module-level variable
  block,  // a Type or Enum; `is_public` tells whether other modules see it
};

struct TokenRef
{
  std::uint32_t file = 0;
  std::uint32_t token = 0;
  bool operator==(const TokenRef&) const = default;
};

struct TokenRefHash
{
  std::size_t operator()(const TokenRef& ref) const
  {
    return std::hash<std::uint64_t>{}((std::uint64_t{ref.file} << 32) | ref.token);
  }
};

// One variable, Type or Enum that renames name, with what it would change.
struct Target
{
  Kind kind = Kind::local;
  bool is_public = false;
  std::uint32_t file = 0;
  std::int32_t procedure = -1;
  std::string lower;     // the old name, lower-cased
  std::string name;      // the old name as its first rename writes it
  std::string new_name;  // of its first rename
  std::string new_lower; // lower-cased
  std::uint32_t declaration_line = 0; // of its first rename
  std::vector<std::size_t> renames;
  std::vector<TokenRef> claims; // the words it renames
  bool refused = false;
  std::string reason;
};

// Whether every module sees `target`: a Public or Global variable, a public Type or Enum.
bool seen_everywhere(const Target& target)
{
  return target.kind == Kind::global || (target.kind == Kind::block && target.is_public);
}

class Renamer
{
public:
  Renamer(const VBAParser& parser, const ClassAndFormModules& class_and_form,
          const std::vector<ScopedRename>& renames, const RewriteCheck& cannot_rewrite)
      : m_parser(parser), m_class_and_form(class_and_form), m_renames(renames),
        m_cannot_rewrite(cannot_rewrite)
  {}

  ScopedRewrite run()
  {
    m_result.results.resize(m_renames.size());
    scan_files();
    for (std::size_t i = 0; i < m_renames.size(); ++i) {
      find_target(i);
    }
    for (Target& target : m_targets) {
      claim(target);
    }
    settle();
    write();
    return std::move(m_result);
  }

private:
  void scan_files()
  {
    NameSet interesting;
    for (const ScopedRename& rename : m_renames) {
      interesting.insert(lowered(rename.original_name));
      interesting.insert(lowered(rename.new_name));
    }
    m_files.reserve(m_parser.files.size() + m_class_and_form.files.size());
    for (const auto* modules : {&m_parser.files, &m_class_and_form.files}) {
      for (const auto& [path, lines] : *modules) {
        if (m_file_of.contains(path)) {
          continue;
        }
        FileScan& scan = m_files.emplace_back();
        scan.path = &path;
        scan.lines = &lines;
        scan_module(scan, interesting);
        const auto file = static_cast<std::uint32_t>(m_files.size() - 1);
        m_file_of.emplace(path, file);
        for (const auto& [name, tokens] : scan.by_name) {
          m_files_with[name].push_back(file);
        }
      }
    }
  }

  void refuse(std::size_t rename, std::string reason)
  {
    m_result.results[rename] = {RenameOutcome::refused, std::move(reason), {}, {}};
  }

  // Where token `ref` stands, for a reason: "第 N 行", with the file when it is not `file`.
  std::string where(const TokenRef& ref, std::uint32_t file) const
  {
    const std::string line = "第 " + std::to_string(m_files[ref.file].tokens[ref.token].line + 1) + " 行";
    return ref.file == file ? line : *m_files[ref.file].path + " " + line;
  }

  // The declaration a rename names, and the target it renames.
  void find_target(std::size_t index)
  {
    const ScopedRename& rename = m_renames[index];
    // A cell holds at most 32,767 characters: a name that fills one may have been cut when the
    // report was written, and is not taken for the name it began.
    for (const std::string* name : {&rename.original_name, &rename.new_name}) {
      if (name->size() >= xlsx::k_max_text_length && text::length(*name) >= xlsx::k_max_text_length) {
        refuse(index, std::string(name == &rename.original_name ? "名称" : "新名称") + "有 "
                        + std::to_string(text::length(*name)) + " 个字符，达到报告单元格的 "
                        + std::to_string(xlsx::k_max_text_length)
                        + " 个字符上限，可能已被截断：不能重命名");
        return;
      }
    }
    if (!is_valid_rename(rename.original_name, rename.new_name)) {
      refuse(index, "名称不是标识符");
      return;
    }
    const auto file = m_file_of.find(rename.file_path);
    if (file == m_file_of.end()) {
      refuse(index, "文件不在解析结果中");
      return;
    }
    const FileScan& scan = m_files[file->second];
    const bool block = rename.change_type == "type_definition" || rename.change_type == "enum_definition";
    const std::string lower = lowered(rename.original_name);
    const std::string line_text = "第 " + std::to_string(rename.line_number) + " 行";
    std::optional<std::uint32_t> declaration;
    if (rename.line_number >= 1 && rename.line_number <= static_cast<std::int64_t>(scan.lines->size())) {
      const auto line = static_cast<std::uint32_t>(rename.line_number - 1);
      for (const std::uint32_t t : scan.named_on(lower, line, line)) {
        const Token& token = scan.tokens[t];
        if (token.role == (block ? Role::block_name : Role::declared)
            && scan.text(token) == rename.original_name) {
          declaration = t;
          break;
        }
      }
    }
    if (!declaration) {
      refuse(index, line_text + "没有 '" + rename.original_name + "' 的声明");
      return;
    }
    const Token& token = scan.tokens[*declaration];
    Target key;
    key.file = file->second;
    key.lower = lower;
    if (block) {
      key.kind = Kind::block;
      key.is_public = token.is_public;
    } else if (scan.procedure_of(token) >= 0) {
      key.kind = Kind::local;
      key.procedure = scan.procedure_of(token);
    } else {
      key.kind = Kind::module;
    }
    // One target per variable: its file, procedure (or module level), name, and whether it is
    // a Type or Enum.
    const std::string identity = std::to_string(key.file) + ":" + std::to_string(key.procedure)
                                 + (block ? ":block:" : ":") + lower;
    const auto [known, added] = m_target_of.emplace(identity, m_targets.size());
    if (!added) {
      Target& target = m_targets[known->second];
      target.renames.push_back(index);
      if (rename.new_name != target.new_name) {
        m_result.results[index] = {RenameOutcome::merged,
                                   "与第 " + std::to_string(target.declaration_line + 1)
                                       + " 行的声明是同一变量，统一改为 '" + target.new_name + "'",
                                   {}, {}};
      }
      return;
    }
    if (key.kind == Kind::module) {
      // One module-level variable however many declarations ("#If" branches) it has; Public
      // if any of them is.
      for (const std::uint32_t t : *scan.named(lower)) {
        const Token& other = scan.tokens[t];
        if (other.role == Role::declared && scan.procedure_of(other) < 0 && other.is_public) {
          key.kind = Kind::global;
        }
      }
    }
    key.name = rename.original_name;
    key.new_name = rename.new_name;
    key.new_lower = lowered(rename.new_name);
    key.declaration_line = token.line;
    key.renames.push_back(index);
    m_targets.push_back(std::move(key));
  }

  // The procedures of `scan` that declare a local or parameter `lower`.
  static std::unordered_set<std::int32_t> shadowing(const FileScan& scan, std::string_view lower)
  {
    std::unordered_set<std::int32_t> procedures;
    if (const auto* tokens = scan.named(lower)) {
      for (const std::uint32_t t : *tokens) {
        const Token& token = scan.tokens[t];
        if ((token.role == Role::declared || token.role == Role::parameter)
            && scan.procedure_of(token) >= 0) {
          procedures.insert(scan.procedure_of(token));
        }
      }
    }
    return procedures;
  }

  // Whether `scan` declares `lower` at module level: a variable or constant, a procedure or
  // Declare, an Enum member, a form's control.
  static bool declares_at_module_level(const FileScan& scan, std::string_view lower,
                                       bool* is_public = nullptr)
  {
    bool declares = false;
    if (const auto* tokens = scan.named(lower)) {
      for (const std::uint32_t t : *tokens) {
        const Token& token = scan.tokens[t];
        const bool module_level = scan.procedure_of(token) < 0;
        if (token.role == Role::procedure_name || token.role == Role::control
            || (module_level && (token.role == Role::declared || token.role == Role::enum_member))) {
          declares = true;
          // A class's or form's Public variable is a member of it, never a global.
          if (is_public != nullptr && token.role == Role::declared && token.is_public
              && scan.kind == ModuleKind::standard) {
            *is_public = true;
          }
        }
      }
    }
    return declares;
  }

  void refuse(Target& target, std::string reason)
  {
    if (!target.refused) {
      target.refused = true;
      target.reason = std::move(reason);
    }
  }

  // Refuses `target` when it changes several files and one of them cannot be rewritten, so
  // that the files keep agreeing on the name.
  void refuse_if_a_file_cannot_be_rewritten(Target& target)
  {
    if (!m_cannot_rewrite || target.refused || target.new_lower == target.lower) {
      return;
    }
    std::set<std::uint32_t> files;
    for (const TokenRef& ref : target.claims) {
      files.insert(ref.file);
    }
    if (files.size() < 2) {
      return;
    }
    for (const std::uint32_t file : files) {
      auto [checked, added] = m_rewrite_problem.try_emplace(file);
      if (added) {
        checked->second = m_cannot_rewrite(*m_files[file].path);
      }
      if (checked->second) {
        refuse(target, "文件 " + *m_files[file].path + " 不能修改 (" + *checked->second + ")");
        return;
      }
    }
  }

  // Refuses `target` because its old name is also `what` at `ref`.
  void refuse_as(Target& target, const TokenRef& ref, const char* what)
  {
    refuse(target, "'" + target.name + "' 也是" + what + " (" + where(ref, target.file) + ")");
  }

  // What every target does with a word of its name in its scope: renames a use or a
  // declaration, a comment word written as the old name in the declaring module (`own`), and
  // is refused for a statement word. Words of any other role are left alone.
  void take(Target& target, const TokenRef& ref, bool own)
  {
    const FileScan& scan = m_files[ref.file];
    const Token& token = scan.tokens[ref.token];
    switch (token.role) {
    case Role::use:
    case Role::declared:
      target.claims.push_back(ref);
      break;
    case Role::comment:
      if (own && scan.text(token) == target.name) {
        target.claims.push_back(ref);
      }
      break;
    case Role::statement_word:
      refuse(target, "'" + target.name + "' 在" + where(ref, target.file) + "是 VBA 语句的一部分");
      break;
    default:
      break;
    }
  }

  // Whether `token` of `scan` is a member qualified by the name of `target`'s module.
  bool qualified_by_module(const Target& target, const FileScan& scan, const Token& token) const
  {
    const std::string& module_name = m_files[target.file].module_name;
    return token.role == Role::member && token.qualifier != k_none && !module_name.empty()
           && scan.qualifiers[token.qualifier] == module_name;
  }

  // Finds the words `target` renames, or why it cannot be renamed.
  void claim(Target& target)
  {
    switch (target.kind) {
    case Kind::local:
      claim_local(target);
      break;
    case Kind::module:
    case Kind::global:
      claim_module_level(target);
      break;
    case Kind::block:
      claim_block(target);
      break;
    }
  }

  void claim_local(Target& target)
  {
    const FileScan& scan = m_files[target.file];
    const Extent extent = scan.procedures[static_cast<std::size_t>(target.procedure)];
    for (const std::uint32_t t : scan.named_on(target.lower, extent.first, extent.last)) {
      const TokenRef ref{target.file, t};
      switch (scan.tokens[t].role) {
      case Role::parameter:
        refuse_as(target, ref, "所在过程的参数");
        break;
      case Role::procedure_name:
        refuse_as(target, ref, "过程名");
        break;
      default:
        take(target, ref, true);
        break;
      }
    }
  }

  // The words of `file` that a module-level `target` renames: outside the procedures that
  // shadow it, and wherever its module's name qualifies it. `own`: the declaring module.
  // `unqualified` is set when a plain use is renamed.
  void claim_in_file(Target& target, std::uint32_t file, bool own, bool* unqualified = nullptr)
  {
    const FileScan& scan = m_files[file];
    const auto shadowed = shadowing(scan, target.lower);
    for (const std::uint32_t t : *scan.named(target.lower)) {
      const Token& token = scan.tokens[t];
      const TokenRef ref{file, t};
      const std::int32_t procedure = scan.procedure_of(token);
      if (qualified_by_module(target, scan, token)) {
        target.claims.push_back(ref);
      } else if (token.role == Role::member || (procedure >= 0 && shadowed.contains(procedure))) {
        continue;
      } else if (own && token.role == Role::procedure_name) {
        refuse_as(target, ref, "过程名");
      } else if (own && token.role == Role::enum_member) {
        refuse_as(target, ref, "枚举成员名");
      } else {
        if (unqualified != nullptr && token.role == Role::use) {
          *unqualified = true;
        }
        take(target, ref, own);
      }
    }
  }

  void claim_module_level(Target& target)
  {
    claim_in_file(target, target.file, true);
    if (target.kind != Kind::global) {
      return;
    }
    // Other modules: those that declare the name themselves keep their own, apart from uses
    // qualified by the declaring module's name.
    const std::string* other_public = nullptr;
    bool unqualified_elsewhere = false;
    for (const std::uint32_t file : m_files_with.at(target.lower)) {
      if (file == target.file) {
        continue;
      }
      const FileScan& scan = m_files[file];
      bool is_public = false;
      if (!declares_at_module_level(scan, target.lower, &is_public)) {
        claim_in_file(target, file, false, &unqualified_elsewhere);
        continue;
      }
      if (is_public && other_public == nullptr) {
        other_public = scan.path;
      }
      for (const std::uint32_t t : *scan.named(target.lower)) {
        if (qualified_by_module(target, scan, scan.tokens[t])) {
          target.claims.push_back({file, t});
        }
      }
    }
    if (other_public != nullptr && unqualified_elsewhere) {
      refuse(target, "'" + target.name + "' 在 " + *other_public
                         + " 中也声明为全局变量，其他模块中不带模块名的引用有歧义");
    }
  }

  void claim_block(Target& target)
  {
    for (const std::uint32_t file : m_files_with.at(target.lower)) {
      const FileScan& scan = m_files[file];
      const std::vector<std::uint32_t>& tokens = *scan.named(target.lower);
      const bool own = file == target.file;
      const bool defines_own = std::any_of(tokens.begin(), tokens.end(), [&](std::uint32_t t) {
        return scan.tokens[t].role == Role::block_name;
      });
      if (!own && (!target.is_public || defines_own)) {
        continue;
      }
      for (const std::uint32_t t : tokens) {
        const TokenRef ref{file, t};
        switch (scan.tokens[t].role) {
        case Role::type_name:
        case Role::block_name:
          target.claims.push_back(ref);
          break;
        case Role::declared:
        case Role::parameter:
          refuse_as(target, ref, "变量或参数名");
          break;
        default:
          take(target, ref, own);
          break;
        }
      }
    }
  }

  // Refuses, until nothing changes, the targets whose new name would meet a name already used
  // where it becomes visible, another target's new name in an overlapping scope, or a word
  // another target renames.
  void settle()
  {
    for (Target& target : m_targets) {
      if (!target.refused && target.new_lower != target.lower && is_reserved(target.new_lower)) {
        refuse(target, "新名称 '" + target.new_name + "' 是 VBA 关键字");
      }
      refuse_if_a_file_cannot_be_rewritten(target);
      // A module that could not be read may use a name seen in every module.
      const bool everywhere = seen_everywhere(target);
      if (everywhere && target.new_lower != target.lower && !m_class_and_form.unreadable.empty()) {
        const auto& [path, reason] = m_class_and_form.unreadable.front();
        refuse(target, "文件 " + path + " 不能修改 (" + reason + ")");
      }
    }
    for (bool changed = true; changed;) {
      changed = false;
      std::unordered_map<TokenRef, std::size_t, TokenRefHash> owner;
      for (std::size_t i = 0; i < m_targets.size(); ++i) {
        Target& target = m_targets[i];
        if (target.refused) {
          continue;
        }
        for (const TokenRef& ref : target.claims) {
          const auto [found, added] = owner.emplace(ref, i);
          if (!added && m_files[ref.file].tokens[ref.token].role != Role::comment) {
            refuse(target, "与 '" + m_targets[found->second].new_name + "' 的重命名作用域重叠 ("
                               + where(ref, target.file) + ")");
            changed = true;
            break;
          }
        }
      }
      if (changed) {
        continue;
      }
      for (Target& target : m_targets) {
        if (!target.refused && target.new_lower != target.lower) {
          if (const auto clash = clashing_word(target, owner)) {
            refuse(target, "新名称 '" + target.new_name + "' 在" + where(*clash, target.file)
                               + "已有同名的标识符");
            changed = true;
          }
        }
      }
      changed = refuse_repeated_new_names() || changed;
    }
  }

  // A word named like `target`'s new name where that name would become visible, that no other
  // target renames.
  std::optional<TokenRef>
  clashing_word(const Target& target,
                const std::unordered_map<TokenRef, std::size_t, TokenRefHash>& owner) const
  {
    const auto files = m_files_with.find(target.new_lower);
    if (files == m_files_with.end()) {
      return std::nullopt;
    }
    const bool everywhere = seen_everywhere(target);
    for (const std::uint32_t file : files->second) {
      if (!everywhere && file != target.file) {
        continue;
      }
      const FileScan& scan = m_files[file];
      Extent lines{0, static_cast<std::uint32_t>(scan.lines->size())};
      if (target.kind == Kind::local) {
        lines = scan.procedures[static_cast<std::size_t>(target.procedure)];
      }
      for (const std::uint32_t t : scan.named_on(target.new_lower, lines.first, lines.last)) {
        const Token& token = scan.tokens[t];
        switch (token.role) {
        case Role::member:
        case Role::named_argument:
        case Role::foreign_parameter:
        case Role::type_member:
        case Role::comment:
          continue;
        default:
          break;
        }
        const auto renamed = owner.find({file, t});
        if (renamed == owner.end() || m_targets[renamed->second].refused) {
          return TokenRef{file, t};
        }
      }
    }
    return std::nullopt;
  }

  // Two targets of different old names given one new name in scopes that meet: the later one
  // is refused. Same-named variables that all take one new name keep VBA's meaning.
  bool refuse_repeated_new_names()
  {
    struct Seen
    {
      bool everywhere = false;
      std::unordered_set<std::uint32_t> module_files; // a module-level target of that file
      std::unordered_set<std::uint32_t> local_files;  // a local of some procedure of that file
      std::unordered_set<std::uint64_t> procedures;   // file << 32 | procedure
    };
    NameMap<NameMap<Seen>> seen; // new name -> old name -> where targets take it
    bool changed = false;
    for (Target& target : m_targets) {
      if (target.refused) {
        continue;
      }
      NameMap<Seen>& by_old_name = seen[target.new_lower];
      const std::uint64_t procedure =
          (std::uint64_t{target.file} << 32) | static_cast<std::uint32_t>(target.procedure);
      const bool everywhere = seen_everywhere(target);
      bool meets = false;
      for (const auto& [old_name, same] : by_old_name) {
        if (old_name == target.lower) {
          continue;
        }
        if (target.kind == Kind::local) {
          meets = meets || same.everywhere || same.module_files.contains(target.file)
                  || same.procedures.contains(procedure);
        } else if (everywhere) {
          meets = meets || same.everywhere || !same.module_files.empty() || !same.local_files.empty();
        } else {
          meets = meets || same.everywhere || same.module_files.contains(target.file)
                  || same.local_files.contains(target.file);
        }
      }
      if (meets) {
        refuse(target, "新名称 '" + target.new_name + "' 与另一重命名的新名称在同一作用域中重复");
        changed = true;
        continue;
      }
      Seen& mine = by_old_name[target.lower];
      if (target.kind == Kind::local) {
        mine.local_files.insert(target.file);
        mine.procedures.insert(procedure);
      } else if (everywhere) {
        mine.everywhere = true;
      } else {
        mine.module_files.insert(target.file);
      }
    }
    return changed;
  }

  void write()
  {
    // The edits, and the files each target changes.
    struct Edit
    {
      std::uint32_t line;
      std::uint32_t offset;
      std::uint32_t length;
      const std::string* text;
    };
    std::vector<std::vector<Edit>> edits(m_files.size());
    // Per target: file -> the first line it changes there.
    std::vector<std::map<std::uint32_t, std::uint32_t>> first_line(m_targets.size());
    std::vector<bool> is_changed(m_files.size(), false);
    for (std::size_t i = 0; i < m_targets.size(); ++i) {
      const Target& target = m_targets[i];
      if (target.refused) {
        continue;
      }
      for (const TokenRef& ref : target.claims) {
        const FileScan& scan = m_files[ref.file];
        const Token& token = scan.tokens[ref.token];
        if (scan.text(token) != target.new_name) {
          edits[ref.file].push_back({token.line, token.offset, token.length, &target.new_name});
          is_changed[ref.file] = true;
          auto& first = first_line[i].try_emplace(ref.file, token.line).first->second;
          first = std::min(first, token.line);
        }
      }
    }

    // The declaring files in order of their first rename, then the other changed ones.
    constexpr std::size_t no_entry = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> entry_of(m_files.size(), no_entry);
    const auto add_entry = [&](std::size_t file) {
      if (entry_of[file] == no_entry) {
        entry_of[file] = m_result.files.size();
        m_result.files.push_back({*m_files[file].path, m_files[file].lines, {}, {}});
      }
    };
    for (const ScopedRename& rename : m_renames) {
      const auto file = m_file_of.find(rename.file_path);
      if (file != m_file_of.end()) {
        add_entry(file->second);
      }
    }
    for (std::size_t file = 0; file < m_files.size(); ++file) {
      if (is_changed[file]) {
        add_entry(file);
      }
    }

    for (std::size_t file = 0; file < m_files.size(); ++file) {
      std::vector<Edit>& list = edits[file];
      if (list.empty()) {
        continue;
      }
      std::sort(list.begin(), list.end(), [](const Edit& a, const Edit& b) {
        return a.line != b.line ? a.line < b.line : a.offset < b.offset;
      });
      std::vector<std::pair<std::size_t, std::string>>& lines = m_result.files[entry_of[file]].changed;
      for (std::size_t k = 0; k < list.size();) {
        const std::uint32_t line = list[k].line;
        const std::string& old_line = (*m_files[file].lines)[line];
        std::string renamed;
        std::size_t copied = 0;
        for (; k < list.size() && list[k].line == line; ++k) {
          renamed.append(old_line, copied, list[k].offset - copied);
          renamed.append(*list[k].text);
          copied = list[k].offset + list[k].length;
        }
        renamed.append(old_line, copied);
        lines.emplace_back(line, std::move(renamed));
      }
    }

    for (std::size_t i = 0; i < m_targets.size(); ++i) {
      const Target& target = m_targets[i];
      std::vector<std::pair<std::size_t, std::uint32_t>> entries; // (entry, first line)
      for (const auto& [file, line] : first_line[i]) {
        entries.emplace_back(entry_of[file], line);
      }
      std::sort(entries.begin(), entries.end());
      std::vector<std::size_t> files;
      std::vector<std::uint32_t> first_lines;
      for (const auto& [entry, line] : entries) {
        files.push_back(entry);
        first_lines.push_back(line);
      }
      for (const std::size_t index : target.renames) {
        RenameResult& result = m_result.results[index];
        if (target.refused) {
          result = {RenameOutcome::refused, target.reason, {}, {}};
        } else if (result.outcome != RenameOutcome::merged) {
          result = {files.empty() ? RenameOutcome::unchanged : RenameOutcome::renamed, "", files,
                    first_lines};
        }
      }
    }
    // The renames of each file: those it declares that were not refused, and those that
    // changed it.
    for (std::size_t index = 0; index < m_renames.size(); ++index) {
      const RenameResult& result = m_result.results[index];
      std::vector<std::size_t> files = result.files;
      const auto file = m_file_of.find(m_renames[index].file_path);
      if (result.outcome != RenameOutcome::refused && file != m_file_of.end()) {
        files.push_back(entry_of[file->second]);
      }
      std::sort(files.begin(), files.end());
      files.erase(std::unique(files.begin(), files.end()), files.end());
      for (const std::size_t f : files) {
        m_result.files[f].renames.push_back(index);
      }
    }
  }

  const VBAParser& m_parser;
  const ClassAndFormModules& m_class_and_form;
  const std::vector<ScopedRename>& m_renames;
  const RewriteCheck& m_cannot_rewrite;
  std::unordered_map<std::uint32_t, std::optional<std::string>> m_rewrite_problem; // by file
  std::vector<FileScan> m_files;
  NameMap<std::uint32_t> m_file_of;
  NameMap<std::vector<std::uint32_t>> m_files_with; // lower-cased word -> files that have it
  std::vector<Target> m_targets;
  NameMap<std::size_t> m_target_of; // identity -> index into m_targets
  ScopedRewrite m_result;
};

} // namespace

// ---------------------------------------------------------------------------------------------

bool is_valid_rename(std::string_view old_name, std::string_view new_name)
{
  return is_identifier(old_name) && is_identifier(new_name);
}

SourceLines ScopedFile::lines() const
{
  SourceLines lines = *parsed;
  for (const auto& [index, text] : changed) {
    lines[index] = text;
  }
  return lines;
}

ScopedRewrite rename_in_scope(const VBAParser& parser, const std::vector<ScopedRename>& renames,
                              const RewriteCheck& cannot_rewrite,
                              const ClassAndFormModules& class_and_form)
{
  return Renamer(parser, class_and_form, renames, cannot_rewrite).run();
}

} // namespace tarnwick::brimsel
