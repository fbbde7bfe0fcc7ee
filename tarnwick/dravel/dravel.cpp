#include "tarnwick/dravel/dravel.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/text_file.hpp"
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
// The row of column headings, and the heading of the item column.
constexpr std::size_t k_heading_row = 2;
constexpr std::string_view k_item_heading = "File/Group Name";

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

// Resolution of pattern-set items into pattern file paths. Every set is resolved once, however
// often other sets name it, and the walk through nested sets keeps its own stack, so neither a
// deep chain of sets nor a set named many times costs more than the sets and items it holds.
// `visit` checks sets and counts their paths; `expand` then builds the lists, which cannot fail.
class Resolution
{
public:
  static constexpr std::size_t k_no_set = static_cast<std::size_t>(-1);

  // Far beyond the nesting and the size of the sets of any test program: a sheet past them is
  // refused rather than resolved at the cost of the whole memory.
  static constexpr std::size_t k_max_depth = 10'000;
  static constexpr std::uint64_t k_max_entries = 2'000'000;

  // One item: a pattern file path, or the position of a set in the table.
  struct Item
  {
    std::string path;
    std::size_t set = k_no_set;
  };

  explicit Resolution(const PatternSetDict& sets) : m_sets(sets), m_nodes(sets.size()) {}

  // What `item` stands for. Throws tarnwick::Error for an item that is neither a pattern file
  // nor a known set.
  Item classify(std::string_view item) const
  {
    const auto upper_item = text::upper(item);
    for (const auto extension : Dravel::valid_extensions) {
      if (std::string_view(upper_item).ends_with(extension)) {
        return {std::string(item)};
      }
    }
    if (Dravel::contains_any_substring(upper_item, Dravel::valid_extensions)) {
      return {Dravel::truncate_after_substring(item, Dravel::valid_extensions)};
    }
    const auto set = m_sets.find(upper_item);
    if (set == m_sets.end()) {
      throw Error(std::string(k_undefined_item) + std::string(item));
    }
    return {std::string(), static_cast<std::size_t>(set - m_sets.begin())};
  }

  // Resolves the set at `root` and every set it names, items in row order, each set once.
  // Throws tarnwick::Error for an undefined item, a set that contains itself, nesting deeper
  // than k_max_depth and more than k_max_entries paths in all the sets resolved so far.
  void visit(std::size_t root)
  {
    if (m_nodes[root].state == State::done) {
      return;
    }
    open(root);
    while (!m_stack.empty()) {
      Frame& frame = m_stack.back();
      const std::size_t set = frame.set;
      const auto& items = (m_sets.begin() + static_cast<std::ptrdiff_t>(set))->second;
      if (frame.next == items.size()) {
        close(set);
        continue;
      }
      auto item = classify(items[frame.next++]);
      const std::size_t child = item.set;
      m_nodes[set].items.push_back(std::move(item));
      if (child == k_no_set) {
        ++m_nodes[set].size;
      } else if (m_nodes[child].state == State::done) {
        m_nodes[set].size += m_nodes[child].size;
      } else if (m_nodes[child].state == State::open) {
        throw cycle(child);
      } else {
        open(child);
      }
    }
  }

  // Builds the path list of every set visited, a set's list after those of the sets it names;
  // `list_of(set)` is where the list of the set at that position goes.
  template <class ListOf> void expand(ListOf list_of) const
  {
    for (const std::size_t set : m_done_order) {
      const Node& node = m_nodes[set];
      std::vector<std::string>& list = list_of(set);
      list.reserve(static_cast<std::size_t>(node.size));
      for (const auto& item : node.items) {
        if (item.set == k_no_set) {
          list.push_back(item.path);
        } else {
          const std::vector<std::string>& nested = list_of(item.set);
          list.insert(list.end(), nested.begin(), nested.end());
        }
      }
    }
  }

private:
  enum class State
  {
    unseen,
    open,
    done,
  };

  struct Node
  {
    State state = State::unseen;
    std::vector<Item> items;
    std::uint64_t size = 0; // paths the set resolves to
  };

  struct Frame
  {
    std::size_t set;
    std::size_t next = 0; // the set's next item
  };

  const std::string& name(std::size_t set) const
  {
    return (m_sets.begin() + static_cast<std::ptrdiff_t>(set))->first;
  }

  void open(std::size_t set)
  {
    if (m_stack.size() == k_max_depth) {
      throw Error("Error: Patset nesting deeper than " + std::to_string(k_max_depth) + " sets: " +
                  name(m_stack.front().set) + " -> ... -> " + name(set));
    }
    m_nodes[set].state = State::open;
    m_stack.push_back({set});
  }

  void close(std::size_t set)
  {
    Node& node = m_nodes[set];
    node.state = State::done;
    m_total += node.size;
    if (m_total > k_max_entries) {
      throw Error("Error: Patset expansion passes " + std::to_string(k_max_entries) +
                  " patterns at set " + name(set));
    }
    m_done_order.push_back(set);
    m_stack.pop_back();
    if (!m_stack.empty()) {
      m_nodes[m_stack.back().set].size += node.size;
    }
  }

  Error cycle(std::size_t set) const
  {
    std::string message = "Error: Patset cycle: ";
    auto frame = std::find_if(m_stack.begin(), m_stack.end(),
                              [set](const Frame& open) { return open.set == set; });
    for (; frame != m_stack.end(); ++frame) {
      message += name(frame->set) + " -> ";
    }
    return Error(message + name(set));
  }

  const PatternSetDict& m_sets;
  std::vector<Node> m_nodes;        // by position in the table
  std::vector<Frame> m_stack;       // sets being resolved, outermost first
  std::vector<std::size_t> m_done_order; // sets in the order their resolution ended
  std::uint64_t m_total = 0;        // paths of all sets resolved
};

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
  parse(files::read_sheet_export(path), platform, path);
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

  // The item is the column headed "File/Group Name"; a sheet whose heading row has none is
  // read by its version.
  std::size_t item_cell = 5;
  if (const auto named = lines.size() > k_heading_row
                           ? text::header_column(text::split_cells(lines[k_heading_row]),
                                                 k_item_heading)
                           : std::nullopt) {
    item_cell = *named;
  } else if (*m_pattern_set_version == "2.3") {
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
  parse_pattern_file(files::read_text_file(pattern_file_path), pattern_set_name, pattern_file_path);
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
  // A FIFO or a device in the listing's place is refused, not waited on or read without end.
  files::FileProblem problem;
  files::Fd fd = files::open_regular_file(listing, files::OpenFor::writing, problem);
  if (!fd) {
    throw Error("Error: cannot open the time-set listing " + listing + ": " + problem.reason);
  }
  run_pattern_tool(full_path, fd.get());
  fd.reset();

  m_tset_name =
      std::make_shared<TsetNameList>(listing_line.find_all(files::read_text_file(listing)));
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
  Resolution resolution(m_pattern_set_dict);
  auto item = resolution.classify(pat_path);
  if (item.set == Resolution::k_no_set) {
    return {std::move(item.path)};
  }
  resolution.visit(item.set);
  std::vector<std::vector<std::string>> lists(m_pattern_set_dict.size());
  resolution.expand([&lists](std::size_t set) -> std::vector<std::string>& { return lists[set]; });
  return std::move(lists[item.set]);
}

std::shared_ptr<PatternSetDict> Dravel::get_pattern_set_info() const
{
  Resolution resolution(m_pattern_set_dict);
  for (std::size_t set = 0; set < m_pattern_set_dict.size(); ++set) {
    resolution.visit(set);
  }
  auto resolved = std::make_shared<PatternSetDict>();
  resolved->reserve(m_pattern_set_dict.size());
  for (const auto& [name, items] : m_pattern_set_dict) {
    resolved->emplace(name, std::vector<std::string>());
  }
  resolution.expand([&resolved](std::size_t set) -> std::vector<std::string>& {
    return (resolved->begin() + static_cast<std::ptrdiff_t>(set)).value();
  });
  return resolved;
}

std::shared_ptr<TsetNameList> Dravel::get_pattern_tset() const
{
  return m_tset_name;
}

} // namespace tarnwick::dravel
