#include "tarnwick/brimsel/rename_scope.hpp"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "tarnwick/brimsel/words.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace tarnwick::brimsel {

namespace {

// ---------------------------------------------------------------------------------------------
// Characters and words

bool is_ascii_letter(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_ascii_digit(char c)
{
  return c >= '0' && c <= '9';
}

char ascii_lower(char c)
{
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool word_after(std::string_view text, std::size_t pos)
{
  return pos < text.size() && is_word_char(decode_at(text, pos).first);
}

// End of the run of word characters that starts at `pos`.
std::size_t word_end(std::string_view text, std::size_t pos)
{
  while (pos < text.size()) {
    const auto [cp, length] = decode_at(text, pos);
    if (!is_word_char(cp)) {
      break;
    }
    pos += length;
  }
  return pos;
}

bool is_identifier(std::string_view name)
{
  if (name.empty() || !is_ascii_letter(name.front())) {
    return false;
  }
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return is_ascii_letter(c) || is_ascii_digit(c) || c == '_'; });
}

bool iequals(std::string_view a, std::string_view lower)
{
  return a.size() == lower.size()
         && std::equal(a.begin(), a.end(), lower.begin(),
                       [](char x, char y) { return ascii_lower(x) == y; });
}

std::string lowered(std::string_view text)
{
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), ascii_lower);
  return lower;
}

using NameSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;
template <class Value>
using NameMap = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;

// The words no variable can be named, lower-cased: the VBA keywords of the reference rules and
// the other reserved words of statements and operators.
const NameSet& reserved_words()
{
  static const NameSet words = [] {
    NameSet set;
    for (const std::string& keyword : VBAParser::vba_keywords) {
      set.insert(lowered(keyword));
    }
    for (const char* word : {"new", "is", "not", "and", "or", "xor", "eqv", "imp", "mod", "like",
                             "each", "in", "call", "redim", "preserve", "static", "erase",
                             "gosub", "return", "stop", "typeof", "addressof", "lset", "rset",
                             "declare", "withevents", "implements", "event", "raiseevent",
                             "option", "attribute", "empty", "null"}) {
      set.insert(word);
    }
    return set;
  }();
  return words;
}

constexpr std::size_t k_longest_reserved = 10; // "paramarray", "implements", "raiseevent"

bool is_reserved(std::string_view word)
{
  if (word.size() > k_longest_reserved) {
    return false;
  }
  char buffer[k_longest_reserved];
  for (std::size_t i = 0; i < word.size(); ++i) {
    buffer[i] = ascii_lower(word[i]);
  }
  return reserved_words().contains(std::string_view(buffer, word.size()));
}

// ---------------------------------------------------------------------------------------------
// Lexemes of one logical line (physical lines joined by their " _" continuations)

enum class Lex : std::uint8_t
{
  identifier, // a run of word characters that begins with a letter
  number,     // a run that begins with a digit, "&H..." or a date literal "#...#"
  string,     // "..." with "" inside
  comment,    // after an apostrophe or Rem, to the end of the logical line (its text only)
  symbol,     // any other character, "_" runs included
  assign,     // ":="
  colon,      // ":" between statements
};

struct Lexeme
{
  Lex kind = Lex::symbol;
  char symbol = 0; // for Lex::symbol: the character, or 0 when it is not ASCII
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

bool is_ascii_space(char c)
{
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether `#` at `pos` opens a date literal such as #1/31/2024# or #12:30 PM#.
std::size_t date_literal_end(std::string_view text, std::size_t pos)
{
  if (pos + 1 >= text.size() || !is_ascii_digit(text[pos + 1])) {
    return 0;
  }
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '#') {
      return i + 1;
    }
    if (!is_ascii_digit(c) && std::string_view("/:-. AaPpMm").find(c) == std::string_view::npos) {
      return 0;
    }
  }
  return 0;
}

void lex_line(std::string_view text, std::vector<Lexeme>& out)
{
  out.clear();
  const auto push = [&](Lex kind, std::size_t begin, std::size_t end, char symbol = 0) {
    out.push_back({kind, symbol, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
  };
  bool statement_start = true;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (is_ascii_space(c)) {
      ++pos;
      continue;
    }
    if (c == '"') {
      std::size_t end = pos + 1;
      while (end < text.size() && text[end] != '\n') {
        if (text[end] == '"') {
          if (end + 1 < text.size() && text[end + 1] == '"') {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
      push(Lex::string, pos, end);
      pos = end;
      statement_start = false;
      continue;
    }
    if (c == '\'') {
      push(Lex::comment, pos + 1, text.size());
      return;
    }
    if (c == ':') {
      if (pos + 1 < text.size() && text[pos + 1] == '=') {
        push(Lex::assign, pos, pos + 2);
        pos += 2;
        statement_start = false;
      } else {
        push(Lex::colon, pos, pos + 1);
        ++pos;
        statement_start = true;
      }
      continue;
    }
    if (c == '&' && pos + 2 < text.size() && std::string_view("HhOo").find(text[pos + 1]) != std::string_view::npos
        && word_after(text, pos + 2)) {
      const std::size_t end = word_end(text, pos + 2);
      push(Lex::number, pos, end);
      pos = end;
      statement_start = false;
      continue;
    }
    if (c == '#') {
      if (const std::size_t end = date_literal_end(text, pos)) {
        push(Lex::number, pos, end);
        pos = end;
        statement_start = false;
        continue;
      }
    }
    const auto [cp, length] = decode_at(text, pos);
    if (cp == 0xFEFF) {
      pos += length; // a byte-order mark
      continue;
    }
    if (is_word_char(cp)) {
      const std::size_t end = word_end(text, pos);
      if (c == '_') {
        push(Lex::symbol, pos, end, '_');
      } else if (is_ascii_digit(c) || (cp >= 0x80 && text::is_digit(cp))) {
        push(Lex::number, pos, end);
      } else if (statement_start && iequals(text.substr(pos, end - pos), "rem")
                 && (end == text.size() || is_ascii_space(text[end]))) {
        push(Lex::comment, end, text.size());
        return;
      } else {
        push(Lex::identifier, pos, end);
      }
      pos = end;
      statement_start = false;
      continue;
    }
    push(Lex::symbol, pos, pos + length, cp < 0x80 ? c : 0);
    pos += length;
    statement_start = false;
  }
}

// Whether the physical line continues on the next one: it ends with " _".
bool continues(std::string_view line)
{
  std::size_t end = line.size();
  while (end > 0 && is_ascii_space(line[end - 1])) {
    --end;
  }
  return end > 0 && line[end - 1] == '_' && (end == 1 || is_ascii_space(line[end - 2]));
}

// ---------------------------------------------------------------------------------------------
// What each word of a module is

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
};

constexpr std::uint32_t k_none = std::numeric_limits<std::uint32_t>::max();

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
  std::string module_name; // lower-cased Attribute VB_Name, or empty
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
    for (std::size_t i = 0; i < lines.size();) {
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
  }

private:
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
    if (m_open >= 0) {
      close_procedure(m_first_line > 0 ? m_first_line - 1 : 0);
    }
    m_open = static_cast<std::int32_t>(m_scan.procedures.size());
    m_scan.procedures.push_back({m_first_line, m_first_line});
    m_block = Block::none;
    if (name < e && ident(name)) {
      add(name, Role::procedure_name);
      ++name;
    }
    parameters_and_rest(name, e, Role::parameter);
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
            const std::string_view quoted = word(i);
            m_scan.module_name = lowered(quoted.substr(1, quoted.size() >= 2 ? quoted.size() - 2 : 0));
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
    auto found = m_scan.by_name.find(std::string_view(m_lower));
    if (found == m_scan.by_name.end()) {
      found = m_scan.by_name.emplace(m_lower, std::vector<std::uint32_t>{}).first;
    }
    found->second.push_back(static_cast<std::uint32_t>(m_scan.tokens.size()));
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

class Renamer
{
public:
  Renamer(const VBAParser& parser, const std::vector<ScopedRename>& renames,
          const RewriteCheck& cannot_rewrite)
      : m_parser(parser), m_renames(renames), m_cannot_rewrite(cannot_rewrite)
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
    m_files.reserve(m_parser.files.size());
    for (const auto& [path, lines] : m_parser.files) {
      FileScan& scan = m_files.emplace_back();
      scan.path = &path;
      scan.lines = &lines;
      ModuleScanner(scan, interesting).run();
      const auto file = static_cast<std::uint32_t>(m_files.size() - 1);
      m_file_of.emplace(path, file);
      for (const auto& [name, tokens] : scan.by_name) {
        m_files_with[name].push_back(file);
      }
    }
  }

  void refuse(std::size_t rename, std::string reason)
  {
    m_result.results[rename] = {RenameOutcome::refused, std::move(reason), {}};
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
                                   {}};
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
  // Declare, an Enum member.
  static bool declares_at_module_level(const FileScan& scan, std::string_view lower,
                                       bool* is_public = nullptr)
  {
    bool declares = false;
    if (const auto* tokens = scan.named(lower)) {
      for (const std::uint32_t t : *tokens) {
        const Token& token = scan.tokens[t];
        const bool module_level = scan.procedure_of(token) < 0;
        if (token.role == Role::procedure_name
            || (module_level && (token.role == Role::declared || token.role == Role::enum_member))) {
          declares = true;
          if (is_public != nullptr && token.role == Role::declared && token.is_public) {
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
    const bool everywhere = target.kind == Kind::global || (target.kind == Kind::block && target.is_public);
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
      const bool everywhere = target.kind == Kind::global || (target.kind == Kind::block && target.is_public);
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
    std::vector<std::vector<std::uint32_t>> changed(m_targets.size());
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
          changed[i].push_back(ref.file);
          is_changed[ref.file] = true;
        }
      }
      std::sort(changed[i].begin(), changed[i].end());
      changed[i].erase(std::unique(changed[i].begin(), changed[i].end()), changed[i].end());
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
      std::vector<std::size_t> files;
      for (const std::uint32_t file : changed[i]) {
        files.push_back(entry_of[file]);
      }
      std::sort(files.begin(), files.end());
      for (const std::size_t index : target.renames) {
        RenameResult& result = m_result.results[index];
        if (target.refused) {
          result = {RenameOutcome::refused, target.reason, {}};
        } else if (result.outcome != RenameOutcome::merged) {
          result = {files.empty() ? RenameOutcome::unchanged : RenameOutcome::renamed, "", files};
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
                              const RewriteCheck& cannot_rewrite)
{
  return Renamer(parser, renames, cannot_rewrite).run();
}

} // namespace tarnwick::brimsel
