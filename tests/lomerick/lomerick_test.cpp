#include "tarnwick/lomerick/lomerick.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using tarnwick::lomerick::FlowContent;
using tarnwick::lomerick::get_flow_content;
using tarnwick::lomerick::Lomerick;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string k_header = "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n"
                             "\tFlow Domain:\n"
                             "\t\t\tGate\t\t\tCommand\n"
                             "\tLabel\tEnable\tJob\tPart\tEnv\tOpcode\tParameter\tTName\tTNum\n";

// A row of `count` cells holding `cells` at their positions, ended by LF.
std::string row(const std::map<std::size_t, std::string>& cells, std::size_t count = 20)
{
  std::string line;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      line += '\t';
    }
    if (auto it = cells.find(i); it != cells.end()) {
      line += it->second;
    }
  }
  return line + "\n";
}

// An UltraFLEX test row: opcode, instance, test number, hard bin, sort bin, result.
std::string test_row(const std::string& opcode, const std::string& name, const std::string& num,
                     const std::string& hard, const std::string& sort, const std::string& result = "")
{
  return row({{6, opcode}, {7, name}, {9, num}, {16, hard}, {18, sort}, {19, result}});
}

std::string crlf(std::string text)
{
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
    text.insert(at, "\r");
  }
  return text;
}

std::vector<std::string> parameters(const Lomerick& reader)
{
  std::vector<std::string> names;
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
            ("lomerick_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string write(const std::string& name, const std::string& bytes)
  {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  fs::path m_dir;
};

} // namespace

namespace tarnwick::lomerick {
void PrintTo(const FlowContent& content, std::ostream* out)
{
  *out << printed(content);
}
} // namespace tarnwick::lomerick

TEST(GetFlowContent, ColumnSetFollowsPlatform)
{
  const auto cells = tarnwick::text::split_cells(
    row({{6, "Test"}, {7, "func_ß"}, {9, "100"}, {11, "h2"}, {13, "s2"}, {14, "r2"}, {16, "h1"},
         {18, "s1"}, {19, "Pass"}}));
  const auto uf = get_flow_content(cells, "UltraFLEXplus");
  EXPECT_EQ(uf, (FlowContent{"Test", "FUNC_SS", "100", "h1", "s1", "Pass\n", {}}));
  EXPECT_EQ(get_flow_content(cells, "J750"), (FlowContent{"Test", "FUNC_SS", "100", "h2", "s2", "r2", {}}));
  EXPECT_EQ(get_flow_content(tarnwick::text::split_cells(row({{6, "nop"}, {7, "x"}}, 8)), "J750"),
            (FlowContent{"nop", "X\n", "", "", "", "", {}}));

  auto printed_row = uf;
  printed_row.write_row_start = 0;
  EXPECT_EQ(printed(printed_row), "{'Opcode': 'Test', 'Parameter': 'FUNC_SS', 'TestNumber': '100', "
                                  "'HardBin': 'h1', 'SortBin': 's1', 'Result': 'Pass\\n', "
                                  "'write_row_start': 0}");
}

TEST(GetFlowContent, ShortRowsThrowAndOnlyNonUltraFlexPrints)
{
  const auto short_uf = tarnwick::text::split_cells(row({{6, "Test"}, {7, "x"}}, 19));
  CaptureStdout();
  EXPECT_THROW(get_flow_content(short_uf, "UltraFLEX"), tarnwick::Error);
  EXPECT_EQ(GetCapturedStdout(), "");
  // 19 cells are enough for the J750 column set; 14 are not.
  EXPECT_NO_THROW(get_flow_content(short_uf, "J750"));
  CaptureStdout();
  EXPECT_THROW(get_flow_content(tarnwick::text::split_cells(row({{6, "Test"}}, 14)), "J750"),
               tarnwick::Error);
  EXPECT_EQ(GetCapturedStdout(), "row has 14 cells, needs at least 15\n");
}

TEST(Lomerick, TestRowsNeedExactOpcodeEmptyCell5AndAName)
{
  Lomerick reader;
  reader.parse(k_header + test_row("Test", "a", "1", "1", "1") + test_row("test", "b", "1", "1", "1") +
                 test_row("TEST", "c", "1", "1", "1") + test_row("Test-defer-limits", "d", "1", "1", "1") +
                 test_row("nop", "e", "1", "1", "1") + test_row("Test-defer-all", "f", "1", "1", "1") +
                 row({{5, "env"}, {6, "Test"}, {7, "g"}, {16, "1"}, {18, "1"}}) +
                 test_row("Test", "", "1", "1", "1") + test_row("Use-Limit", "h", "1", "1", "1"),
               "UltraFLEX");
  EXPECT_EQ(parameters(reader), (std::vector<std::string>{"A", "D", "E", "F"}));
}

TEST(Lomerick, EmptyOpcodeEndsTableButLineEndDoesNot)
{
  Lomerick reader;
  reader.parse(k_header + test_row("Test", "a", "1", "1", "1") + row({{6, "logprint"}, {7, "x"}}) +
                 "\t\t\t\t\t\t\n" + test_row("Test", "b", "1", "1", "1") + row({}, 20) +
                 test_row("Test", "c", "1", "1", "1"),
               "UltraFLEX");
  // "\t\t\t\t\t\t\n" has "\n" as cell 6: no stop; the row of 20 empty cells stops.
  EXPECT_EQ(parameters(reader), (std::vector<std::string>{"A", "B"}));

  Lomerick few;
  few.parse(k_header, "UltraFLEX");
  few.parse(k_header + row({}, 20) + test_row("Test", "a", "1", "1", "1"), "UltraFLEX");
  EXPECT_TRUE(few.get_test_suite_info()->empty());
}

TEST(Lomerick, UseLimitRowLendsBinsAndTestNumberOnly)
{
  Lomerick reader;
  CaptureStdout();
  reader.parse(k_header + test_row("Test", "a", "100", "", "", "Pass\t") +
                 test_row("Use-Limit", "lim", "", "7", "70", "Fail") +
                 test_row("Test", "b", "200", "2", "") + test_row("Use-Limit", "lim", "9", "", "90") +
                 test_row("Test", "c", "300", "", "3") + test_row("Test", "d", "400", "4", "40"),
               "UltraFLEX");
  EXPECT_EQ(GetCapturedStdout(),
            "No SortBin test found: " + test_row("Test", "b", "200", "2", "") + "\n" +
              "No SortBin test found: " + test_row("Test", "c", "300", "", "3") + "\n");
  const auto& list = *reader.get_test_suite_info();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], (FlowContent{"Test", "A", "", "7", "70", "Pass", {}}));
  EXPECT_EQ(list[1], (FlowContent{"Test", "B", "200", "2", "", "\n", {}}));
  EXPECT_EQ(list[2], (FlowContent{"Test", "C", "300", "", "3", "\n", {}}));
  EXPECT_EQ(list[3].sort_bin, "40");
}

TEST(Lomerick, ShortRowsEndTheReadKeepingEarlierRecords)
{
  Lomerick reader;
  EXPECT_THROW(reader.parse(k_header + test_row("Test", "a", "1", "1", "1") + "\t\t\n", "UltraFLEX"),
               tarnwick::Error);
  // A test row without bins as the last line has no line to borrow from.
  EXPECT_THROW(reader.parse(k_header + test_row("Test", "b", "1", "", ""), "UltraFLEX"),
               tarnwick::Error);
  // The line after such a row must itself make a record.
  try {
    reader.parse(k_header + row({{6, "Test"}, {7, "c"}}, 8) + "\n", "UltraFLEX");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    EXPECT_STREQ(error.what(), "<text>: line 6: row has 1 cells, needs at least 8");
  }
  EXPECT_EQ(parameters(reader), (std::vector<std::string>{"A"}));
}

TEST_F(LomerickFile, SubFlowsInsertAtCallRowAndAppendToOneList)
{
  write("Sub Flow.txt", k_header + test_row("Test", "s1", "1", "1", "1") +
                          row({{6, "call"}, {7, "Leaf"}}) + test_row("Test", "s2", "1", "1", "1"));
  write("Leaf.txt", crlf(k_header + test_row("Test", "leaf", "1", "1", "", "Pass") +
                         test_row("Use-Limit", "", "5", "6", "7")));
  const auto main = write("Main Flow.txt", k_header + test_row("Test", "m1", "1", "1", "1") +
                                             row({{6, "call"}, {7, "Sub Flow"}}) +
                                             row({{5, "x"}, {6, "call"}, {7, "Missing"}}) +
                                             row({{6, "call"}, {7, "Leaf"}}) +
                                             test_row("Test", "m2", "1", "1", "1"));
  Lomerick reader;
  // Blank-escaped path, as the check engine hands it over.
  reader.read_flow_table((m_dir / "Main%20Flow.txt").string(), "UltraFLEXplus");
  reader.read_flow_table(main, "UltraFLEXplus");
  const std::vector<std::string> once = {"M1", "S1", "LEAF", "S2", "LEAF", "M2"};
  auto twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(parameters(reader), twice);
  EXPECT_EQ((*reader.get_test_suite_info())[2], (FlowContent{"Test", "LEAF", "5", "6", "7", "Pass\n", {}}));
}

TEST_F(LomerickFile, SubFlowCycleIsAnErrorNamingTheChain)
{
  write("A.txt", k_header + test_row("Test", "a", "1", "1", "1") + row({{6, "call"}, {7, "B"}}));
  write("B.txt", k_header + row({{6, "call"}, {7, "A"}}));
  Lomerick reader;
  try {
    reader.read_flow_table((m_dir / "A.txt").string(), "UltraFLEX");
    FAIL() << "no error";
  } catch (const tarnwick::Error& error) {
    const auto a = fs::weakly_canonical(m_dir / "A.txt").string();
    const auto b = fs::weakly_canonical(m_dir / "B.txt").string();
    EXPECT_EQ(std::string(error.what()), "Error: Sub-flow cycle: " + a + " -> " + b + " -> " + a);
  }
  EXPECT_EQ(parameters(reader), std::vector<std::string>{"A"});
  // The reader is usable again afterwards.
  write("C.txt", k_header + test_row("Test", "c", "1", "1", "1"));
  reader.read_flow_table((m_dir / "C.txt").string(), "UltraFLEX");
  EXPECT_EQ(parameters(reader), (std::vector<std::string>{"A", "C"}));
}

TEST_F(LomerickFile, MissingFilesAndFlowPathWithoutFolder)
{
  Lomerick reader;
  EXPECT_THROW(reader.read_flow_table((m_dir / "None.txt").string(), "UltraFLEX"),
               tarnwick::FileNotFoundError);
  write("Main.txt", k_header + row({{6, "call"}, {7, "Gone"}}));
  EXPECT_THROW(reader.read_flow_table((m_dir / "Main.txt").string(), "UltraFLEX"),
               tarnwick::FileNotFoundError);

  // A flow path without "/" finds its sub-flows in the working directory.
  write("Rel.txt", k_header + row({{6, "call"}, {7, "Leaf"}}));
  write("Leaf.txt", k_header + test_row("Test", "leaf", "1", "1", "1"));
  const auto cwd = fs::current_path();
  fs::current_path(m_dir);
  Lomerick relative;
  EXPECT_NO_THROW(relative.read_flow_table("Rel.txt", "UltraFLEX"));
  fs::current_path(cwd);
  EXPECT_EQ(parameters(relative), std::vector<std::string>{"LEAF"});
}

TEST(LomerickRealData, ReadsGeneratedFlowTables)
{
  const fs::path dir = "/work/shared/realdata/generated-ultraflex";
  if (!fs::exists(dir)) {
    GTEST_SKIP() << "no real-layout exports on this machine";
  }
  Lomerick reader;
  CaptureStdout();
  reader.read_flow_table((dir / "prb1_flow.txt").string(), "UltraFLEX");
  GetCapturedStdout();
  const auto& list = *reader.get_test_suite_info();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front().opcode, "Test");
  EXPECT_EQ(list.front().parameter, "PROGRAM_CKBD_V1");
  EXPECT_EQ(list.front().test_number, "1000");
}
