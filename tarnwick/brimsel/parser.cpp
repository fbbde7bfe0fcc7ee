#include "tarnwick/brimsel/parser.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "tarnwick/brimsel/declaration_line.hpp"
#include "tarnwick/brimsel/naming_rules.hpp"
#include "tarnwick/brimsel/source_file.hpp"
#include "tarnwick/brimsel/words.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/printed.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::brimsel {

namespace {

using text::Regex;

constexpr text::RegexOptions k_caseless{.caseless = true, .unicode = true};

// Every fixed pattern of the parser, compiled once.
struct Patterns
{
  Regex function_header{R"(^\s*(Public|Private|Friend)?\s*Function\s+)", k_caseless};
  Regex sub_header{R"(^\s*(Public|Private|Friend)?\s*Sub\s+)", k_caseless};
  Regex declaration_start{R"(^\s*(Public|Private|Global|Dim|Const)\s+)", k_caseless};
  Regex const_declaration_start{R"(^\s*(Public|Private|Global)\s+Const\s+)", k_caseless};
  Regex type_start{R"(^\s*(Public|Private)\s+Type\s+)", k_caseless};
  Regex enum_start{R"(^\s*(Public|Private)\s+Enum\s+)", k_caseless};
  // The "As <type>" that one name of a declaration may carry for itself. A match starts where
  // its blanks start, so the search tries each run of blanks once, not at each of its blanks.
  Regex own_type{R"((?<!\s)\s+As\s+(?:New\s+)?(\w+))", k_caseless};
  Regex procedure{
      R"(^\s*(Public|Private|Friend)?\s*(Function|Sub)\s+(?P<name>\w+)\s*(\((?P<params>.*)\))?)",
      k_caseless};
  Regex parameter{
      R"(^(?:Optional\s+)?(?:(ByVal|ByRef)\s+)?(?:ParamArray\s+)?(?P<name>\w+)\s*(As\s+(?P<type>[\w\[\]]+))?)",
      k_caseless};
  Regex type_header{R"(^\s*(?P<scope>Public|Private)?\s*Type\s+(?P<name>\w+))", k_caseless};
  Regex enum_header{R"(^\s*(?P<scope>Public|Private)?\s*Enum\s+(?P<name>\w+))", k_caseless};
  Regex reference_header{R"(^\s*(Public|Private|Friend)?\s*(Function|Sub)\s+(?P<name>\w+))",
                         k_caseless};
  Regex type_or_enum_line{R"(^\s*(Public|Private)?\s*(Type|Enum)\s+)", k_caseless};
};

const Patterns& patterns()
{
  static const Patterns instance;
  return instance;
}

using NameSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;

bool starts_with_end_of_procedure(std::string_view stripped)
{
  return stripped.starts_with("End Function") || stripped.starts_with("End Sub");
}

// Whether a pattern that begins with "^\s*" and then needs a letter of `letters` (either case)
// can match `line`. A cheap, exact pre-test: it answers false only when the first character
// after leading ASCII white space is ASCII and none of these letters. A non-ASCII character
// (Unicode white space, or a letter that matches caselessly) leaves the answer to the pattern.
bool may_start_with(std::string_view line, std::string_view letters)
{
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r'))) {
    ++i;
  }
  if (i == line.size()) {
    return false;
  }
  const auto c = static_cast<unsigned char>(line[i]);
  if (c >= 0x80) {
    return true;
  }
  const char lower =
      (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
  return letters.find(lower) != std::string_view::npos;
}

// Whether a pattern that begins with "^\s*" and then needs one of the words `words` (lower
// case ASCII letters, matched caselessly) followed by white space can match `line`. A cheap,
// exact pre-test: it answers false only when the run of ASCII letters after leading ASCII white
// space is none of the words and is followed by an ASCII character or the end; a non-ASCII
// character (Unicode white space, or a letter that matches caselessly) leaves the answer to the
// pattern.
// The first word of a line as the pre-tests below see it: the run of ASCII letters after
// leading ASCII white space, lower-cased (at most 16 letters), and what follows it.
struct FirstWord
{
  enum class Next
  {
    end_or_other,   // the end of the line or an ASCII character that is no white space
    ascii_space,    // one of " \t\n\v\f\r", which "\s" matches
    non_ascii,      // a byte of a non-ASCII character: only the pattern can tell
  };
  char letters[16] = {};
  std::size_t length = 0;
  bool too_long = false;
  Next next = Next::end_or_other;

  explicit FirstWord(std::string_view line)
  {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r'))) {
      ++i;
    }
    for (; i < line.size(); ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      if (c >= 0x80) {
        next = Next::non_ascii;
        return;
      }
      const auto lower = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
      if (lower < 'a' || lower > 'z') {
        next = (c == ' ' || (c >= '\t' && c <= '\r')) ? Next::ascii_space : Next::end_or_other;
        return;
      }
      if (length == sizeof letters) {
        too_long = true;
        return;
      }
      letters[length++] = lower;
    }
  }

  bool is_one_of(std::initializer_list<std::string_view> words) const
  {
    const std::string_view word(letters, length);
    return !too_long
           && std::find(words.begin(), words.end(), word) != words.end();
  }
};

bool may_start_with_word(std::string_view line, std::initializer_list<std::string_view> words)
{
  const FirstWord first(line);
  return first.next == FirstWord::Next::non_ascii || first.is_one_of(words);
}

// Whether `line` starts, after ASCII white space, with one of `words` (matched caselessly) and
// ASCII white space: then a pattern "^\s*(Word|...)\s+" surely matches. False says nothing.
bool starts_with_word_and_space(std::string_view line,
                                std::initializer_list<std::string_view> words)
{
  const FirstWord first(line);
  return first.next == FirstWord::Next::ascii_space && first.is_one_of(words);
}

// Whether the names text of a declaration line opens a procedure instead of naming variables:
// a Declare statement, a Property header, a Static Function, Sub or Property header.
bool names_a_procedure(std::string_view names)
{
  if (starts_with_word_and_space(names, {"declare", "property"})) {
    return true;
  }
  if (!starts_with_word_and_space(names, {"static"})) {
    return false;
  }
  const std::size_t rest = names.find_first_not_of(" \t", 6);
  return rest != std::string_view::npos
         && starts_with_word_and_space(names.substr(rest), {"function", "sub", "property"});
}

// Where the trailing comment of `line` begins: its first apostrophe outside a string literal,
// or the line's length when it has none.
std::size_t comment_start(std::string_view line)
{
  bool in_string = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      in_string = !in_string;
    } else if (line[i] == '\'' && !in_string) {
      return i;
    }
  }
  return line.size();
}

// `line` up to the first apostrophe outside a string literal, without trailing white space,
// as strip_trailing_comment gives it: a view into `line` when the text ends in ASCII, else the
// text kept in `buffer`.
std::string_view comment_cut_view(std::string_view line, std::string& buffer)
{
  std::size_t end = comment_start(line);
  while (end > 0
         && (line[end - 1] == ' ' || (line[end - 1] >= '\t' && line[end - 1] <= '\r')
             || (line[end - 1] >= '\x1c' && line[end - 1] <= '\x1f'))) {
    --end;
  }
  if (end > 0 && static_cast<unsigned char>(line[end - 1]) >= 0x80) {
    buffer = text::rstrip(line.substr(0, end));
    return buffer;
  }
  return line.substr(0, end);
}

// `line` without leading and trailing white space: a view into `line` when its ends are ASCII,
// else the stripped text kept in `buffer`.
std::string_view strip_view(std::string_view line, std::string& buffer)
{
  auto is_ascii_space = [](char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
  };
  std::size_t begin = 0;
  std::size_t end = line.size();
  while (begin < end && is_ascii_space(line[begin])) {
    ++begin;
  }
  while (end > begin && is_ascii_space(line[end - 1])) {
    --end;
  }
  if (begin < end
      && (static_cast<unsigned char>(line[begin]) >= 0x80
          || static_cast<unsigned char>(line[end - 1]) >= 0x80)) {
    buffer = text::strip(line);
    return buffer;
  }
  return line.substr(begin, end - begin);
}

// Reads a source file: invalid UTF-8 dropped (with a line that says so), every line end made LF
// and kept on its line. Only regular files are read; UTF-16 text is refused, since dropping its
// bytes would leave a text of NUL characters in which nothing is found.
SourceLines read_source_lines(const std::string& path)
{
  const std::string bytes = read_source_file(path).bytes;
  if (const char* mark = utf16_byte_order_mark(bytes)) {
    throw Error(std::string("UTF-16 text (byte-order mark ") + mark
                + ") is not read: save the module as UTF-8");
  }
  // Most files are valid UTF-8 throughout and are split as read, without a cleaned copy.
  if (text::is_valid_utf8(bytes)) {
    return split_source_lines(bytes);
  }
  std::cout << "文件 " << path << " 不是有效的 UTF-8: 已忽略无效字节，重构不会修改此文件\n";
  return split_source_lines(text::drop_invalid_utf8(bytes));
}

// `text` cut at every "," outside parentheses; each part stripped.
std::vector<std::string> split_outside_parentheses(std::string_view text, bool drop_empty)
{
  std::vector<std::string> parts;
  int depth = 0;
  std::size_t start = 0;
  auto finish = [&](std::size_t end) {
    std::string part = text::strip(text.substr(start, end - start));
    if (!(drop_empty && part.empty())) {
      parts.push_back(std::move(part));
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') {
      ++depth;
    } else if (text[i] == ')') {
      --depth;
    } else if (text[i] == ',' && depth == 0) {
      finish(i);
      start = i + 1;
    }
  }
  finish(text.size());
  return parts;
}

// `text` with every byte inside brackets turned into "#", so that a search of it finds only
// what stands outside them, at the same offsets.
std::string outside_brackets(std::string_view text)
{
  std::string masked(text);
  int depth = 0;
  for (char& c : masked) {
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth != 0) {
      c = '#';
    }
  }
  return masked;
}

FunctionType function_type_of(std::string_view name)
{
  if (name.ends_with("_VBT")) {
    return FunctionType::VBT;
  }
  if (name.ends_with("_DSP")) {
    return FunctionType::DSP;
  }
  if (name.ends_with("_IP")) {
    return FunctionType::IP;
  }
  return FunctionType::OTHER;
}

// One reference found by the first step of the reference collection, before its record is
// made: the entry of the name in `variable_references`, the file (in walk order), the line
// index and the open procedure (an index into the procedure names seen, or k_no_procedure).
struct FoundReference
{
  std::uint32_t name = 0;
  std::uint32_t file = 0;
  std::uint32_t line = 0;
  std::uint32_t procedure = 0;
};
constexpr std::uint32_t k_no_procedure = std::numeric_limits<std::uint32_t>::max();

// The first step of the reference collection over one file's lines (`lines` as stored): adds
// every name at its first reference to `variable_references` (with no records yet) and appends
// one FoundReference per reference to `found`. `entry_of` caches the entry of each name.
void find_references_in_file(
    std::uint32_t file, const SourceLines& lines, const NameSet& all_variables,
    const NameSet& function_names,
    text::OrderedMap<std::string, std::vector<VariableReference>>& variable_references,
    std::unordered_map<std::string_view, std::uint32_t, TextHash, std::equal_to<>>& entry_of,
    std::vector<std::string>& procedures, std::vector<FoundReference>& found)
{
  std::uint32_t current_function = k_no_procedure;
  std::string buffer;
  std::uint32_t line_index = 0;
  for (const std::string& line : lines) {
    const std::uint32_t index = line_index++;
    const std::string_view stripped = strip_view(line, buffer);
    if (VBAParser::is_function_definition(stripped)) {
      if (auto match = patterns().reference_header.match_at_start(stripped)) {
        current_function = k_no_procedure;
        if (auto name = match->group("name")) {
          current_function = static_cast<std::uint32_t>(procedures.size());
          procedures.push_back(std::move(*name));
        }
      }
      continue;
    }
    if (starts_with_end_of_procedure(stripped)) {
      current_function = k_no_procedure;
      continue;
    }
    if (VBAParser::is_variable_declaration(stripped) || stripped.starts_with("Type ")
        || stripped.starts_with("Enum ")) {
      continue;
    }
    for_each_word(line, [&](std::string_view word, bool identifier) {
      if (!identifier) {
        return;
      }
      auto entry = entry_of.find(word);
      if (entry == entry_of.end()) {
        const auto name = all_variables.find(word);
        if (name == all_variables.end() || VBAParser::vba_keywords.contains(word)
            || function_names.contains(word)) {
          return;
        }
        // The name's entry: found when an earlier parse recorded it, else added here, at its
        // first reference.
        auto it = variable_references.try_emplace(*name).first;
        entry = entry_of
                    .emplace(std::string_view(*name),
                             static_cast<std::uint32_t>(it - variable_references.begin()))
                    .first;
      }
      found.push_back({entry->second, file, index, current_function});
    });
  }
}

} // namespace

std::string strip_trailing_comment(std::string_view line)
{
  return text::rstrip(line.substr(0, comment_start(line)));
}

const std::set<std::string, std::less<>> VBAParser::vba_keywords = {
    "If",      "Then", "Else",  "ElseIf", "End",      "Select",     "Case",   "For",
    "To",      "Next", "While", "Wend",   "Do",       "Loop",       "Until",  "Exit",
    "Goto",    "On",   "Error", "Resume", "With",     "Function",   "Sub",    "Property",
    "Get",     "Let",  "Set",   "Public", "Private",  "Friend",     "Global", "Dim",
    "Const",   "As",   "ByVal", "ByRef",  "Optional", "ParamArray", "Type",   "Enum",
    "Nothing", "True", "False", "Me"};

VBAParser::VBAParser() = default;

void VBAParser::parse_files(const std::string& directory_path)
{
  directories.push_back(directory_path);
  std::vector<std::string> paths;
  find_source_files(
      directory_path, [](const std::string& name) { return text::lower(name).ends_with(".bas"); },
      paths);
  std::cout << "找到 " << paths.size() << " 个 .bas 文件\n";

  for (const std::string& path : paths) {
    try {
      SourceLines lines = read_source_lines(path);
      auto it = files.insert_or_assign(path, std::move(lines)).first;
      parse_file(path, it->second);
    } catch (const std::exception& error) {
      std::cout << "解析文件 " << path << " 时出错: " << error.what() << "\n";
    }
  }

  collect_variable_references();
  check_function_parameters();
  std::cout << "解析完成：" << global_variables.size() << " 个全局变量，" << functions.size()
            << " 个函数\n";
}

void VBAParser::parse_file(const std::string& file_path, const SourceLines& lines)
{
  std::optional<FunctionInfo> open;
  auto close = [&](int end_line) {
    open->end_line = end_line;
    functions.insert_or_assign(file_path + ":" + open->name, std::move(*open));
    open.reset();
  };
  const Patterns& p = patterns();

  std::string buffer;
  int line_num = 0;
  for (const std::string& line : lines) {
    ++line_num;
    const std::string_view stripped = strip_view(line, buffer);
    if (is_function_definition(stripped)) {
      if (open) {
        close(line_num - 1);
      }
      open = parse_function_definition(stripped, file_path, line_num);
      continue;
    }
    if (!open) {
      const bool public_or_private = may_start_with(stripped, "p");
      if (stripped.starts_with("Type ")
          || (public_or_private && p.type_start.match_at_start(stripped))) {
        parse_type_definition(stripped, lines, line_num, file_path);
      } else if (stripped.starts_with("Enum ")
                 || (public_or_private && p.enum_start.match_at_start(stripped))) {
        parse_enum_definition(stripped, lines, line_num, file_path);
      } else if (is_variable_declaration(stripped)) {
        parse_variable_declaration(stripped, file_path, line_num, std::nullopt);
      }
    } else if (is_variable_declaration(stripped)) {
      parse_variable_declaration(stripped, file_path, line_num, open->name);
    } else if (starts_with_end_of_procedure(stripped)) {
      close(line_num);
    }
  }
  if (open) {
    close(static_cast<int>(lines.size()));
  }
}

bool VBAParser::is_function_definition(std::string_view line)
{
  if (!may_start_with_word(line, {"public", "private", "friend", "function", "sub",
                                  "publicfunction", "privatefunction", "friendfunction",
                                  "publicsub", "privatesub", "friendsub"})) {
    return false;
  }
  const Patterns& p = patterns();
  return p.function_header.match_at_start(line) || p.sub_header.match_at_start(line);
}

bool VBAParser::is_variable_declaration(std::string_view line)
{
  if (!may_start_with_word(line, {"public", "private", "global", "dim", "const"})) {
    return false;
  }
  std::string buffer;
  const std::string_view declaration = comment_cut_view(line, buffer);
  if (is_function_definition(declaration)) {
    return false;
  }
  if (starts_with_word_and_space(declaration, {"public", "private", "global", "dim", "const"})) {
    return true;
  }
  const Patterns& p = patterns();
  return p.declaration_start.match_at_start(declaration)
         || p.const_declaration_start.match_at_start(declaration);
}

void VBAParser::parse_variable_declaration(std::string_view line, const std::string& file_path,
                                           int line_num,
                                           const std::optional<std::string>& function_name)
{
  try {
    std::string buffer;
    const std::string_view declaration = comment_cut_view(line, buffer);
    const auto match = match_declaration(declaration);
    // A Declare statement or a Property or Static procedure header declares a procedure, not a
    // variable.
    if (!match || names_a_procedure(match->names)) {
      return;
    }
    const std::string keyword = text::lower(match->keyword);
    const bool local = function_name && !function_name->empty();
    VariableScope scope = VariableScope::MODULE_PRIVATE;
    if (local) {
      scope = VariableScope::LOCAL;
    } else if (keyword == "public" || keyword == "global") {
      scope = VariableScope::GLOBAL;
    }
    const VariableType line_type = parse_variable_type(match->type);
    const bool is_const = match->const_word || keyword == "const";
    VariableList* target = nullptr;

    for (const std::string& part : split_outside_parentheses(match->names, false)) {
      // A name may carry its own "As <type>"; the bounds after a name only mark an array. An
      // "As" inside brackets types a parameter (a Property or Declare line), not the name.
      std::string_view head = part;
      VariableType var_type = line_type;
      if (const auto own = patterns().own_type.search(outside_brackets(part))) {
        head = std::string_view(part).substr(0, own->start());
        var_type = parse_variable_type(own->str(1));
      }
      const std::size_t bracket = head.find('(');
      VariableInfo info{.name = text::strip(head.substr(0, bracket)),
                        .scope = scope,
                        .var_type = var_type,
                        .is_array = bracket != std::string_view::npos,
                        .file_path = file_path,
                        .line_number = line_num,
                        .function_name = function_name,
                        .is_const = is_const};
      info.original_name = info.name;

      NameCheck check = VBTNamingRules::get_correct_variable_name(info);
      if (check.issue && !check.issue->empty()) {
        info.correct_name = std::move(check.correct_name);
        info.issue_description = std::move(check.issue);
      }

      if (scope == VariableScope::GLOBAL) {
        global_variables.push_back(std::move(info));
      } else {
        // The names of a line share one list, looked up when the first is stored.
        if (target == nullptr) {
          target = local ? &local_variables[file_path + ":" + *function_name]
                         : &module_variables[file_path];
        }
        target->push_back(std::move(info));
      }
    }
  } catch (const std::exception& error) {
    std::cout << "解析变量声明时出错 (行 " << line_num << "): " << text::excerpt(line) << " - "
              << text::excerpt(error.what())
              << "\n";
  }
}

VariableType VBAParser::parse_variable_type(std::string_view type_str)
{
  static const std::unordered_map<std::string, VariableType> k_types = {
      {"integer", VariableType::INTEGER},         {"long", VariableType::LONG},
      {"single", VariableType::SINGLE},           {"double", VariableType::DOUBLE},
      {"string", VariableType::STRING},           {"boolean", VariableType::BOOLEAN},
      {"variant", VariableType::VARIANT},         {"sitelong", VariableType::SITELONG},
      {"sitedouble", VariableType::SITEDOUBLE},   {"siteboolean", VariableType::SITEBOOLEAN},
      {"dspwave", VariableType::DSPWAVE},         {"pindata", VariableType::PINDATA},
      {"pinlistdata", VariableType::PINLISTDATA}, {"pinlist", VariableType::PINLIST},
      {"pattern", VariableType::PATTERN},         {"csl", VariableType::CSL},
  };
  const auto it = k_types.find(text::lower(type_str));
  return it == k_types.end() ? VariableType::VARIANT : it->second;
}

FunctionInfo VBAParser::parse_function_definition(std::string_view line,
                                                  const std::string& file_path, int line_num)
{
  FunctionInfo info{.func_type = FunctionType::OTHER,
                    .file_path = file_path,
                    .start_line = line_num,
                    .end_line = 0};
  const auto match = patterns().procedure.match_at_start(line);
  if (!match) {
    info.name = "unknown";
    info.original_name = "unknown";
    return info;
  }
  info.name = match->str(3);
  info.original_name = info.name;
  info.func_type = function_type_of(info.name);

  // The parameter list runs from the "(" after the name to the ")" that closes it.
  if (match->matched(4)) {
    const std::size_t open = match->start(4);
    int depth = 0;
    for (std::size_t i = open; i < line.size(); ++i) {
      if (line[i] == '(') {
        ++depth;
      } else if (line[i] == ')' && --depth == 0) {
        info.parameters = parse_function_parameters(line.substr(open + 1, i - open - 1));
        break;
      }
    }
  }
  return info;
}

std::vector<FunctionParameter> VBAParser::parse_function_parameters(std::string_view params_str)
{
  std::vector<FunctionParameter> parameters;
  if (text::strip(params_str).empty()) {
    return parameters;
  }
  for (const std::string& segment : split_outside_parentheses(params_str, true)) {
    const auto match = patterns().parameter.match_at_start(segment);
    if (!match) {
      continue;
    }
    parameters.push_back(FunctionParameter{.name = *match->group("name"),
                                           .type = match->group("type").value_or("Variant"),
                                           .byval_byref = match->str(1)});
  }
  return parameters;
}

void VBAParser::parse_type_definition(std::string_view line, const SourceLines& /*all_lines*/,
                                      int line_num, const std::string& file_path)
{
  parse_header_block(line, line_num, file_path, false);
}

void VBAParser::parse_enum_definition(std::string_view line, const SourceLines& /*all_lines*/,
                                      int line_num, const std::string& file_path)
{
  parse_header_block(line, line_num, file_path, true);
}

void VBAParser::parse_header_block(std::string_view line, int line_num,
                                   const std::string& file_path, bool is_enum)
{
  const Patterns& p = patterns();
  const auto match = (is_enum ? p.enum_header : p.type_header).match_at_start(line);
  if (!match) {
    return;
  }
  const std::string name = *match->group("name");
  const auto scope = match->group("scope");
  TypeInfo info{.name = name,
                .original_name = name,
                .info_type = is_enum ? "Enum" : "Type",
                .file_path = file_path,
                .line_number = line_num,
                .scope = scope && text::lower(*scope) == "private" ? "private" : "public"};
  const std::string prefix = is_enum ? "enum_" : "type_";
  if (!name.starts_with(prefix)) {
    info.correct_name = prefix + name;
    info.issue_description =
        is_enum ? "Enum定义应以 'enum_' 为前缀" : "Type定义应以 'type_' 为前缀";
  }
  (is_enum ? enums : types).insert_or_assign(file_path + ":" + name, std::move(info));
}

void VBAParser::check_function_parameters()
{
  for (auto it = functions.begin(); it != functions.end(); ++it) {
    FunctionInfo& function = it.value();
    for (const FunctionParameter& parameter : function.parameters) {
      const NameCheck check = VBTNamingRules::check_function_parameter(
          parameter.name, parameter.type, parameter.byval_byref, function.func_type);
      if (!check.issue || check.issue->empty()) {
        continue;
      }
      std::string text = "参数 '" + parameter.name + "': " + *check.issue;
      if (check.correct_name != parameter.name) {
        text += " (建议改为: '" + check.correct_name + "')";
      }
      function.issues.push_back(std::move(text));
    }
  }
}

void VBAParser::collect_variable_references()
{
  std::cout << "正在收集变量引用信息...\n";

  NameSet all_variables;
  auto add = [&](const VariableList& list) {
    for (const VariableInfo& info : list) {
      all_variables.insert(info.original_name);
      all_variables.insert(info.name);
    }
  };
  add(global_variables);
  for (const auto& [path, list] : module_variables) {
    add(list);
  }
  for (const auto& [key, list] : local_variables) {
    add(list);
  }
  NameSet function_names;
  for (const auto& [key, function] : functions) {
    function_names.insert(function.name);
    function_names.insert(function.original_name);
  }

  // First every reference is found and counted, then each name's list is sized once and its
  // records made in the order found: no list grows by copying, and none keeps spare room.
  std::unordered_map<std::string_view, std::uint32_t, TextHash, std::equal_to<>> entry_of;
  std::vector<std::string> procedures;
  std::vector<FoundReference> found;
  std::vector<std::pair<const std::string*, const SourceLines*>> walked;
  for (const auto& [path, lines] : files) {
    const auto file = static_cast<std::uint32_t>(walked.size());
    walked.emplace_back(&path, &lines);
    find_references_in_file(file, lines, all_variables, function_names, variable_references,
                            entry_of, procedures, found);
  }
  std::vector<std::size_t> counts(variable_references.size(), 0);
  for (const FoundReference& reference : found) {
    ++counts[reference.name];
  }
  for (std::size_t entry = 0; entry < counts.size(); ++entry) {
    if (counts[entry] > 0) {
      auto& list = variable_references.nth(entry).value();
      list.reserve(list.size() + counts[entry]);
    }
  }
  // The references of one file share its path text, those of one line the line's text; the
  // references of a line are found one after the other.
  std::string buffer;
  std::vector<SharedText> shared_paths(walked.size());
  SharedText context;
  std::uint32_t context_file = k_no_procedure;
  std::uint32_t context_line = 0;
  for (const FoundReference& reference : found) {
    auto it = variable_references.nth(reference.name);
    const auto& [path, lines] = walked[reference.file];
    SharedText& shared_path = shared_paths[reference.file];
    if (shared_path.empty()) {
      shared_path = SharedText(*path);
    }
    if (reference.file != context_file || reference.line != context_line) {
      context = SharedText(strip_view((*lines)[reference.line], buffer));
      context_file = reference.file;
      context_line = reference.line;
    }
    it.value().push_back(VariableReference{
        .var_name = it->first,
        .file_path = shared_path,
        .line_number = static_cast<int>(reference.line + 1),
        .function_name = reference.procedure == k_no_procedure
                             ? std::nullopt
                             : std::optional<std::string>(procedures[reference.procedure]),
        .context = context});
  }
  collect_type_enum_references();

  std::cout << "收集到 " << variable_references.size() << " 个变量的引用信息\n";
}

void VBAParser::collect_type_enum_references()
{
  // Name -> the record that receives its counts (a later block of the same name wins, an Enum
  // beats a Type) and the last line counted, so that a line counts once per name.
  struct Target
  {
    TypeInfo* record = nullptr;
    std::size_t counted_line = 0;
  };
  std::unordered_map<std::string, Target, TextHash, std::equal_to<>> all_types;
  for (auto* table : {&types, &enums}) {
    for (auto it = table->begin(); it != table->end(); ++it) {
      TypeInfo& record = it.value();
      all_types[record.name].record = &record;
      all_types[record.original_name].record = &record;
    }
  }
  if (all_types.empty()) {
    return;
  }

  const Regex& header = patterns().type_or_enum_line;
  std::size_t line_stamp = 0;
  for (const auto& [file_path, lines] : files) {
    // A named reference: clang 14 does not let a lambda capture a structured binding.
    const auto& path = file_path;
    for (const std::string& line : lines) {
      ++line_stamp;
      if (may_start_with(line, "pte") && header.match_at_start(line)) {
        continue;
      }
      for_each_word(line, [&](std::string_view word, bool /*identifier*/) {
        const auto it = all_types.find(word);
        if (it == all_types.end() || it->second.counted_line == line_stamp) {
          return;
        }
        it->second.counted_line = line_stamp;
        ++it->second.record->reference_count;
        it->second.record->referenced_files.insert(path);
      });
    }
  }
}

const std::vector<VariableReference>&
VBAParser::get_variable_references(const std::string& var_name) const
{
  static const std::vector<VariableReference> k_none;
  const auto it = variable_references.find(var_name);
  return it == variable_references.end() ? k_none : it->second;
}

AllIssues VBAParser::get_all_variable_issues() const
{
  AllIssues issues;
  auto has_issue = [](const auto& record) {
    return record.issue_description && !record.issue_description->empty();
  };
  for (const VariableInfo& info : global_variables) {
    if (has_issue(info)) {
      issues.global_variables.push_back(&info);
    }
  }
  for (const auto& [path, list] : module_variables) {
    for (const VariableInfo& info : list) {
      if (has_issue(info)) {
        issues.module_variables.push_back(&info);
      }
    }
  }
  for (const auto& [key, list] : local_variables) {
    for (const VariableInfo& info : list) {
      if (has_issue(info)) {
        issues.local_variables.push_back(&info);
      }
    }
  }
  for (const auto& [key, info] : types) {
    if (has_issue(info)) {
      issues.type_definitions.push_back(&info);
    }
  }
  for (const auto& [key, info] : enums) {
    if (has_issue(info)) {
      issues.enum_definitions.push_back(&info);
    }
  }
  return issues;
}

} // namespace tarnwick::brimsel
