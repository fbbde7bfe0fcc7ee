#include "tarnwick/lomerick/lomerick.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::lomerick::FlowContent;
using tarnwick::lomerick::get_flow_content;
using tarnwick::lomerick::Lomerick;
using tarnwick::text::split_cells;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Names = std::vector<std::string>;

namespace tarnwick::lomerick {
void PrintTo(const FlowContent& content, std::ostream* out)
{
  *out << printed(content);
}
} // namespace tarnwick::lomerick

namespace {

const std::string k_header = "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n"
                             "\tFlow Domain:\n\t\t\tGate\n\tLabel\tEnable\tJob\tPart\tEnv\tOpcode\n";

// A row of `count` cells holding `cells` at their positions, ended by LF.
std::string row(const std::map<std::size_t, std::string>& cells, std::size_t count = 20)
{
  std::string line;
  for (std::size_t i = 0; i < count; ++i) {
    line += (i > 0 ? "\t" : "") + (cells.contains(i) ? cells.at(i) : "");
  }
  return line + "\n";
}

// An UltraFLEX row: opcode, instance, test number, hard bin, sort bin, result.
std::string test_row(const std::string& opcode, const std::string& name, const std::string& hard = "1",
                     const std::string& sort = "1", const std::string& num = "", const std::string& result = "")
{
  return row({{6, opcode}, {7, name}, {9, num}, {16, hard}, {18, sort}, {19, result}});
}

Names parameters(const Lomerick& reader)
{
  Names names;
  for (const auto& record : *reader.get_test_suite_info()) {
    names.push_back(record.parameter);
  }
  return names;
}

class LomerickFile : public testing::Test
{
protected:
  void SetUp() override
  {
    m_dir = fs::temp_directory_path() /
            ("lomerick_" + std::to_string(getpid()) + "_" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string write(const std::string& name, const std::string& bytes)
  {
    std::ofstream(m_dir / name, std::ios::binary) << bytes;
    return (m_dir / name).string();
  }

  fs::path m_dir;
};

} // namespace

TEST(GetFlowContent, ColumnSetFollowsPlatformAndShortRowsFail)
{
  const auto cells = split_cells(row({{6, "Test"}, {7, "func_ß"}, {9, "100"}, {11, "h2"}, {13, "s2"},
                                      {14, "r2"}, {16, "h1"}, {18, "s1"}, {19, "Pass"}}));
  auto uf = get_flow_content(cells, "UltraFLEXplus");
  EXPECT_EQ(uf, (FlowContent{"Test", "FUNC_SS", "100", "h1", "s1", "Pass\n", {}}));
  EXPECT_EQ(get_flow_content(cells, "J750"), (FlowContent{"Test", "FUNC_SS", "100", "h2", "s2", "r2", {}}));
  EXPECT_EQ(get_flow_content(split_cells(row({{6, "nop"}, {7, "x"}}, 8)), "J750"),
            (FlowContent{"nop", "X\n", "", "", "", "", {}}));
  uf.write_row_start = 0;
  EXPECT_EQ(printed(uf), "{'Opcode': 'Test', 'Parameter': 'FUNC_SS', 'TestNumber': '100', 'HardBin': "
                         "'h1', 'SortBin': 's1', 'Result': 'Pass\\n', 'write_row_start': 0}");

  // 19 cells suffice for the J750 columns, not for UltraFLEX; only J750 prints the failure.
  CaptureStdout();
  EXPECT_THROW(get_flow_content(split_cells(row({}, 19)), "UltraFLEX"), tarnwick::Error);
  EXPECT_NO_THROW(get_flow_content(split_cells(row({}, 19)), "J750"));
  EXPECT_THROW(get_flow_content(split_cells(row({}, 14)), "J750"), tarnwick::Error);
  EXPECT_EQ(GetCapturedStdout(), "row has 14 cells, needs at least 15\n");
}

TEST(Lomerick, RowSelectionAndStop)
{
  Lomerick reader;
  reader.parse(k_header + test_row("Test", "a") + test_row("test", "b") + test_row("TEST", "c") +
                 test_row("Test-defer-limits", "d") + test_row("nop", "e") + test_row("Test-defer-all", "f") +
                 row({{5, "env"}, {6, "Test"}, {7, "g"}}) + test_row("Test", "") + test_row("Use-Limit", "h") +
                 row({{6, "logprint"}, {7, "x"}}) + "\t\t\t\t\t\t\n" + row({}) + test_row("Test", "after"),
               "UltraFLEX");
  // A cell 6 of "\n" is no stop; the empty cell 6 is.
  EXPECT_EQ(parameters(reader), (Names{"A", "D", "E", "F"}));
  reader.parse(k_header, "UltraFLEX");
  EXPECT_EQ(parameters(reader).size(), 4u);
}

TEST(Lomerick, UseLimitRowLendsBinsAndTestNumber)
{
  Lomerick reader;
  CaptureStdout();
  reader.parse(k_header + test_row("Test", "a", "", "", "100", "Pass\t") + test_row("Use-Limit", "", "7", "70") +
                 test_row("Test", "b", "2", "", "200") + test_row("Use-Limit", "", "", "90", "9") +
                 test_row("Test", "c", "", "3") + test_row("Test", "d", "4", "40"),
               "UltraFLEX");
  EXPECT_EQ(GetCapturedStdout(), "No SortBin test found: " + test_row("Test", "b", "2", "", "200") + "\n" +
                                   "No SortBin test found: " + test_row("Test", "c", "", "3") + "\n");
  const auto& list = *reader.get_test_suite_info();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], (FlowContent{"Test", "A", "", "7", "70", "Pass", {}}));
  EXPECT_EQ(list[1], (FlowContent{"Test", "B", "200", "2", "", "\n", {}}));
  EXPECT_EQ(list[3].sort_bin, "40");
}

TEST(Lomerick, TestRowWithoutBinsMayEndTheSheet)
{
  Lomerick reader;
  CaptureStdout();
  reader.parse(k_header + test_row("Test", "a", "1", "10") + test_row("Test", "b", "", ""), "UltraFLEX");
  EXPECT_EQ(GetCapturedStdout(), "No SortBin test found: " + test_row("Test", "b", "", "") + "\n");
  EXPECT_EQ(parameters(reader), (Names{"A", "B"}));
}

TEST(Lomerick, ShortRowsEndTheReadKeepingEarlierRecords)
{
  Lomerick reader;
  EXPECT_THROW(reader.parse(k_header + test_row("Test", "a") + "\t\t\n", "UltraFLEX"), tarnwick::Error);
  // The line after a test row without bins must make a record.
  EXPECT_THROW(reader.parse(k_header + test_row("Test", "b", "", "") + row({{6, "Use-Limit"}}, 10),
                            "UltraFLEX"),
               tarnwick::Error);
  try {
    reader.parse(k_header + row({{6, "Test"}, {7, "c"}}, 8) + "\n", "UltraFLEX", "f.txt");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_STREQ(error.what(), "f.txt, row 5: row has 1 cells, needs at least 8");
  }
  EXPECT_EQ(parameters(reader), Names{"A"});

  // Other platforms print the failure first: the very text of the error that ends the read.
  CaptureStdout();
  try {
    reader.parse(k_header + row({{6, "Test"}, {7, "d"}}, 12), "J750", "g.txt");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_EQ(GetCapturedStdout(), std::string(error.what()) + "\n");
    EXPECT_STREQ(error.what(), "g.txt, row 4: row has 12 cells, needs at least 15");
  }
}

TEST_F(LomerickFile, SubFlowsInsertAtCallRow)
{
  write("Sub Flow.txt", k_header + test_row("Test", "s1") + row({{6, "call"}, {7, "Leaf"}}) + test_row("Test", "s2"));
  // CR LF line ends.
  auto leaf = k_header + test_row("Test", "leaf");
  for (std::size_t at = 0; (at = leaf.find('\n', at)) != std::string::npos; at += 2) {
    leaf.insert(at, "\r");
  }
  write("Leaf.txt", leaf);
  const auto main = write("Main Flow.txt", k_header + test_row("Test", "m1") + row({{6, "call"}, {7, "Sub Flow"}}) +
                                             row({{5, "x"}, {6, "call"}, {7, "Missing"}}) +
                                             row({{6, "call"}, {7, "Leaf"}}) + test_row("Test", "m2"));
  Lomerick reader;
  // The blank-escaped path that the check engine hands over, then the plain one.
  reader.read_flow_table((m_dir / "Main%20Flow.txt").string(), "UltraFLEX");
  reader.read_flow_table(main, "UltraFLEX");
  const Names once = {"M1", "S1", "LEAF", "S2", "LEAF", "M2"};
  auto twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(parameters(reader), twice);
  EXPECT_EQ(reader.get_test_suite_info()->at(2).result, "\n");
}

TEST_F(LomerickFile, SubFlowCycleIsAnErrorAndPathWithoutFolderIsRelative)
{
  write("A.txt", k_header + test_row("Test", "a") + row({{6, "call"}, {7, "B"}}));
  write("B.txt", k_header + row({{6, "call"}, {7, "A"}}));
  Lomerick reader;
  const auto a = fs::weakly_canonical(m_dir / "A.txt").string();
  const auto b = fs::weakly_canonical(m_dir / "B.txt").string();
  try {
    reader.read_flow_table((m_dir / "A.txt").string(), "UltraFLEX");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_EQ(std::string(error.what()), "Error: Sub-flow cycle: " + a + " -> " + b + " -> " + a);
  }
  EXPECT_EQ(parameters(reader), Names{"A"});
  EXPECT_THROW(reader.read_flow_table((m_dir / "None.txt").string(), "UltraFLEX"), tarnwick::FileNotFoundError);

  // A flow path without "/" finds its sub-flows beside it in the working directory.
  write("Rel.txt", k_header + row({{6, "call"}, {7, "C"}}));
  write("C.txt", k_header + test_row("Test", "c"));
  const auto cwd = fs::current_path();
  fs::current_path(m_dir);
  EXPECT_NO_THROW(reader.read_flow_table("Rel.txt", "UltraFLEX"));
  fs::current_path(cwd);
  EXPECT_EQ(parameters(reader), (Names{"A", "C"}));
}

TEST_F(LomerickFile, DeepAndManyTimesCalledSubFlowsStayBounded)
{
  // A chain of 10,000 sub-flows, each calling the next: read without the machine stack.
  constexpr int k_depth = 10'000;
  for (int i = 0; i < k_depth; ++i) {
    const std::string next = i + 1 < k_depth ? row({{6, "call"}, {7, "F" + std::to_string(i + 1)}})
                                             : test_row("Test", "leaf");
    write("F" + std::to_string(i) + ".txt", k_header + test_row("Test", "t" + std::to_string(i)) + next);
  }
  Lomerick chain;
  chain.read_flow_table((m_dir / "F0.txt").string(), "UltraFLEX");
  ASSERT_EQ(chain.get_test_suite_info()->size(), k_depth + 1U);
  EXPECT_EQ(chain.get_test_suite_info()->back().parameter, "LEAF");

  // Each flow calls the next ten times, six levels deep: 10^6 calls from seven small files.
  for (int level = 0; level < 6; ++level) {
    std::string calls;
    for (int copy = 0; copy < 10; ++copy) {
      calls += row({{6, "call"}, {7, "G" + std::to_string(level + 1)}});
    }
    write("G" + std::to_string(level) + ".txt", k_header + test_row("Test", "g") + calls);
  }
  write("G6.txt", k_header + test_row("Test", "g"));
  Lomerick wide;
  const auto g = [this](int level) { return (m_dir / ("G" + std::to_string(level) + ".txt")).string(); };
  try {
    wide.read_flow_table(g(0), "UltraFLEX");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_EQ(std::string(error.what()), "Error: Flow table with its sub-flows passes 200000 rows, at row 4 of " + g(0) +
                                           " -> " + g(1) + " -> " + g(2) + " -> " + g(3) + " -> " + g(4) +
                                           " -> " + g(5) + " -> " + g(6));
  }
  EXPECT_LT(wide.get_test_suite_info()->size(), 200'000U);
}

TEST(LomerickRealData, ReadsGeneratedFlowTable)
{
  const fs::path dir = fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-ultraflex";
  if (!fs::exists(dir)) {
    GTEST_SKIP() << "no real-layout exports on this machine";
  }
  Lomerick reader;
  CaptureStdout();
  reader.read_flow_table((dir / "prb1_flow.txt").string(), "UltraFLEX");
  GetCapturedStdout();
  const auto& first = reader.get_test_suite_info()->at(0);
  EXPECT_EQ(first.parameter, "PROGRAM_CKBD_V1");
  EXPECT_EQ(first.test_number, "1000");

  // This export ends with a test row whose bins are empty.
  Lomerick ending;
  CaptureStdout();
  ending.read_flow_table((dir / "prb2_flow.txt").string(), "UltraFLEX");
  EXPECT_NE(GetCapturedStdout().find("No SortBin test found: "), std::string::npos);
  EXPECT_FALSE(ending.get_test_suite_info()->empty());
}
