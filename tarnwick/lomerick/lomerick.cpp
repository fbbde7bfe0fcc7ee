#include "tarnwick/lomerick/lomerick.hpp"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/sheet.hpp"
#include "tarnwick/text/error.hpp"
#include "tarnwick/text/number.hpp"
#include "tarnwick/text/printed.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::lomerick {

namespace {

namespace fs = std::filesystem;

// Title, flow domain, column groups and column headings come before the first data row.
constexpr std::size_t k_header_rows = 4;

constexpr std::array<std::string_view, 4> k_test_opcodes = {"Test", "Test-defer-limits", "nop",
                                                            "Test-defer-all"};

// Cells a record needs beyond cell 7, by column set.
constexpr std::size_t k_ultraflex_cells = 20;
constexpr std::size_t k_other_cells = 15;

// Identity of a flow file for the cycle check: the same file reached under two spellings of
// its path compares equal.
std::string flow_identity(const std::string& path)
{
  std::error_code ec;
  auto canonical = fs::weakly_canonical(path, ec);
  return ec ? fs::path(path).lexically_normal().string() : canonical.string();
}

// The file of the sub-flow `name` called from the flow at `flow_path`: beside it, or beside the
// working directory's entries when the flow path has no folder part.
std::string sub_flow_path(const std::string& flow_path, const std::string& name)
{
  const auto slash = flow_path.rfind('/');
  if (slash == std::string::npos) {
    return name + ".txt";
  }
  auto folder = flow_path.substr(0, slash);
  while (!folder.empty() && folder.back() == '/') {
    folder.pop_back();
  }
  return folder + "/" + name + ".txt";
}

// The record of `row`, row `line` of `source`. A row too short for its cells throws
// tarnwick::Error naming the place ("" for none); on platforms other than UltraFLEX the same
// message is printed to standard output first.
FlowContent flow_content_at(const text::Row& row, std::string_view platform, std::string_view source,
                            std::size_t line)
{
  const bool ultraflex = text::is_ultraflex(platform);
  const auto need = [&](std::size_t count) {
    if (row.size() >= count) {
      return;
    }
    const Error error((source.empty() ? std::string() : text::row_location(source, line) + ": ") +
                      text::short_row_message(count, row.size()));
    if (!ultraflex) {
      std::cout << error.what() << '\n';
    }
    throw error;
  };
  need(8);
  FlowContent content;
  content.opcode = row[6];
  content.parameter = text::upper(row[7]);
  if (row.size() > 8) {
    need(ultraflex ? k_ultraflex_cells : k_other_cells);
    content.test_number = row[9];
    content.hard_bin = row[ultraflex ? 16 : 11];
    content.sort_bin = row[ultraflex ? 18 : 13];
    content.result = row[ultraflex ? 19 : 14];
  }
  return content;
}

} // namespace

std::string printed(const FlowContent& content)
{
  std::vector<std::pair<std::string, std::string>> fields = {
    {"Opcode", text::quoted(content.opcode)},
    {"Parameter", text::quoted(content.parameter)},
    {"TestNumber", text::quoted(content.test_number)},
    {"HardBin", text::quoted(content.hard_bin)},
    {"SortBin", text::quoted(content.sort_bin)},
    {"Result", text::quoted(content.result)},
  };
  if (content.write_row_start) {
    fields.emplace_back("write_row_start", text::format_int(*content.write_row_start));
  }
  return text::printed_record(fields);
}

FlowContent get_flow_content(const text::Row& flow_table_line, std::string_view platform)
{
  return flow_content_at(flow_table_line, platform, "", 0);
}

// One read of a flow table and the sub-flows it calls. The calls are followed on a stack of
// open flows kept here, not on the machine stack, so a chain of sub-flows any number of files
// deep is read like a flat one. Each file is read once per walk, however often it is called,
// and the rows handled are counted against a limit far above any test program, so sub-flows
// that call each other many times over end with an error instead of growing without end.
class Lomerick::Walk
{
public:
  static constexpr std::size_t k_max_rows = 200'000;

  Walk(std::string_view platform, TestSuiteList& out) : m_platform(platform), m_out(out) {}

  // Reads the flow file at `flow_path` (every "%20" turned into a blank when nothing exists
  // there).
  void read(const std::string& flow_path)
  {
    enter(flow_path);
    run();
  }

  // Reads the export text `text` of the flow at `flow_path` ("" when it has no file).
  void read_text(std::string_view text, const std::string& flow_path)
  {
    m_root.path = flow_path;
    m_root.lines = text::split_lines(text);
    m_stack.push_back({&m_root});
    run();
  }

private:
  struct Flow
  {
    std::string path;               // the settled path; sub-flows are found beside it
    std::string identity;           // "" for a text without a file
    std::vector<std::string> lines; // all of its lines, read before any row is handled
    bool read = false;              // `lines` hold the file

    // The flow's name in messages.
    const std::string& source() const
    {
      static const std::string text_source = "<text>";
      return path.empty() ? text_source : path;
    }
  };

  struct Frame
  {
    const Flow* flow;
    std::size_t next = k_header_rows; // the next line to handle
  };

  // Opens the flow at `flow_path` (not yet settled) on top of the stack. Throws for a flow that
  // is open already (a cycle) and for a file that cannot be read.
  void enter(const std::string& flow_path)
  {
    auto known = m_flows.find(flow_path);
    if (known == m_flows.end()) {
      auto flow = std::make_unique<Flow>();
      flow->path = text::existing_or_unescaped(flow_path);
      flow->identity = flow_identity(flow->path);
      known = m_flows.emplace(flow_path, std::move(flow)).first;
    }
    Flow& flow = *known->second;
    if (m_open.contains(flow.identity)) {
      std::string chain;
      auto it = std::find_if(m_stack.begin(), m_stack.end(),
                             [&flow](const Frame& frame) { return frame.flow->identity == flow.identity; });
      for (; it != m_stack.end(); ++it) {
        chain += it->flow->identity + " -> ";
      }
      throw Error("Error: Sub-flow cycle: " + chain + flow.identity);
    }
    if (!flow.read) {
      flow.lines = text::split_lines(files::read_sheet_export(flow.path));
      flow.read = true;
    }
    m_open.insert(flow.identity);
    m_stack.push_back({&flow});
  }

  void leave()
  {
    m_open.erase(m_stack.back().flow->identity);
    m_stack.pop_back();
  }

  void run()
  {
    while (!m_stack.empty()) {
      Frame& frame = m_stack.back();
      const auto& lines = frame.flow->lines;
      if (frame.next >= lines.size()) {
        leave();
        continue;
      }
      const std::size_t i = frame.next++;
      const std::string& source = frame.flow->source();
      if (++m_rows > k_max_rows) {
        std::string chain;
        for (const auto& open : m_stack) {
          chain += (chain.empty() ? "" : " -> ") + open.flow->source();
        }
        throw Error("Error: Flow table with its sub-flows passes " + std::to_string(k_max_rows)
                    + " rows, at row " + std::to_string(i) + " of " + chain);
      }
      if (!handle_row(lines, i, source)) {
        leave();
      }
    }
  }

  // Handles line `i` of `lines`, the flow on top of the stack, which may open a sub-flow
  // above it. Returns false when the row ends the table.
  bool handle_row(const std::vector<std::string>& lines, std::size_t i, const std::string& source)
  {
    const auto need = [&source](const text::Row& row, std::size_t at, std::size_t count) {
      if (row.size() < count) {
        throw Error(text::row_location(source, at) + ": "
                    + text::short_row_message(count, row.size()));
      }
    };
    const auto cells = text::split_cells(lines[i]);
    need(cells, i, 7);
    const auto& opcode = cells[6];
    if (opcode.empty()) {
      return false;
    }
    const bool test_opcode =
      std::find(k_test_opcodes.begin(), k_test_opcodes.end(), opcode) != k_test_opcodes.end();
    if (test_opcode && cells[5].empty()) {
      need(cells, i, 8);
      if (cells[7].empty()) {
        return true;
      }
      auto record = flow_content_at(cells, m_platform, source, i);
      if (record.hard_bin.empty() || record.sort_bin.empty()) {
        // A sheet may end with a test row that has no bins: nothing follows to lend them.
        std::optional<FlowContent> lender;
        if (i + 1 < lines.size()) {
          lender = flow_content_at(text::split_cells(lines[i + 1]), m_platform, source, i + 1);
        }
        if (lender && lender->opcode == "Use-Limit" && !lender->hard_bin.empty()
            && !lender->sort_bin.empty()) {
          record.hard_bin = lender->hard_bin;
          record.sort_bin = lender->sort_bin;
          record.test_number = lender->test_number;
        } else {
          std::cout << "No SortBin test found: " << lines[i] << '\n';
        }
      }
      m_out.push_back(std::move(record));
    } else if (opcode == "call" && cells[5].empty()) {
      need(cells, i, 8);
      enter(sub_flow_path(m_stack.back().flow->path, cells[7]));
    }
    return true;
  }

  std::string_view m_platform;
  TestSuiteList& m_out;
  Flow m_root;                                                   // the text of read_text
  std::unordered_map<std::string, std::unique_ptr<Flow>> m_flows; // by path as called
  std::unordered_set<std::string> m_open;                        // identities on the stack
  std::vector<Frame> m_stack;                                    // open flows, outermost first
  std::size_t m_rows = 0;                                        // rows handled
};

Lomerick::Lomerick() : m_test_suite_list(std::make_shared<TestSuiteList>()) {}

void Lomerick::read_flow_table(const std::string& flow_path, std::string_view platform)
{
  Walk(platform, *m_test_suite_list).read(flow_path);
}

void Lomerick::parse(std::string_view text, std::string_view platform, const std::string& flow_path)
{
  Walk(platform, *m_test_suite_list).read_text(text, flow_path);
}

std::shared_ptr<TestSuiteList> Lomerick::get_test_suite_info() const
{
  return m_test_suite_list;
}

} // namespace tarnwick::lomerick
