#include "tarnwick/brimsel/module_model.hpp"

#include <initializer_list>
#include <iostream>
#include <set>
#include <utility>

#include "tarnwick/brimsel/source_file.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::brimsel {

namespace {

// The events of forms and their controls, lower-cased, that an event procedure is named after.
const NameSet& control_events()
{
  static const NameSet events{
      "activate",   "addcontrol",  "afterupdate", "beforedragover", "beforedroporpaste",
      "beforeupdate", "change",    "click",       "dblclick",       "deactivate",
      "dropbuttonclick", "enter",  "error",       "exit",           "gotfocus",
      "initialize", "keydown",     "keypress",    "keyup",          "layout",
      "lostfocus",  "mousedown",   "mousemove",   "mouseup",        "queryclose",
      "removecontrol", "resize",   "scroll",      "spindown",       "spinup",
      "terminate",  "zoom"};
  return events;
}

// The file name of `path` without its extension.
std::string_view file_stem(std::string_view path)
{
  const std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// One pass over a module's lines that finds its procedures and the role of every word whose
// lower-cased text is in `interesting`.
class ModuleScanner
{
public:
  ModuleScanner(FileScan& scan, const NameSet& interesting) : m_scan(scan), m_interesting(interesting)
  {}

  void run()
  {
    const SourceLines& lines = *m_scan.lines;
    m_scan.kind = module_kind_of(*m_scan.path);
    m_scan.code_start = static_cast<std::uint32_t>(header());
    for (std::size_t i = m_scan.code_start; i < lines.size();) {
      std::size_t j = i;
      while (j + 1 < lines.size() && continues(lines[j])) {
        ++j;
      }
      m_segments.clear();
      if (i == j) {
        m_text = lines[i];
        m_segments.push_back({0, static_cast<std::uint32_t>(i)});
      } else {
        m_joined.clear();
        for (std::size_t k = i; k <= j; ++k) {
          m_segments.push_back(
              {static_cast<std::uint32_t>(m_joined.size()), static_cast<std::uint32_t>(k)});
          m_joined += lines[k];
        }
        m_text = m_joined;
      }
      m_first_line = static_cast<std::uint32_t>(i);
      m_last_line = static_cast<std::uint32_t>(j);
      logical_line();
      i = j + 1;
    }
    if (m_open >= 0) {
      close_procedure(lines.empty() ? 0 : static_cast<std::uint32_t>(lines.size() - 1));
    }
    m_scan.procedure_of_line.assign(lines.size(), -1);
    for (std::size_t p = 0; p < m_scan.procedures.size(); ++p) {
      const Extent& extent = m_scan.procedures[p];
      for (std::uint32_t line = extent.first; line <= extent.last && line < lines.size(); ++line) {
        m_scan.procedure_of_line[line] = static_cast<std::int32_t>(p);
      }
    }
    if (m_scan.module_name.empty()) {
      m_scan.module_name = lowered(file_stem(*m_scan.path));
    }
  }

private:
  // Reads the header: the VERSION line and "Object = ..." lines of a class or form, its BEGIN
  // ... END designer block (nested Begin/End and BeginProperty/EndProperty blocks inside), and
  // the Attribute lines; takes the module name from VB_Name and, in a form, a control from
  // each "Begin <Library>.<Type> <Name>" inside the form's own block. Returns the first line
  // after it.
  std::size_t header()
  {
    const SourceLines& lines = *m_scan.lines;
    int depth = 0;
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
      m_text = lines[i];
      m_segments.assign(1, {0, static_cast<std::uint32_t>(i)});
      lex_line(m_text, m_lex);
      if (depth > 0) {
        if (is(0, "begin") || is(0, "beginproperty")) {
          if (is(0, "begin") && m_scan.kind == ModuleKind::form && m_lex.size() >= 5
              && symbol(2, '.') && ident(m_lex.size() - 1)) {
            add(m_lex.size() - 1, Role::control);
          }
          ++depth;
        } else if (is(0, "end") || is(0, "endproperty")) {
          --depth;
        }
        continue;
      }
      if (is(0, "version") || (is(0, "object") && symbol(1, '='))) {
        continue;
      }
      if (is(0, "begin")) {
        ++depth;
        continue;
      }
      if (!is(0, "attribute")) {
        break;
      }
      if (is(1, "vb_name") && m_lex.size() >= 4 && m_lex[3].kind == Lex::string) {
        take_module_name(3);
      }
    }
    return i;
  }

  // The module name, lower-cased, from the string literal lexeme `i` without its quotes.
  void take_module_name(std::size_t i)
  {
    const std::string_view quoted = word(i);
    m_scan.module_name = lowered(quoted.substr(1, quoted.size() >= 2 ? quoted.size() - 2 : 0));
  }

  enum class Block
  {
    none,
    type,
    enumeration,
  };

  std::string_view word(std::size_t i) const
  {
    return m_text.substr(m_lex[i].begin, m_lex[i].end - m_lex[i].begin);
  }
  bool ident(std::size_t i) const { return i < m_lex.size() && m_lex[i].kind == Lex::identifier; }
  bool is(std::size_t i, std::string_view lower) const { return ident(i) && iequals(word(i), lower); }
  bool one_of(std::size_t i, std::initializer_list<std::string_view> words) const
  {
    return ident(i)
           && std::any_of(words.begin(), words.end(), [&](std::string_view w) { return is(i, w); });
  }
  bool symbol(std::size_t i, char c) const
  {
    return i < m_lex.size() && m_lex[i].kind == Lex::symbol && m_lex[i].symbol == c;
  }

  void logical_line()
  {
    lex_line(m_text, m_lex);
    if (m_lex.empty()) {
      return;
    }
    std::size_t end = m_lex.size();
    if (m_lex.back().kind == Lex::comment) {
      comment_words(m_lex.back());
      --end;
    }
    // "#If Win64 Then", "#Const DEBUG_ON = 1": compiler constants, no variables.
    if (symbol(0, '#') && ident(1)) {
      for (std::size_t i = 1; i < end; ++i) {
        if (ident(i)) {
          add(i, Role::directive);
        }
      }
      return;
    }
    std::size_t begin = 0;
    if (end >= 2 && (ident(0) || m_lex[0].kind == Lex::number) && m_lex[1].kind == Lex::colon
        && !(ident(0) && is_reserved(word(0)))) {
      if (ident(0)) {
        add(0, Role::label);
      }
      begin = 2;
    }
    std::size_t start = begin;
    for (std::size_t k = begin; k <= end; ++k) {
      if (k == end || m_lex[k].kind == Lex::colon) {
        statement(start, k);
        start = k + 1;
      }
    }
  }

  void statement(std::size_t b, std::size_t e)
  {
    if (b >= e) {
      return;
    }
    std::size_t k = b;
    bool is_public = false;
    bool is_private = false;
    bool modifiers = false;
    while (k < e && one_of(k, {"public", "private", "friend", "global", "static"})) {
      is_public = is_public || is(k, "public") || is(k, "global");
      is_private = is_private || is(k, "private");
      modifiers = true;
      add(k++, Role::statement_word);
    }
    if (k >= e) {
      return;
    }
    if (!ident(k)) {
      expression(k, e, false);
      return;
    }
    if (m_block != Block::none && !modifiers) {
      if (is(k, "end")) {
        end_statement(k, e);
      } else {
        block_member(k, e);
      }
      return;
    }
    if (one_of(k, {"function", "sub"})) {
      procedure_header(k, k + 1, e);
      return;
    }
    if (is(k, "property") && one_of(k + 1, {"get", "let", "set"})) {
      add(k, Role::statement_word);
      procedure_header(k + 1, k + 2, e);
      return;
    }
    if (one_of(k, {"declare", "event"})) {
      foreign_header(k, e);
      return;
    }
    if (one_of(k, {"type", "enum"}) && m_open < 0 && k + 1 < e && ident(k + 1)) {
      add(k, Role::statement_word);
      add(k + 1, Role::block_name, !is_private);
      m_block = is(k, "type") ? Block::type : Block::enumeration;
      return;
    }
    if (one_of(k, {"dim", "const"})) {
      add(k, Role::statement_word);
      declarations(is(k, "dim") && is(k + 1, "const") ? k + 2 : k + 1, e, is_public);
      return;
    }
    if (modifiers) {
      declarations(k, e, is_public); // Public x As Long, Static n
      return;
    }
    if (is(k, "end")) {
      end_statement(k, e);
    } else if (is(k, "option")) {
      words_of_statement(k, e);
    } else if (is(k, "attribute")) {
      attribute(k, e);
    } else if (!file_statement(k, e)) {
      expression(k, e, is(k, "redim"));
    }
  }

  // The statements whose words stand in places of their own: Line Input #, Open ... For ...
  // As #, Input #, Print #, Write #, Get #, Put #, ..., Name ... As. False for any other.
  bool file_statement(std::size_t k, std::size_t e)
  {
    if (is(k, "line") && k + 1 < e && is(k + 1, "input")) {
      add(k, Role::statement_word);
      add(k + 1, Role::statement_word);
      expression(k + 2, e, false);
      return true;
    }
    if (k + 1 < e && symbol(k + 1, '#')
        && one_of(k, {"input", "print", "write", "get", "put", "close", "seek", "lock", "unlock",
                      "width"})) {
      add(k, Role::statement_word);
      expression(k + 1, e, false);
      return true;
    }
    return (is(k, "open") && open_statement(k, e)) || (is(k, "name") && name_statement(k, e));
  }

  // Every word of an Option or End statement.
  void words_of_statement(std::size_t b, std::size_t e)
  {
    for (std::size_t i = b; i < e; ++i) {
      if (ident(i)) {
        add(i, Role::statement_word);
      }
    }
  }

  void end_statement(std::size_t k, std::size_t e)
  {
    words_of_statement(k, e);
    if (k + 1 < e && one_of(k + 1, {"function", "sub", "property"})) {
      if (m_open >= 0) {
        close_procedure(m_last_line);
      }
    } else if (k + 1 < e && one_of(k + 1, {"type", "enum"})) {
      m_block = Block::none;
    }
  }

  void block_member(std::size_t k, std::size_t e)
  {
    if (m_block == Block::type) {
      add(k, Role::type_member);
      expression(k + 1, e, true);
    } else {
      add(k, Role::enum_member);
      expression(k + 1, e, false);
    }
  }

  // Function, Sub or Property Get/Let/Set: `kind` is the word before the name.
  void procedure_header(std::size_t kind, std::size_t name, std::size_t e)
  {
    add(kind, Role::statement_word);
    if (!m_scan.procedures.empty() && m_scan.procedures.back().last >= m_first_line) {
      // Two procedures never share a line: a header after ":" on the line where the last one
      // begins or ends (which VBA does not accept) goes on with that one.
      m_open = static_cast<std::int32_t>(m_scan.procedures.size() - 1);
    } else {
      if (m_open >= 0) {
        close_procedure(m_first_line > 0 ? m_first_line - 1 : 0);
      }
      m_open = static_cast<std::int32_t>(m_scan.procedures.size());
      m_scan.procedures.push_back({m_first_line, m_first_line});
    }
    m_block = Block::none;
    if (name < e && ident(name)) {
      add(name, Role::procedure_name);
      if (m_scan.kind == ModuleKind::form) {
        event_procedure(name);
      }
      ++name;
    }
    parameters_and_rest(name, e, Role::parameter);
  }

  // A form's "<Control>_<Event>" procedure: its control, for a UserForm keeps its controls in
  // its binary part, which is not read.
  void event_procedure(std::size_t name)
  {
    const std::string_view text = word(name);
    const std::size_t underscore = text.rfind('_');
    if (underscore == std::string_view::npos || underscore == 0
        || !control_events().contains(lowered(text.substr(underscore + 1)))) {
      return;
    }
    add_word(m_lex[name].begin, m_lex[name].begin + underscore, Role::control, false, k_none);
  }

  // Declare [PtrSafe] Function|Sub Name Lib "..." [Alias "..."] (...) [As T]; Event Name(...).
  void foreign_header(std::size_t k, std::size_t e)
  {
    add(k++, Role::statement_word);
    while (k < e && one_of(k, {"ptrsafe", "function", "sub"})) {
      add(k++, Role::statement_word);
    }
    if (k < e && ident(k)) {
      add(k++, Role::procedure_name);
    }
    while (k < e && !symbol(k, '(')) {
      if (ident(k)) {
        add(k, Role::statement_word); // Lib, Alias
      }
      ++k;
    }
    parameters_and_rest(k, e, Role::foreign_parameter);
  }

  void parameters_and_rest(std::size_t k, std::size_t e, Role role)
  {
    while (k < e && m_lex[k].kind == Lex::symbol && !symbol(k, '(')) {
      ++k; // a type character after the name
    }
    if (k >= e || !symbol(k, '(')) {
      expression(k, e, true);
      return;
    }
    int depth = 0;
    std::size_t close = e;
    for (std::size_t i = k; i < e; ++i) {
      if (symbol(i, '(')) {
        ++depth;
      } else if (symbol(i, ')') && --depth == 0) {
        close = i;
        break;
      }
    }
    for_each_item(k + 1, close, [&](std::size_t b, std::size_t item_end) {
      std::size_t j = b;
      while (j < item_end && one_of(j, {"optional", "byval", "byref", "paramarray"})) {
        add(j++, Role::statement_word);
      }
      if (j < item_end && ident(j)) {
        add(j++, role);
      }
      expression(j, item_end, true);
    });
    if (close < e) {
      expression(close + 1, e, true);
    }
  }

  // The items of [b, e) separated by commas outside brackets.
  template <class Visit> void for_each_item(std::size_t b, std::size_t e, Visit visit)
  {
    int depth = 0;
    std::size_t start = b;
    for (std::size_t i = b; i < e; ++i) {
      if (symbol(i, '(')) {
        ++depth;
      } else if (symbol(i, ')')) {
        --depth;
      } else if (symbol(i, ',') && depth == 0) {
        visit(start, i);
        start = i + 1;
      }
    }
    visit(start, e);
  }

  void declarations(std::size_t b, std::size_t e, bool is_public)
  {
    for_each_item(b, e, [&](std::size_t s, std::size_t t) {
      std::size_t j = s;
      if (is(j, "withevents") && j < t) {
        add(j++, Role::statement_word);
      }
      if (j < t && ident(j)) {
        add(j++, Role::declared, is_public && m_open < 0);
      }
      expression(j, t, true);
    });
  }

  void attribute(std::size_t k, std::size_t e)
  {
    add(k, Role::statement_word);
    if (k + 1 < e && ident(k + 1)) {
      // "Attribute Name.VB_VarUserMemId = 0" belongs to the variable or procedure Name.
      add(k + 1, symbol(k + 2, '.') ? Role::use : Role::statement_word);
      if (is(k + 1, "vb_name")) {
        for (std::size_t i = k + 2; i < e; ++i) {
          if (m_lex[i].kind == Lex::string) {
            take_module_name(i);
            break;
          }
        }
      }
    }
    for (std::size_t i = k + 2; i < e; ++i) {
      if (ident(i)) {
        add(i, Role::statement_word);
      }
    }
  }

  // Open <path> For <mode> [Access ...] [Lock ...] As [#]<number> [Len = <length>].
  bool open_statement(std::size_t k, std::size_t e)
  {
    std::size_t f = k + 1;
    while (f < e && !is(f, "for")) {
      ++f;
    }
    if (f >= e || symbol(k + 1, '=') || symbol(k + 1, '.')) {
      return false;
    }
    add(k, Role::statement_word);
    expression(k + 1, f, false);
    for (std::size_t i = f; i < e; ++i) {
      if (one_of(i, {"for", "input", "output", "append", "binary", "random", "access", "read",
                     "write", "shared", "lock", "as", "len"})) {
        add(i, Role::statement_word);
      } else {
        expression(i, i + 1, false);
      }
    }
    return true;
  }

  // Name <old path> As <new path>.
  bool name_statement(std::size_t k, std::size_t e)
  {
    if (k + 1 >= e || m_lex[k + 1].kind == Lex::assign || symbol(k + 1, '=') || symbol(k + 1, '.')
        || symbol(k + 1, '(') || symbol(k + 1, '!')) {
      return false;
    }
    std::size_t as = k + 1;
    while (as < e && !is(as, "as")) {
      ++as;
    }
    if (as >= e) {
      return false;
    }
    add(k, Role::statement_word);
    expression(k + 1, as, false);
    add(as, Role::statement_word);
    expression(as + 1, e, false);
    return true;
  }

  // The words of an expression or of the rest of a statement; `type_names`: a word after As (or
  // As New) names a type.
  void expression(std::size_t b, std::size_t e, bool type_names)
  {
    for (std::size_t i = b; i < e; ++i) {
      if (!ident(i)) {
        continue;
      }
      if (i > 0 && (symbol(i - 1, '.') || symbol(i - 1, '!'))) {
        add(i, Role::member, false, qualifier_of(i));
        continue;
      }
      if (i + 1 < e && m_lex[i + 1].kind == Lex::assign) {
        add(i, Role::named_argument);
        continue;
      }
      if (is_reserved(word(i))) {
        add(i, Role::statement_word);
        if (one_of(i, {"then", "else"}) && i + 1 < e) {
          statement(i + 1, e); // a single-line If: a statement follows
          return;
        }
        if (one_of(i, {"goto", "gosub"})) {
          for (; i + 1 < e && (ident(i + 1) || symbol(i + 1, ',')); ++i) {
            if (ident(i + 1)) {
              add(i + 1, Role::label);
            }
          }
        } else if (is(i, "resume") && i + 1 < e && ident(i + 1) && !is_reserved(word(i + 1))) {
          add(++i, Role::label);
        }
        continue;
      }
      const bool after_as = i > b && (is(i - 1, "as") || (is(i - 1, "new") && i > b + 1 && is(i - 2, "as")));
      add(i, type_names && after_as ? Role::type_name : Role::use);
    }
  }

  // The lower-cased identifier directly before the "." in front of lexeme `i`, when that
  // identifier is no member itself.
  std::uint32_t qualifier_of(std::size_t i)
  {
    if (i < 2 || !symbol(i - 1, '.') || !ident(i - 2) || m_lex[i - 2].end != m_lex[i - 1].begin) {
      return k_none;
    }
    if (i >= 3 && (symbol(i - 3, '.') || symbol(i - 3, '!'))) {
      return k_none;
    }
    m_scan.qualifiers.push_back(lowered(word(i - 2)));
    return static_cast<std::uint32_t>(m_scan.qualifiers.size() - 1);
  }

  void comment_words(const Lexeme& comment)
  {
    const std::string_view text = m_text.substr(comment.begin, comment.end - comment.begin);
    for_each_word(text, [&](std::string_view word, bool) {
      const auto begin = static_cast<std::size_t>(word.data() - m_text.data());
      add_word(begin, begin + word.size(), Role::comment, false, k_none);
    });
  }

  void add(std::size_t i, Role role, bool is_public = false, std::uint32_t qualifier = k_none)
  {
    add_word(m_lex[i].begin, m_lex[i].end, role, is_public, qualifier);
  }

  void add_word(std::size_t begin, std::size_t end, Role role, bool is_public,
                std::uint32_t qualifier)
  {
    const std::string_view text = m_text.substr(begin, end - begin);
    if (!is_identifier(text)) {
      return;
    }
    m_lower.assign(text);
    std::transform(m_lower.begin(), m_lower.end(), m_lower.begin(), ascii_lower);
    if (!m_interesting.contains(m_lower)) {
      return;
    }
    std::size_t segment = m_segments.size() - 1;
    while (segment > 0 && m_segments[segment].first > begin) {
      --segment;
    }
    const auto [segment_start, line] = m_segments[segment];
    m_scan.by_name[m_lower].push_back(static_cast<std::uint32_t>(m_scan.tokens.size()));
    m_scan.tokens.push_back({line, static_cast<std::uint32_t>(begin - segment_start),
                             static_cast<std::uint32_t>(end - begin), qualifier, role, is_public});
  }

  void close_procedure(std::uint32_t last)
  {
    Extent& extent = m_scan.procedures[static_cast<std::size_t>(m_open)];
    extent.last = std::max(extent.first, last);
    m_open = -1;
  }

  FileScan& m_scan;
  const NameSet& m_interesting;
  std::string m_joined;
  std::string_view m_text;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_segments; // (start in m_text, line)
  std::vector<Lexeme> m_lex;
  std::uint32_t m_first_line = 0;
  std::uint32_t m_last_line = 0;
  std::int32_t m_open = -1;
  Block m_block = Block::none;
  std::string m_lower;
};

} // namespace

ClassAndFormModules read_class_and_form_modules(const std::vector<std::string>& directories)
{
  std::vector<std::string> paths;
  for (const std::string& directory : directories) {
    find_source_files(
        directory,
        [](const std::string& name) { return module_kind_of(name) != ModuleKind::standard; },
        paths);
  }
  ClassAndFormModules modules;
  std::set<std::string, std::less<>> seen;
  for (const std::string& path : paths) {
    if (!seen.insert(path).second) {
      continue;
    }
    try {
      const std::string bytes = read_source_file(path).bytes;
      if (const char* mark = utf16_byte_order_mark(bytes)) {
        throw Error(std::string("UTF-16 text (byte-order mark ") + mark + ")");
      }
      modules.files.insert_or_assign(path, split_source_lines(text::is_valid_utf8(bytes)
                                                                  ? bytes
                                                                  : text::drop_invalid_utf8(bytes)));
    } catch (const std::exception& error) {
      std::cout << "读取模块 " << path << " 时出错: " << error.what() << '\n';
      modules.unreadable.emplace_back(path, error.what());
    }
  }
  return modules;
}

ModuleKind module_kind_of(std::string_view path)
{
  const std::string lower = lowered(path);
  if (lower.ends_with(".cls")) {
    return ModuleKind::class_module;
  }
  return lower.ends_with(".frm") ? ModuleKind::form : ModuleKind::standard;
}

void scan_module(FileScan& scan, const NameSet& interesting)
{
  ModuleScanner(scan, interesting).run();
}

} // namespace tarnwick::brimsel
