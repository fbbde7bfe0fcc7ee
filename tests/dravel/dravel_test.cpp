#include "tarnwick/dravel/dravel.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "tarnwick/text/error.hpp"
#include "tool_fixture.hpp"

namespace fs = std::filesystem;
using tarnwick::dravel::Dravel;
using tarnwick::dravel::PatternSetDict;
using Paths = std::vector<std::string>;

namespace {

const std::string k_uf_version = "DTPatternSetSheet,version=2.3:platform=Jaguar\tPattern Sets\n";

// Header rows after the version line.
const std::string k_headers = "\n\tPattern Set\tTD Group\tTime Domain\tFile/Group Name\n";

// A data row with set `name` and `item` in cell `cell`, `count` cells in all.
std::string row(const std::string& name, const std::string& item, std::size_t cell = 4,
                std::size_t count = 9)
{
  std::string line;
  for (std::size_t i = 0; i < count; ++i) {
    line += i == 0 ? "" : "\t";
    line += i == 1 ? name : i == cell ? item : "";
  }
  return line + "\n";
}

std::string sheet(const std::string& rows)
{
  return k_uf_version + k_headers + rows;
}

std::string error_of(const std::function<void()>& action)
{
  try {
    action();
  } catch (const tarnwick::Error& error) {
    return error.what();
  }
  return "no error";
}

} // namespace

TEST(Dravel, VersionChoosesItemCellWithoutItemHeadingAndSetsKeepLastRun)
{
  const std::string unnamed = "\n\tPattern Set\tTD Group\n";
  Dravel reader;
  reader.parse(k_uf_version + unnamed + row("A", "a23.pat", 4));
  reader.parse("DTPatternSetSheet,version=1.1:x\n" + unnamed + row("B", "b11.pat", 2));
  reader.parse("DTPatternSetSheet,version=3.0:x\n" + unnamed + row("C", "c30.pat", 5));
  reader.parse("DFF 1.1 Pattern Sets\n" + unnamed + row("D", "d11.pat", 2), "J750");
  EXPECT_EQ(*reader.get_pattern_set_info(),
            (PatternSetDict{{"A", {"a23.pat"}}, {"B", {"b11.pat"}}, {"C", {"c30.pat"}}, {"D", {"d11.pat"}}}));

  // A set keeps only its last run of rows.
  Dravel runs;
  runs.parse(sheet(row("A", "a1.pat") + row("A", "a2.pat") + row("B", "b.pat") + row("A", "a3.pat") +
                     row("abc", "x.pat") + row("ABC", "y.pat") + row("ABC", "z.pat\n")));
  EXPECT_EQ(*runs.get_pattern_set_info(),
            (PatternSetDict{{"A", {"a3.pat"}}, {"B", {"b.pat"}}, {"ABC", {"y.pat", "z.pat"}}}));
}

TEST(Dravel, ItemHeadingChoosesItemCellOverVersion)
{
  // Layouts as the tester exports them: the item column moves with the columns before it.
  struct Case
  {
    std::string version_line, headings, platform;
    std::size_t cell;
  };
  const std::vector<Case> cases = {
    {"DTPatternSetSheet,version=2.1:platform=Jaguar\tPattern Sets\n",
     "\tPattern Set\tTD Group\tTime Domain\tFile/Group Name\tBurst\tStart Label\n", "UltraFLEX", 4},
    {"DTPatternSetSheet,version=2.5:platform=Jaguar\tPattern Sets\n",
     "\tPattern Set\tTD Group\tTime Domain\tEnable\tFile/Group Name\tBurst\n", "UltraFLEX", 5},
    {"DTPatternSetSheet,version=2.3:platform=Jaguar\n", "\tPattern Set\t\t\t\t\tFile/Group Name\n",
     "UltraFLEX", 6},
    {"DFF 1.1\tPattern Sets\n", "\tPattern Set\tFile/Group Name\tStart Label\n", "J750", 2},
  };
  for (const auto& c : cases) {
    Dravel reader;
    // "Yes" in the cell after the item, as the Burst column holds it.
    std::string data = row("S", "s.PAT", c.cell);
    data.replace(data.find('\t', data.find("s.PAT")) + 1, 0, "Yes");
    reader.parse(c.version_line + "\n" + c.headings + data, c.platform);
    EXPECT_EQ(*reader.get_pattern_set_info(), (PatternSetDict{{"S", {"s.PAT"}}})) << c.headings;
  }
}

TEST(Dravel, ReadErrorsAndStops)
{
  Dravel reader;
  EXPECT_EQ(error_of([&] { reader.parse("version=2.3\n" + k_headers + row("A", "a.pat")); }),
            "<text>, row 0: no sheet version found (expected a match of version=(\\S+?):)");
  EXPECT_EQ(error_of([&] { reader.parse(sheet(row("A", "a.pat")), "J750"); }),
            "<text>, row 0: no sheet version found (expected a match of DFF (\\d+(\\.\\d+)?))");
  EXPECT_TRUE(reader.get_pattern_set_info()->empty());

  // Empty exports and exports without data rows add nothing.
  reader.parse("");
  reader.parse(k_uf_version + "\n\n");
  // The first empty cell 1 or empty line ends the table.
  reader.parse(sheet(row("A", "a.pat") + row("", "x.pat") + row("B", "b.pat")));
  reader.parse(sheet(row("C", "c.pat") + "\n" + row("D", "d.pat")));
  // A row without its item cell fails; what was read before stays.
  EXPECT_EQ(error_of([&] { reader.parse(sheet(row("E", "e.pat") + row("F", "f.pat", 4, 4)), "UltraFLEX", "ps.txt"); }),
            "ps.txt, row 4: row has 4 cells, the pattern item is in cell 4");
  EXPECT_EQ(*reader.get_pattern_set_info(),
            (PatternSetDict{{"A", {"a.pat"}}, {"C", {"c.pat"}}, {"E", {"e.pat"}}}));
  EXPECT_EQ(*reader.get_pattern_cycle_info(),
            (tarnwick::dravel::PatternCycleDict{{"A", 0}, {"C", 0}, {"E", 0}, {"F", 0}}));
}

TEST(Dravel, ItemsResolveToFilesOrNestedSets)
{
  Dravel reader;
  reader.parse(sheet(row("TOP", "mid") + row("TOP", "t.pat") + row("MID", "m1.PATX") + row("MID", "m2.PATX.GZ") +
                     row("MY.PATSET", "q.pat") + row("TWICE", "Mid") + row("TWICE", "MID") +
                     row("LAST", "core.pat", 4, 5)));
  EXPECT_EQ(reader.get_pat_path("top"), (Paths{"m1.PATX", "m2.PATX.GZ", "t.pat"}));
  EXPECT_EQ(reader.get_pat_path("Core.Pat"), Paths{"Core.Pat"});
  EXPECT_EQ(reader.get_pat_path("a.pat/b.patx.gz:x"), Paths{"a.pat/b.patx.gz"});
  EXPECT_EQ(reader.get_pat_path("MY.PATSET"), Paths{"MY.PAT"});
  const auto all = reader.get_pattern_set_info();
  EXPECT_EQ(all->at("TWICE"), (Paths{"m1.PATX", "m2.PATX.GZ", "m1.PATX", "m2.PATX.GZ"}));
  EXPECT_EQ(all->at("LAST"), Paths{"core.pat"});
  EXPECT_EQ(error_of([&] { reader.get_pat_path("nothing"); }),
            "Error: Patset found item without pattern definition: nothing");

  Dravel empty_item;
  empty_item.parse(sheet(row("A", "a.pat") + row("B", "")));
  EXPECT_EQ(error_of([&] { empty_item.get_pattern_set_info(); }),
            "Error: Patset found item without pattern definition: ");
}

TEST(Dravel, SetThatContainsItselfIsAnError)
{
  Dravel reader;
  reader.parse(sheet(row("A", "b") + row("B", "x.pat") + row("B", "a") + row("C", "c")));
  EXPECT_EQ(error_of([&] { reader.get_pattern_set_info(); }), "Error: Patset cycle: A -> B -> A");
  EXPECT_EQ(error_of([&] { reader.get_pat_path("c"); }), "Error: Patset cycle: C -> C");
}

TEST(Dravel, HostileNestingEndsWithAnErrorNamingTheSet)
{
  // A chain D0 -> D1 -> ... of `depth` sets, the last one holding a pattern.
  const auto chain = [](std::size_t depth) {
    std::string rows;
    for (std::size_t i = 0; i + 1 < depth; ++i) {
      rows += row("D" + std::to_string(i), "d" + std::to_string(i + 1));
    }
    return sheet(rows + row("D" + std::to_string(depth - 1), "x.pat"));
  };
  // 9,000 sets deep: each set is resolved once, without the machine stack.
  Dravel deep;
  deep.parse(chain(9'000));
  const auto all = deep.get_pattern_set_info();
  ASSERT_EQ(all->size(), 9'000U);
  EXPECT_EQ(all->at("D0"), Paths{"x.pat"});
  EXPECT_EQ(all->at("D8999"), Paths{"x.pat"});

  Dravel deeper;
  deeper.parse(chain(100'000));
  EXPECT_EQ(error_of([&] { deeper.get_pattern_set_info(); }),
            "Error: Patset nesting deeper than 10000 sets: D0 -> ... -> D10000");
  EXPECT_EQ(error_of([&] { deeper.get_pat_path("d50000"); }),
            "Error: Patset nesting deeper than 10000 sets: D50000 -> ... -> D60000");

  // Ten copies of the next set, nine levels deep: 10^9 paths from a 91-row sheet.
  std::string rows;
  for (int level = 0; level < 9; ++level) {
    for (int copy = 0; copy < 10; ++copy) {
      rows += row("D" + std::to_string(level), "D" + std::to_string(level + 1));
    }
  }
  Dravel wide;
  wide.parse(sheet(rows + row("D9", "x.pat")));
  EXPECT_EQ(error_of([&] { wide.get_pattern_set_info(); }),
            "Error: Patset expansion passes 2000000 patterns at set D2");
  EXPECT_EQ(error_of([&] { wide.get_pat_path("D0"); }),
            "Error: Patset expansion passes 2000000 patterns at set D2");
  // Below the limit a set named several times still gives its paths every time.
  const auto paths = wide.get_pat_path("D4");
  EXPECT_EQ(paths.size(), 100'000U);
  EXPECT_EQ(paths.back(), "x.pat");
}

TEST(Dravel, TruncateAfterSubstring)
{
  const std::array<std::string_view, 2> subs = {".b", ".a"};
  // The first element that qualifies wins, not the earliest occurrence.
  EXPECT_EQ(Dravel::truncate_after_substring("x.A.B_y", subs), "x.A.B");
  // An occurrence at the very end does not qualify.
  EXPECT_EQ(Dravel::truncate_after_substring("x.a_y.b", subs), "x.a");
  EXPECT_EQ(Dravel::truncate_after_substring("x.b", subs), "x.b");
  EXPECT_EQ(Dravel::truncate_after_substring("Ä.PAT.GZ1", Dravel::valid_extensions), "Ä.PAT.GZ");
  EXPECT_TRUE(Dravel::contains_any_substring("A.PATX", Dravel::valid_extensions));
  EXPECT_FALSE(Dravel::contains_any_substring("a.patx", Dravel::valid_extensions));
}

TEST(Dravel, PatternFileCycleCounts)
{
  Dravel reader;
  reader.parse(sheet(row("Set", "a.pat")));
  const std::string dump = "Number of pattern vectors: 7\n"
                           "1 0x00000002 x repeat = 3\n"
                           "2 00000010 repeat = 1\n"
                           "3 12345 repeat = 5\n"
                           "Number of pattern vectors: 10\n";
  reader.parse_pattern_file(dump, "set");
  reader.parse_pattern_file(dump, "SET");
  EXPECT_EQ(reader.get_pattern_cycle_info()->at("SET"), 64);

  EXPECT_EQ(error_of([&] { reader.parse_pattern_file(dump, "other"); }),
            "Error: pattern set not found: other");
  EXPECT_EQ(error_of([&] { reader.parse_pattern_file("1 0x0000 count\n", "SET"); }),
            "<text>, row 0: vector line without \"repeat = <n>\"");
  EXPECT_EQ(error_of([&] { reader.parse_pattern_file("1 0x0000zz repeat = 1\n", "SET"); }),
            "<text>, row 0: count 0x0000zz is not a 64-bit hexadecimal number");
  // Sums are checked: an overflow fails and leaves the table as it was.
  EXPECT_EQ(error_of([&] { reader.parse_pattern_file("1 0x00007FFFFFFFFFFF repeat = 70000\n", "SET"); }),
            "<text>, row 0: cycle count exceeds the 64-bit range");
  EXPECT_THROW(reader.parse_pattern_file("1 0x00007FFFFFFFFFFF repeat = 60000\n"
                                         "2 0x00007FFFFFFFFFFF repeat = 60000\n", "SET"),
               tarnwick::Error);
  EXPECT_THROW(reader.parse_pattern_file("Number of pattern vectors: 99999999999999999999\n", "SET"),
               tarnwick::Error);
  EXPECT_EQ(reader.get_pattern_cycle_info()->at("SET"), 64);
}

using DravelFile = ToolDir;

TEST_F(DravelFile, ReadsCrLfSheetUnderBlankEscapedName)
{
  write("PS A.txt", "DTPatternSetSheet,version=2.3:x\r\n\r\n\r\n\tS\t\t\tp.PAT\r\n");
  Dravel reader;
  reader.read_pattern_set((m_dir / "PS%20A.txt").string(), "/unused", "UltraFLEXplus");
  // The item is the row's last cell: resolution cuts its line end off.
  EXPECT_EQ(*reader.get_pattern_set_info(), (PatternSetDict{{"S", {"p.PAT"}}}));
  EXPECT_THROW(reader.read_pattern_set((m_dir / "PS%20B.txt").string(), "", "UltraFLEX"),
               tarnwick::FileNotFoundError);

  // A folder under the escaped name is no sheet: the blank form is read.
  fs::create_directories(m_dir / "PS%20C.txt");
  write("PS C.txt", "DTPatternSetSheet,version=2.3:x\n\n\n\tT\t\t\tt.PAT\n");
  reader.read_pattern_set((m_dir / "PS%20C.txt").string(), "", "UltraFLEX");
  EXPECT_EQ(reader.get_pattern_set_info()->at("T"), Paths{"t.PAT"});
}

TEST_F(DravelFile, TimeSetQueryRunsPatternToolOnJoinedPath)
{
  write("dev/Patterns/core/a.PATX", "> tp0 1 ;\n> tp1 0 ;\n> tp0 1 ;\n");
  const auto folder = (m_dir / "dev/Patterns").string();
  Dravel reader;
  reader.read_tset_from_pattern(folder, ".\\Patterns\\core\\a.PATX");
  const auto first = reader.get_pattern_tset();
  EXPECT_EQ(*first, (Paths{"tp0", "tp1"}));
  EXPECT_EQ(slurp(m_dir / "dev/Patterns/pattern_tset.txt"), "\ttp0 0\n\ttp1 0\n");

  // An empty folder leaves the list as it was; a missing pattern gives the error entry in a new
  // list, and the list handed out before keeps its names.
  reader.read_tset_from_pattern("", "x.pat");
  EXPECT_EQ(reader.get_pattern_tset(), first);
  reader.read_tset_from_pattern(folder, "./Patterns/none.pat");
  EXPECT_EQ(*reader.get_pattern_tset(), Paths{"Error: pattern file does not exist"});
  EXPECT_EQ(*first, (Paths{"tp0", "tp1"}));

  // An item without a folder names the folder's parent: the tool fails on a directory, and the
  // listing of the earlier query is not read back.
  reader.read_tset_from_pattern(folder, "a.PATX");
  EXPECT_TRUE(reader.get_pattern_tset()->empty());
  EXPECT_EQ(slurp(m_dir / "dev/Patterns/pattern_tset.txt"), "");

  // No tool on PATH: an empty listing and an empty list.
  reader.read_tset_from_pattern(folder, "./Patterns/core/a.PATX");
  EXPECT_FALSE(reader.get_pattern_tset()->empty());
  set_path((m_dir / "no-tools").string());
  reader.read_tset_from_pattern(folder, "./Patterns/core/a.PATX");
  EXPECT_TRUE(reader.get_pattern_tset()->empty());
  EXPECT_EQ(*first, (Paths{"tp0", "tp1"}));
}

TEST_F(DravelFile, TimeSetQueryTakesOnlyWellFormedListingLines)
{
  // A stand-in tool that records its arguments and prints a fixed listing.
  const auto tool = write("tools/patinfo", "#!/bin/sh\n"
                                           "printf '%s\\n' \"$@\" > \"" + (m_dir / "args.txt").string() + "\"\n"
                                           "printf '\\tTS_A 0\\n\\tTS_B  1\\n\\tTS_C   2\\n\\tTS_D 12\\n"
                                           "\\tTS_A 3\\nTS_E 0\\n\\tTS_F 0'\n");
  fs::permissions(tool, fs::perms::owner_all);
  set_path((m_dir / "tools").string());
  write("x.pat", "");
  fs::create_directories(m_dir / "Patterns");
  Dravel reader;
  reader.read_tset_from_pattern((m_dir / "Patterns").string(), "./x.pat");
  EXPECT_EQ(*reader.get_pattern_tset(), (Paths{"TS_A", "TS_B", "TS_A"}));
  EXPECT_EQ(slurp(m_dir / "args.txt"), (m_dir / "x.pat").string() + "\n-tset\n");

  // The folder loses its last component, also an empty one after a trailing "/", and
  // backslashes split it like slashes; the listing stays in the folder as given.
  write("Patterns/Patterns/y.pat", "");
  reader.read_tset_from_pattern((m_dir / "Patterns").string() + "/", ".\\Patterns\\y.pat");
  EXPECT_EQ(slurp(m_dir / "args.txt"), (m_dir / "Patterns/Patterns/y.pat").string() + "\n-tset\n");
  fs::create_directories(m_dir / "A\\B");
  write("A/x.pat", "");
  reader.read_tset_from_pattern((m_dir / "A\\B").string(), "B\\x.pat");
  EXPECT_EQ(slurp(m_dir / "args.txt"), (m_dir / "A/x.pat").string() + "\n-tset\n");
  EXPECT_TRUE(fs::exists(m_dir / "A\\B/pattern_tset.txt"));
}

TEST_F(DravelFile, TimeSetQueryRunsNoShell)
{
  const std::string name = "a\"$(touch x)`touch y`\".pat";
  write("Patterns/" + name, "> tp0 1 ;\n");
  const auto cwd = fs::current_path();
  fs::current_path(m_dir);
  Dravel reader;
  reader.read_tset_from_pattern((m_dir / "Patterns").string(), "./Patterns/" + name);
  fs::current_path(cwd);
  EXPECT_EQ(*reader.get_pattern_tset(), Paths{"tp0"});
  EXPECT_FALSE(fs::exists(m_dir / "x"));
  EXPECT_FALSE(fs::exists(m_dir / "y"));
  EXPECT_FALSE(fs::exists(m_dir / "Patterns/x"));
}

TEST_F(DravelFile, ListingThatCannotBeOpenedIsAnError)
{
  write("x/a.pat", "> tp0 1 ;\n");
  Dravel reader;
  const auto folder = (m_dir / "NoSuch").string();
  EXPECT_EQ(error_of([&] { reader.read_tset_from_pattern(folder, "./x/a.pat"); }),
            "Error: cannot open the time-set listing " + folder +
              "/pattern_tset.txt: No such file or directory");

  // A FIFO without a reader in the listing's place is refused, not waited on (the alarm ends
  // the test should it wait after all).
  fs::create_directories(m_dir / "Fifo");
  const auto fifo_folder = (m_dir / "Fifo").string();
  ASSERT_EQ(::mkfifo((fifo_folder + "/pattern_tset.txt").c_str(), 0600), 0);
  ::alarm(20);
  EXPECT_EQ(error_of([&] { reader.read_tset_from_pattern(fifo_folder, "./x/a.pat"); }),
            "Error: cannot open the time-set listing " + fifo_folder +
              "/pattern_tset.txt: Is a FIFO");
  ::alarm(0);
}

TEST(DravelRealData, ReadsGeneratedPatternSets)
{
  const fs::path path = fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata/generated-j750/prb1_patsets.txt";
  if (!fs::exists(path)) {
    GTEST_SKIP() << "no real-layout exports on this machine";
  }
  Dravel reader;
  reader.read_pattern_set(path.string(), "", "J750");
  const auto sets = reader.get_pattern_set_info();
  ASSERT_TRUE(sets->contains("ANOTHER_NOT_P1_OR_P2_TEST_PSET"));
  EXPECT_EQ(sets->at("ANOTHER_NOT_P1_OR_P2_TEST_PSET"),
            (Paths{"another_not_p1_or_p2_test.PAT", "nvm_global_subs.PAT"}));
}
