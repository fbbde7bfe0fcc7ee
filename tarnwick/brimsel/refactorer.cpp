#include "tarnwick/brimsel/refactorer.hpp"

#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <sys/stat.h>
#include <utility>

#include "tarnwick/brimsel/source_file.hpp"
#include "tarnwick/brimsel/source_writer.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/printed.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::brimsel {

namespace {

using LineNumber = decltype(RenameChange::line_number);
using StatBuffer = struct stat;

// ---------------------------------------------------------------------------------------------
// Words

// The code point of the UTF-8 sequence that starts at `text[pos]`.
char32_t code_point_at(std::string_view text, std::size_t pos)
{
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 1;
  char32_t cp = lead;
  if (lead >= 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else if (lead >= 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0x80) {
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (pos + i >= text.size()) {
      return 0xFFFD;
    }
    cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  }
  return cp;
}

bool word_after(std::string_view text, std::size_t pos)
{
  return pos < text.size() && text::is_word(code_point_at(text, pos));
}

bool word_before(std::string_view text, std::size_t pos)
{
  if (pos == 0) {
    return false;
  }
  std::size_t start = pos - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  return text::is_word(code_point_at(text, start));
}

bool is_boundary(std::string_view text, std::size_t pos)
{
  return word_before(text, pos) != word_after(text, pos);
}

// Calls `visit(begin, end)` for every maximal run of word characters of `text`, valid UTF-8,
// left to right, with the byte offsets of its ends.
template <class Visit> void for_each_word(std::string_view text, Visit visit)
{
  const auto ascii_word = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  const auto length_at = [&](std::size_t pos) -> std::size_t {
    const auto lead = static_cast<unsigned char>(text[pos]);
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  };
  const auto word_at = [&](std::size_t pos) {
    return static_cast<unsigned char>(text[pos]) < 0x80 ? ascii_word(text[pos])
                                                         : text::is_word(code_point_at(text, pos));
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (!word_at(pos)) {
      pos += length_at(pos);
      continue;
    }
    const std::size_t begin = pos;
    do {
      pos += length_at(pos);
    } while (pos < text.size() && word_at(pos));
    visit(begin, pos);
  }
}

// Whether `name` is one word: non-empty valid UTF-8 of word characters only. Such a name
// matches, with a word boundary on both sides, exactly the runs of word characters that equal
// it, and such a new name put in place of a run leaves every other run as it was.
bool is_single_word(std::string_view name)
{
  if (name.empty() || !text::is_valid_utf8(name)) {
    return false;
  }
  std::size_t words = 0;
  bool whole = false;
  for_each_word(name, [&](std::size_t begin, std::size_t end) {
    ++words;
    whole = begin == 0 && end == name.size();
  });
  return words == 1 && whole;
}

// Hash of texts that looks up views without a copy.
struct TextHash
{
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const
  {
    return std::hash<std::string_view>{}(text);
  }
};

// The renames of one file's reference pass, in mapping order, prepared so that a line is
// renamed by one scan of its words. Renaming entry by entry, each on the text the entries
// before it left, costs lines x renames; here a run of consecutive entries whose old and new
// names are single words becomes one lookup table from a word to the word it ends as (p1 -> p2
// followed by p2 -> p3 sends p1 to p3; p2 -> p3 followed by p1 -> p2 sends p1 to p2 only). Any
// other entry (an old name with brackets or blanks, say) is applied on its own, in its place
// in the order, as a whole-word replacement.
class RenamePlan
{
public:
  // `renames`: (old name, new name) in order; views that must outlive the plan.
  explicit RenamePlan(std::vector<std::pair<std::string_view, std::string_view>> renames)
      : m_renames(std::move(renames))
  {
    const auto word_rename = [&](std::size_t i) {
      return is_single_word(m_renames[i].first) && is_single_word(m_renames[i].second);
    };
    std::size_t i = 0;
    while (i < m_renames.size()) {
      Step& step = m_steps.emplace_back();
      step.first = i;
      if (!word_rename(i)) {
        step.last = ++i;
        continue;
      }
      while (i < m_renames.size() && word_rename(i)) {
        ++i;
      }
      step.last = i;
      // A word meets the entries after its own one only under its new name; walked from the
      // last entry back, the end of each chain is known when it is needed.
      std::unordered_map<std::string_view, std::size_t, TextHash, std::equal_to<>> position;
      for (std::size_t j = step.first; j < step.last; ++j) {
        position.emplace(m_renames[j].first, j);
      }
      std::vector<std::string_view> final_name(step.last - step.first);
      for (std::size_t j = step.last; j-- > step.first;) {
        const auto next = position.find(m_renames[j].second);
        final_name[j - step.first] = next != position.end() && next->second > j
                                         ? final_name[next->second - step.first]
                                         : m_renames[j].second;
      }
      for (std::size_t j = step.first; j < step.last; ++j) {
        step.words.emplace(m_renames[j].first, final_name[j - step.first]);
      }
    }
  }

  // Renames `line` in place.
  void apply(std::string& line) const
  {
    bool valid = true;
    bool checked = false;
    for (const Step& step : m_steps) {
      if (!step.words.empty()) {
        if (!checked) {
          valid = text::is_valid_utf8(line);
          checked = true;
        }
        // Word runs are told on valid UTF-8 only; other text (never a line of a parse) is
        // renamed entry by entry below.
        if (valid) {
          // New words keep the line valid.
          rename_words(line, step.words);
          continue;
        }
      }
      for (std::size_t j = step.first; j < step.last; ++j) {
        const auto [old_name, new_name] = m_renames[j];
        if (line.find(old_name) != std::string::npos) {
          std::string renamed = replace_whole_word(line, old_name, new_name);
          if (renamed != line) {
            line = std::move(renamed);
            checked = false;
          }
        }
      }
    }
  }

private:
  using WordMap =
      std::unordered_map<std::string_view, std::string_view, TextHash, std::equal_to<>>;

  // Entries [first, last) of the renames: one entry that is no word rename, or a run of word
  // renames with `words`, old word -> the word it ends as.
  struct Step
  {
    std::size_t first = 0;
    std::size_t last = 0;
    WordMap words;
  };

  // Puts in place of each run of `line` that `words` holds the word it ends as.
  static void rename_words(std::string& line, const WordMap& words)
  {
    std::string renamed;
    std::size_t copied = 0;
    bool found_any = false;
    for_each_word(line, [&](std::size_t begin, std::size_t end) {
      const auto found = words.find(std::string_view(line).substr(begin, end - begin));
      if (found != words.end()) {
        renamed.append(line, copied, begin - copied);
        renamed.append(found->second);
        copied = end;
        found_any = true;
      }
    });
    if (found_any) {
      renamed.append(line, copied);
      line = std::move(renamed);
    }
  }

  std::vector<std::pair<std::string_view, std::string_view>> m_renames;
  std::vector<Step> m_steps;
};

// The maximal runs of word characters of `text`, left to right.
std::vector<std::string_view> word_runs(std::string_view text)
{
  std::vector<std::string_view> runs;
  for_each_word(text, [&](std::size_t begin, std::size_t end) {
    runs.push_back(text.substr(begin, end - begin));
  });
  return runs;
}

bool is_identifier(std::string_view name)
{
  const auto ascii_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.empty() || !ascii_letter(name.front())) {
    return false;
  }
  for (const char c : name) {
    if (!ascii_letter(c) && !(c >= '0' && c <= '9') && c != '_') {
      return false;
    }
  }
  return true;
}

// The old names of `mapping` that the reference pass replaced somewhere, found by comparing
// each line it changed with the line as parsed. Old and new names are identifiers, so a
// renamed line has the same word runs at the same places; where a run differs, its old word
// was renamed, and so was each name of the chain (p1 -> p2 -> p3) that led on from it to the
// final word. A chain is followed only up to a name already found, so that each name is
// looked at once however long the chains are.
std::set<std::string, std::less<>>
names_replaced(const SourceLines& before, const SourceLines& after, const NameMapping& mapping)
{
  std::set<std::string, std::less<>> replaced;
  for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
    if (before[i] == after[i]) {
      continue;
    }
    const std::vector<std::string_view> old_words = word_runs(before[i]);
    const std::vector<std::string_view> new_words = word_runs(after[i]);
    for (std::size_t k = 0; k < old_words.size() && k < new_words.size(); ++k) {
      std::string_view word = old_words[k];
      while (word != new_words[k]) {
        const auto found = mapping.find(std::string(word));
        if (found == mapping.end() || !replaced.insert(found->first).second) {
          break;
        }
        word = found->second;
      }
    }
  }
  return replaced;
}

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

std::string replace_whole_word(std::string_view text, std::string_view old_name,
                               std::string_view new_name)
{
  if (old_name.empty()) {
    return std::string(text);
  }
  std::string result;
  std::size_t copied = 0;
  std::size_t pos = text.find(old_name);
  while (pos != std::string_view::npos) {
    const std::size_t end = pos + old_name.size();
    if (is_boundary(text, pos) && is_boundary(text, end)) {
      result.append(text.substr(copied, pos - copied));
      result.append(new_name);
      copied = end;
      pos = text.find(old_name, end);
    } else {
      pos = text.find(old_name, pos + 1);
    }
  }
  result.append(text.substr(copied));
  return result;
}

bool is_valid_rename(std::string_view old_name, std::string_view new_name)
{
  return is_identifier(old_name) && is_identifier(new_name);
}

struct VBTRefactorer::FileGroup
{
  std::string path;    // the parsed file's key, or the record's path when there is none
  bool parsed = false; // whether `path` is a file of the parse
  std::vector<RenameChange> changes;
};

struct VBTRefactorer::Grouping
{
  std::vector<FileGroup> groups;            // in order of each file's first record
  std::vector<std::size_t> group_of_record; // per record of changes_made, in its order
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

bool VBTRefactorer::is_variable_declaration(std::string_view line)
{
  static const text::Regex declaration(R"(^\s*(Public|Private|Global|Dim|Const)\s+)",
                                       {.caseless = true, .unicode = true});
  static const text::Regex constant(R"(^\s*(Public|Private|Global)\s+Const\s+)",
                                    {.caseless = true, .unicode = true});
  // Like the parser, the test sees the line without its trailing comment.
  const std::string code = strip_trailing_comment(line);
  return declaration.match_at_start(code) || constant.match_at_start(code);
}

bool VBTRefactorer::is_function_definition(std::string_view line)
{
  return VBAParser::is_function_definition(line);
}

struct VBTRefactorer::ProcedureNames
{
  // File path -> the name and original name of each of its procedures.
  std::unordered_map<std::string, std::unordered_set<std::string, TextHash, std::equal_to<>>,
                     TextHash, std::equal_to<>>
      by_file;
};

void VBTRefactorer::apply_variable_references_to_file(SourceLines& lines,
                                                      const NameMapping& var_name_mapping,
                                                      const std::string& file_path) const
{
  if (!m_procedure_names) {
    auto names = std::make_shared<ProcedureNames>();
    for (const auto& [key, function] : m_parser.functions) {
      auto& of_file = names->by_file[function.file_path];
      of_file.insert(function.name);
      of_file.insert(function.original_name);
    }
    m_procedure_names = std::move(names);
  }
  const auto procedures = m_procedure_names->by_file.find(file_path);
  const auto is_procedure_name = [&](const std::string& name) {
    return procedures != m_procedure_names->by_file.end() && procedures->second.contains(name);
  };
  // A keyword or a procedure name of this file is never renamed here; an empty name matches
  // nowhere.
  std::vector<std::pair<std::string_view, std::string_view>> renames;
  for (const auto& [old_name, new_name] : var_name_mapping) {
    if (!old_name.empty() && !VBAParser::vba_keywords.contains(old_name)
        && !is_procedure_name(old_name)) {
      renames.emplace_back(old_name, new_name);
    }
  }
  const RenamePlan plan(std::move(renames));
  for (std::string& line : lines) {
    const std::string stripped = text::strip(line);
    if (is_function_definition(stripped) || is_variable_declaration(stripped)
        || stripped.starts_with("Type ") || stripped.starts_with("Enum ")
        || stripped.starts_with("End Function") || stripped.starts_with("End Sub")) {
      continue;
    }
    plan.apply(line);
  }
}

VBTRefactorer::FileOutcome VBTRefactorer::apply_changes_to_file(const std::string& file_path,
                                          const std::vector<RenameChange>& changes,
                                          std::vector<bool>& changed)
{
  const SourceLines& parsed = m_parser.files.at(file_path);

  // The renamed text first: a file that no rename changes is neither backed up nor written.
  SourceLines lines = parsed;
  NameMapping var_name_mapping;
  for (const RenameChange& change : changes) {
    var_name_mapping.insert_or_assign(change.original_name, change.new_name);
  }
  apply_variable_references_to_file(lines, var_name_mapping, file_path);
  const auto referenced = names_replaced(parsed, lines, var_name_mapping);
  changed.assign(changes.size(), false);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const RenameChange& change = changes[i];
    changed[i] = referenced.contains(change.original_name);
    if (change.line_number >= 1 && static_cast<std::uint64_t>(change.line_number) <= lines.size()) {
      std::string& line = lines[static_cast<std::size_t>(change.line_number - 1)];
      std::string renamed = replace_whole_word(line, change.original_name, change.new_name);
      if (renamed != line) {
        line = std::move(renamed);
        changed[i] = true;
      }
    }
  }
  if (lines == parsed) {
    std::cout << "未修改文件（没有名称需要重命名）: " << file_path << '\n';
    return FileOutcome::unchanged;
  }

  // The file as it is now: valid UTF-8 and still what the parse read, or it is left alone.
  SourceFile current;
  try {
    current = read_source_file(file_path);
  } catch (const std::exception& error) {
    std::cout << "备份文件失败 " << file_path << ": " << error.what() << '\n';
    return FileOutcome::failed;
  }
  if (!text::is_valid_utf8(current.bytes)) {
    // The parse dropped the invalid bytes; written back, the file would lose them.
    std::cout << "备份文件失败 " << file_path << ": not valid UTF-8, the file is not rewritten\n";
    return FileOutcome::failed;
  }
  std::vector<std::string> ends;
  if (split_source_lines(current.bytes, &ends) != parsed) {
    std::cout << "文件在解析后已被修改，跳过 " << file_path << '\n';
    return FileOutcome::failed;
  }

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
            << "  - 更新了 " << var_name_mapping.size() << " 个变量名的所有引用\n";
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
  std::map<std::string, std::size_t> group_of;
  for (const auto& [type, changes] : m_changes_made) {
    for (const RenameChange& change : changes) {
      const std::optional<std::string> key = parsed_key(change.file_path);
      const std::string& path = key ? *key : change.file_path;
      const auto [found, added] = group_of.try_emplace(path, grouping.groups.size());
      if (added) {
        grouping.groups.push_back({path, key.has_value(), {}});
      }
      grouping.groups[found->second].changes.push_back(change);
      grouping.group_of_record.push_back(found->second);
    }
  }
  return grouping;
}

ApplyResult VBTRefactorer::apply_all_changes()
{
  m_applied_changes.clear();
  const Grouping grouping = group_by_file();
  // Per group, per record of the group: whether it changed the rewritten file (empty when the
  // file was not rewritten).
  std::vector<std::vector<bool>> changed(grouping.groups.size());
  ApplyResult result;
  for (std::size_t i = 0; i < grouping.groups.size(); ++i) {
    const FileGroup& group = grouping.groups[i];
    if (!group.parsed) {
      std::cout << "跳过未解析的文件: " << group.path << '\n';
      ++result.not_parsed;
      continue;
    }
    switch (apply_changes_to_file(group.path, group.changes, changed[i])) {
    case FileOutcome::rewritten:
      ++result.rewritten;
      break;
    case FileOutcome::failed:
      ++result.failed;
      changed[i].clear();
      break;
    case FileOutcome::unchanged:
      changed[i].clear();
      break;
    }
  }
  std::vector<std::size_t> seen(grouping.groups.size(), 0);
  std::size_t record = 0;
  for (const auto& [type, changes] : m_changes_made) {
    for (const RenameChange& change : changes) {
      const std::size_t group = grouping.group_of_record[record++];
      const std::size_t index = seen[group]++;
      if (index < changed[group].size() && changed[group][index]) {
        m_applied_changes[type].push_back(change);
      }
    }
  }
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
            all_changes.push_back(std::string(spec.kind) + ": " + old_name + " -> " + new_name);
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
