#include "tarnwick/lomerick/lomerick.hpp"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

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

Lomerick::Lomerick() : m_test_suite_list(std::make_shared<TestSuiteList>()) {}

void Lomerick::read_flow_table(const std::string& flow_path, std::string_view platform)
{
  read_settled(text::existing_or_unescaped(flow_path), platform);
}

void Lomerick::read_settled(const std::string& flow_path, std::string_view platform)
{
  const auto identity = flow_identity(flow_path);
  if (std::find(m_open_flows.begin(), m_open_flows.end(), identity) != m_open_flows.end()) {
    std::string chain;
    for (auto it = std::find(m_open_flows.begin(), m_open_flows.end(), identity);
         it != m_open_flows.end(); ++it) {
      chain += *it + " -> ";
    }
    throw Error("Error: Sub-flow cycle: " + chain + identity);
  }
  const auto contents = text::read_text_file(flow_path);
  m_open_flows.push_back(identity);
  try {
    parse(contents, platform, flow_path);
  } catch (...) {
    m_open_flows.pop_back();
    throw;
  }
  m_open_flows.pop_back();
}

void Lomerick::parse(std::string_view text, std::string_view platform, const std::string& flow_path)
{
  const auto lines = text::split_lines(text);
  const std::string source = flow_path.empty() ? "<text>" : flow_path;
  const auto need = [&source](const text::Row& row, std::size_t i, std::size_t count) {
    if (row.size() < count) {
      throw Error(text::row_location(source, i) + ": " + text::short_row_message(count, row.size()));
    }
  };

  for (std::size_t i = k_header_rows; i < lines.size(); ++i) {
    const auto cells = text::split_cells(lines[i]);
    need(cells, i, 7);
    const auto& opcode = cells[6];
    if (opcode.empty()) {
      return;
    }
    const bool test_opcode =
      std::find(k_test_opcodes.begin(), k_test_opcodes.end(), opcode) != k_test_opcodes.end();
    if (test_opcode && cells[5].empty()) {
      need(cells, i, 8);
      if (cells[7].empty()) {
        continue;
      }
      auto record = flow_content_at(cells, platform, source, i);
      if (record.hard_bin.empty() || record.sort_bin.empty()) {
        // A sheet may end with a test row that has no bins: nothing follows to lend them.
        std::optional<FlowContent> lender;
        if (i + 1 < lines.size()) {
          lender = flow_content_at(text::split_cells(lines[i + 1]), platform, source, i + 1);
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
      m_test_suite_list->push_back(std::move(record));
    } else if (opcode == "call" && cells[5].empty()) {
      need(cells, i, 8);
      read_flow_table(sub_flow_path(flow_path, cells[7]), platform);
    }
  }
}

std::shared_ptr<TestSuiteList> Lomerick::get_test_suite_info() const
{
  return m_test_suite_list;
}

} // namespace tarnwick::lomerick
