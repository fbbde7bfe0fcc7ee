#include "tarnwick/dravel/dravel.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"

extern char** environ;

namespace tarnwick::dravel {

namespace {

namespace fs = std::filesystem;

// Version line and two header rows come before the first data row.
constexpr std::size_t k_first_data_row = 3;

constexpr std::string_view k_undefined_item = "Error: Patset found item without pattern definition: ";
constexpr std::string_view k_missing_pattern = "Error: pattern file does not exist";
constexpr std::string_view k_listing_name = "/pattern_tset.txt";

// "<source>, row <n>: " in front of an error message.
std::string where(std::string_view source, std::size_t row)
{
  return text::row_location(source, row) + ": ";
}

char ascii_lower(char c)
{
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ascii_lowered(std::string_view s)
{
  std::string lowered(s);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), ascii_lower);
  return lowered;
}

// Parses a hexadecimal count such as "0x0000001F" or "00000020"; std::nullopt when it is not
// one or does not fit 64 bits.
std::optional<std::int64_t> parse_hex(std::string_view s)
{
  if (s.starts_with("0x") || s.starts_with("0X")) {
    s.remove_prefix(2);
  }
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
  if (s.empty() || s.front() == '-' || error != std::errc() || end != s.data() + s.size()) {
    return std::nullopt;
  }
  return value;
}

// Strings of the path split at every "/" and backslash.
std::vector<std::string> path_components(std::string_view path)
{
  static const text::Regex separators(R"([/\\])");
  return separators.split(path);
}

// Runs `patinfo <pattern> -tset` found on PATH with its standard output on `out_fd`, without
// a shell, and waits for it. A tool that cannot be started writes nothing.
void run_pattern_tool(const std::string& pattern, int out_fd)
{
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return;
  }
  if (posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return;
  }
  std::string tool = "patinfo";
  std::string option = "-tset";
  std::string pattern_arg = pattern;
  char* argv[] = {tool.data(), pattern_arg.data(), option.data(), nullptr};
  pid_t pid = 0;
  const int started = posix_spawnp(&pid, "patinfo", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) {
    return;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

} // namespace

Dravel::Dravel()
  : m_cycle_dict(std::make_shared<PatternCycleDict>()),
    m_tset_name(std::make_shared<TsetNameList>())
{
}

void Dravel::read_pattern_set(const std::string& pattern_set_path,
                              const std::string& /*pattern_file_path*/, std::string_view platform)
{
  // Only a regular file keeps the path as given: a folder of that name does not count.
  std::error_code ec;
  const auto path = fs::is_regular_file(pattern_set_path, ec)
                      ? pattern_set_path
                      : text::replace_all(pattern_set_path, "%20", " ");
  parse(text::read_text_file(path), platform, path);
}

void Dravel::parse(std::string_view text, std::string_view platform, std::string_view source)
{
  const auto lines = text::split_lines(text);
  if (lines.empty()) {
    return;
  }
  const auto& version_expression = text::sheet_version_regex(platform);
  const auto version = version_expression.search(lines[0]);
  if (!version) {
    throw Error(where(source, 0) + "no sheet version found (expected a match of " +
                version_expression.pattern() + ")");
  }
  m_pattern_set_version = version->str(1);

  std::size_t item_cell = 5;
  if (*m_pattern_set_version == "2.3") {
    item_cell = 4;
  } else if (*m_pattern_set_version == "1.1") {
    item_cell = 2;
  }

  std::string last_name;
  bool new_run = false;
  for (std::size_t i = k_first_data_row; i < lines.size(); ++i) {
    const auto cells = text::split_cells(lines[i]);
    if (cells.size() < 2 || cells[1].empty()) {
      return;
    }
    const auto key = text::upper(cells[1]);
    if (cells[1] != last_name) {
      (*m_cycle_dict)[key] = 0;
      last_name = cells[1];
      new_run = true;
    }
    if (cells.size() <= item_cell) {
      throw Error(where(source, i) + "row has " +
                  text::format_int(static_cast<std::int64_t>(cells.size())) +
                  " cells, the pattern item is in cell " +
                  text::format_int(static_cast<std::int64_t>(item_cell)));
    }
    // A set keeps only its latest run of rows.
    if (new_run) {
      m_pattern_set_dict[key] = {cells[item_cell]};
      new_run = false;
    } else {
      m_pattern_set_dict[key].push_back(cells[item_cell]);
    }
  }
}

void Dravel::read_pattern_file(const std::string& pattern_file_path,
                               const std::string& pattern_set_name)
{
  parse_pattern_file(text::read_text_file(pattern_file_path), pattern_set_name, pattern_file_path);
}

void Dravel::parse_pattern_file(std::string_view text, std::string_view pattern_set_name,
                                std::string_view source)
{
  static const text::Regex vector_count(R"(Number\sof\spattern\svectors:\s(\d+))");
  static const text::Regex repeat(R"(repeat\s=\s(\d+))");
  static const text::Regex blanks(R"(\s+)");

  const auto lines = text::split_lines(text);
  std::int64_t total = 0;
  std::string vector_number = "0";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto& line = lines[i];
    if (const auto match = vector_count.search(line)) {
      vector_number = match->str(1);
    }
    if (line.empty() || line[0] < '0' || line[0] > '9') {
      continue;
    }
    const auto repeat_match = repeat.search(line);
    if (!repeat_match) {
      throw Error(where(source, i) + "vector line without \"repeat = <n>\"");
    }
    const auto repeat_count = text::parse_int(repeat_match->str(1));
    const auto fields = blanks.split(line);
    std::string count_text = fields.size() > 1 ? fields[1] : std::string();
    if (count_text.rfind("0x0000", 0) != 0 && count_text.rfind("0000", 0) != 0) {
      count_text = "0";
    }
    const auto count = parse_hex(count_text);
    if (!count) {
      throw Error(where(source, i) + "count " + count_text + " is not a 64-bit hexadecimal number");
    }
    std::int64_t product = 0;
    if (!repeat_count || __builtin_mul_overflow(*repeat_count, *count, &product) ||
        __builtin_add_overflow(total, product, &total)) {
      throw Error(where(source, i) + "cycle count exceeds the 64-bit range");
    }
  }
  const auto vectors = text::parse_int(vector_number);
  if (!vectors || __builtin_add_overflow(total, *vectors, &total)) {
    throw Error(std::string(source) + ": cycle count exceeds the 64-bit range");
  }
  auto entry = m_cycle_dict->find(text::upper(pattern_set_name));
  if (entry == m_cycle_dict->end()) {
    throw Error("Error: pattern set not found: " + std::string(pattern_set_name));
  }
  std::int64_t sum = 0;
  if (__builtin_add_overflow(entry->second, total, &sum)) {
    throw Error(std::string(source) + ": cycle count exceeds the 64-bit range");
  }
  entry.value() = sum;
}

void Dravel::read_tset_from_pattern(const std::string& pattern_folder_path,
                                    const std::string& pattern_file_path)
{
  static const text::Regex listing_line("\\t(\\S+) {1,2}\\d\\n", {.unicode = true});

  if (pattern_folder_path.empty()) {
    return;
  }
  auto parts = path_components(pattern_folder_path);
  if (!parts.empty()) {
    parts.pop_back();
  }
  const auto file_parts = path_components(pattern_file_path);
  if (file_parts.size() > 1) {
    parts.insert(parts.end(), file_parts.begin() + 1, file_parts.end());
  }
  std::string full_path;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      full_path += '/';
    }
    full_path += parts[i];
  }

  std::error_code ec;
  if (!fs::exists(full_path, ec)) {
    m_tset_name = std::make_shared<TsetNameList>(TsetNameList{std::string(k_missing_pattern)});
    return;
  }

  const std::string listing = pattern_folder_path + std::string(k_listing_name);
  const int fd = ::open(listing.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw Error("Error: cannot open the time-set listing " + listing + ": " + std::strerror(errno));
  }
  run_pattern_tool(full_path, fd);
  ::close(fd);

  m_tset_name = std::make_shared<TsetNameList>(listing_line.find_all(text::read_text_file(listing)));
}

std::shared_ptr<PatternCycleDict> Dravel::get_pattern_cycle_info() const
{
  return m_cycle_dict;
}

bool Dravel::contains_any_substring(std::string_view s, std::span<const std::string_view> substrings)
{
  return std::any_of(substrings.begin(), substrings.end(),
                     [s](std::string_view sub) { return s.find(sub) != std::string_view::npos; });
}

std::string Dravel::truncate_after_substring(std::string_view s,
                                             std::span<const std::string_view> substrings)
{
  // Extensions are ASCII; folding only ASCII letters keeps byte offsets valid in `s`.
  const auto lowered = ascii_lowered(s);
  for (const auto sub : substrings) {
    const auto at = lowered.find(ascii_lowered(sub));
    if (at != std::string::npos && at + sub.size() < s.size()) {
      return std::string(s.substr(0, at + sub.size()));
    }
  }
  return std::string(s);
}

std::vector<std::string> Dravel::get_pat_path(std::string_view pat_path) const
{
  std::vector<std::string> chain;
  std::vector<std::string> out;
  resolve(pat_path, chain, out);
  return out;
}

void Dravel::resolve(std::string_view item, std::vector<std::string>& chain,
                     std::vector<std::string>& out) const
{
  const auto upper_item = text::upper(item);
  for (const auto extension : valid_extensions) {
    if (std::string_view(upper_item).ends_with(extension)) {
      out.emplace_back(item);
      return;
    }
  }
  if (contains_any_substring(upper_item, valid_extensions)) {
    out.push_back(truncate_after_substring(item, valid_extensions));
    return;
  }
  const auto set = m_pattern_set_dict.find(upper_item);
  if (set == m_pattern_set_dict.end()) {
    throw Error(std::string(k_undefined_item) + std::string(item));
  }
  if (const auto open = std::find(chain.begin(), chain.end(), upper_item); open != chain.end()) {
    std::string message = "Error: Patset cycle: ";
    for (auto it = open; it != chain.end(); ++it) {
      message += *it + " -> ";
    }
    throw Error(message + upper_item);
  }
  chain.push_back(upper_item);
  for (const auto& member : set->second) {
    resolve(member, chain, out);
  }
  chain.pop_back();
}

std::shared_ptr<PatternSetDict> Dravel::get_pattern_set_info() const
{
  auto resolved = std::make_shared<PatternSetDict>();
  for (const auto& [name, items] : m_pattern_set_dict) {
    std::vector<std::string> paths;
    std::vector<std::string> chain{name};
    for (const auto& item : items) {
      resolve(item, chain, paths);
    }
    (*resolved)[name] = std::move(paths);
  }
  return resolved;
}

std::shared_ptr<TsetNameList> Dravel::get_pattern_tset() const
{
  return m_tset_name;
}

} // namespace tarnwick::dravel
