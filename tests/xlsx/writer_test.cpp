#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tarnwick/text/error.hpp"
#include "tarnwick/xlsx/part_check.hpp"
#include "tarnwick/xlsx/reader.hpp"
#include "tarnwick/xlsx/writer.hpp"
#include "test_util.hpp"
#include "tests/small_tmpfs.hpp"

namespace tarnwick::xlsx {
namespace {

using test::TempDirTest;

constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();
constexpr double k_inf = std::numeric_limits<double>::infinity();

std::string repeat(const std::string& piece, std::size_t count)
{
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    out += piece;
  }
  return out;
}

class WorkbookTest : public TempDirTest
{
protected:
  // The check-workbook shapes: formats, outline rows, filters, panes, conditional formats.
  std::filesystem::path write_sample(bool with_vba)
  {
    const auto path = m_dir / (with_vba ? "sample.xlsm" : "sample.xlsx");
    Workbook book(path, {.nan_inf_to_errors = true});
    book.set_created(std::chrono::sys_days{std::chrono::year{2026} / 3 / 7} + std::chrono::hours{9});
    const Format red = book.add_format({.bg_color = 0xFFC7CE});
    const Format yellow = book.add_format({.bg_color = 0xF7D674});
    const Format bold = book.add_format({.bold = true});

    Worksheet& job = book.add_worksheet("Job_1");
    job.outline_settings(true, false, true, false);
    job.write_row(0, 0, std::vector<std::string>{"Opcode", "Parameter", "Result"});
    job.set_column(1, 1, 20);
    job.set_column(5, 2, 15);
    job.write_string(1, 0, "nop");
    job.set_row(1, std::nullopt, red);
    job.set_row(1, std::nullopt, {}, {.collapsed = true});
    job.write_string(2, 0, "Test");
    job.set_row(2, std::nullopt, {}, {.level = 1, .hidden = true});
    job.write_string(1, 2, "", yellow);   // formatted blank
    job.write_string(2, 2, "");           // nothing
    job.write_blank(2, 3);                // nothing
    job.write_string(3, 0, "=1+2");       // a text, not a formula
    job.write_string(3, 1, "http://example.com/a");
    job.write_string(3, 2, std::string("keep _x000D_ literally, and \0 too", 33));
    job.write_number(4, 0, 2.5);
    job.write_number(4, 1, k_nan);
    job.write_number(4, 2, k_inf);
    job.write_number(4, 3, -k_inf);
    job.write_string(5, 0, repeat("\xC3\xA9", 40000)); // 40,000 two-byte code points
    job.write_string(5, 1, "ab\xFF" "cd\xC3");          // invalid UTF-8
    job.autofilter(0, 0, 0, 100);
    job.freeze_panes("C2");
    job.set_row(0, 20, bold);

    Worksheet& bins = book.add_worksheet("SortBinDescrp");
    bins.write_column(0, 0, std::vector<CellValue>{std::string("1"), 7.0, CellValue{}});
    bins.conditional_format(0, 0, 2, 0, ConditionalType::duplicate, red);
    bins.conditional_format(4, 3, 4, 2, ConditionalType::blanks, red);
    bins.freeze_panes(1, 1);
    if (with_vba) {
      const auto vba = m_dir / "vbaProject.bin";
      test::write_file(vba, "not really a VBA project");
      book.add_vba_project(vba);
    }
    book.close();
    return path;
  }
};

TEST_F(WorkbookTest, CellsReadBackWithTheirKinds)
{
  const Reader reader(write_sample(false));
  ASSERT_EQ(reader.sheet_names(), (std::vector<std::string>{"Job_1", "SortBinDescrp"}));
  const Sheet job = reader.read_sheet("Job_1");

  EXPECT_EQ(job.cell(0, 1).text, "Parameter");
  // A formatted blank is a stored (empty) cell; an empty text or blank without format is not.
  EXPECT_EQ(job.cell(1, 2).kind, CellKind::empty);
  EXPECT_EQ(job.row_cells(1).size(), 2U);
  EXPECT_EQ(job.row_cells(2).size(), 1U);
  // Texts stay texts.
  EXPECT_EQ(job.cell(3, 0).kind, CellKind::text);
  EXPECT_EQ(job.cell(3, 0).text, "=1+2");
  EXPECT_FALSE(job.cell(3, 0).has_formula);
  EXPECT_EQ(job.cell(3, 1).text, "http://example.com/a");
  EXPECT_EQ(job.cell(3, 2).text, std::string("keep _x000D_ literally, and \0 too", 33));
  EXPECT_EQ(job.cell(4, 0).kind, CellKind::number);
  EXPECT_EQ(job.cell(4, 0).number, 2.5);
  // NaN and infinity become error formulas.
  EXPECT_EQ(job.cell(4, 1).formula, "#NUM!");
  EXPECT_EQ(job.cell(4, 1).text, "#NUM!");
  EXPECT_EQ(job.cell(4, 2).formula, "1/0");
  EXPECT_EQ(job.cell(4, 2).text, "#DIV/0!");
  EXPECT_EQ(job.cell(4, 3).text, "#DIV/0!");
  // Cut to 32,767 code points, not bytes.
  EXPECT_EQ(job.cell(5, 0).text, repeat("\xC3\xA9", k_max_text_length));
  EXPECT_EQ(job.cell(5, 1).text, "ab\xEF\xBF\xBD" "cd\xEF\xBF\xBD");
  EXPECT_EQ(job.row_count(), 6U);
  EXPECT_EQ(job.column_count(), 4U);

  const Sheet bins = reader.read_sheet(1);
  EXPECT_EQ(bins.cell(0, 0).text, "1");
  EXPECT_EQ(bins.cell(1, 0).number, 7.0);
  EXPECT_EQ(bins.row_count(), 2U);
}

// Texts go inline into their cells in constant-memory mode: they read back as from the table of
// shared texts, and a row above the last row begun is refused.
TEST_F(WorkbookTest, ConstantMemoryCellsReadBackAsSharedOnes)
{
  const std::vector<std::string> texts = {
    "  leading and trailing  ", "\tTab", "a & b < c > d \"q\" 'a'", "ctrl \x01\x1f end",
    "keep _x000D_ literally", std::string("nul \0 in", 9), "计数 ſ \u3000", "ab\xFF" "cd\xC3",
    repeat("\xC3\xA9", 40000), ""};
  auto write = [&](const std::string& name, bool constant_memory) {
    Workbook book(m_dir / name, {.constant_memory = constant_memory});
    Worksheet& sheet = book.add_worksheet("S");
    for (std::size_t row = 0; row < texts.size(); ++row) {
      sheet.write_string(static_cast<Row>(row), 0, texts[row]);
      sheet.write_number(static_cast<Row>(row), 1, static_cast<double>(row) + 0.5);
    }
    sheet.set_column(0, 1, 30);
    if (constant_memory) {
      EXPECT_THROW(sheet.write_string(1, 2, "too late"), Error);
    }
    return book.close();
  };
  const Sheet shared = Reader(write("shared.xlsx", false)).read_sheet("S");
  const Sheet inline_texts = Reader(write("inline.xlsx", true)).read_sheet("S");
  ASSERT_EQ(inline_texts.row_count(), texts.size());
  ASSERT_EQ(inline_texts.row_count(), shared.row_count());
  for (std::size_t row = 0; row < texts.size(); ++row) {
    for (std::size_t column = 0; column < 2; ++column) {
      const Cell& a = shared.cell(row, column);
      const Cell& b = inline_texts.cell(row, column);
      EXPECT_EQ(a.kind, b.kind) << row;
      EXPECT_EQ(a.text, b.text) << row;
      EXPECT_EQ(a.number, b.number) << row;
    }
  }
  EXPECT_EQ(inline_texts.cell(0, 0).text, texts[0]);
}

// The library's scratch files (a constant-memory sheet keeps one open while it is written) lie
// in the folder given, not in $TMPDIR.
TEST_F(WorkbookTest, ScratchFilesGoIntoTheScratchFolderGiven)
{
  const auto scratch = m_dir / "scratch";
  std::filesystem::create_directory(scratch);
  auto open_scratch_files = [] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
      if (target.find("/tmp.") != std::string::npos && target.ends_with(" (deleted)")) {
        found.push_back(target);
      }
    }
    return found;
  };
  Workbook book(m_dir / "book.xlsx", {.constant_memory = true, .scratch_folder = scratch});
  book.add_worksheet("S").write_string(0, 0, "row");
  const std::vector<std::string> found = open_scratch_files();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].rfind((scratch / "tmp.").string(), 0), 0u) << found[0];
  EXPECT_EQ(Reader(book.close()).read_sheet("S").cell(0, 0).text, "row");
  EXPECT_TRUE(open_scratch_files().empty());
  EXPECT_TRUE(std::filesystem::is_empty(scratch));
}

// The library cuts its scratch files short without a word when their folder fills up; the close
// fails with the reason then, and nothing stands under the workbook's name or beside it.
TEST_F(WorkbookTest, AScratchFolderThatFillsUpFailsTheCloseAndLeavesNothing)
{
  const tarnwick::test::SmallTmpfs scratch(m_dir / "scratch", 4096);
  if (!scratch.mounted()) {
    GTEST_SKIP() << scratch.why_not();
  }
  const auto out = m_dir / "out";
  std::filesystem::create_directory(out);
  for (const bool constant_memory : {false, true}) {
    const auto path = out / "book.xlsx";
    Workbook book(path, {.constant_memory = constant_memory, .scratch_folder = scratch.path()});
    Worksheet& sheet = book.add_worksheet("S");
    for (Row row = 0; row < 2000; ++row) {
      sheet.write_string(row, 0, "row " + std::to_string(row));
    }
    try {
      book.close();
      ADD_FAILURE() << "closed with constant_memory " << constant_memory;
    } catch (const Error& error) {
      EXPECT_EQ(std::string(error.what()), "cannot write workbook '" + path.string()
                                             + "': its temporary files: No space left on device");
    }
    EXPECT_TRUE(std::filesystem::is_empty(out)) << constant_memory;
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path())) << constant_memory;
  }
}

TEST_F(WorkbookTest, PartCheckFindsThePartThatIsNotWhole)
{
  const std::string sheet = "<worksheet><sheetData><row r=\"1\"/></sheetData></worksheet>";
  const struct
  {
    std::vector<std::pair<std::string, std::string>> parts;
    std::optional<std::string> problem;
  } cases[] = {
    {{{"[Content_Types].xml", "<Types/>"}, {"xl/worksheets/sheet1.xml", sheet},
      {"xl/vbaProject.bin", ""}},
     std::nullopt},
    {{{"[Content_Types].xml", ""}},
     "part '[Content_Types].xml' is not well-formed XML (no document element at offset 0)"},
    {{{"_rels/.rels", "<Relationships/>"}, {"xl/worksheets/sheet1.xml", sheet.substr(0, 30)}},
     "part 'xl/worksheets/sheet1.xml' is not well-formed XML (cut short inside markup at offset "
     "30)"},
    {{{"a.xml", sheet.substr(0, 34)}},
     "part 'a.xml' is not well-formed XML (cut short, elements left open: 2 at offset 34)"},
    {{{"a.xml", "<?xml version=\"1.0\"?>\n<!-- <a> --><a x=\"1>2\" y='/'><![CDATA[</a>]]><b/></a>\n"}},
     std::nullopt},
    {{{"a.xml", "<!---->"}}, "part 'a.xml' is not well-formed XML (no document element at offset 7)"},
    {{{"a.xml", "<a></a></a>"}},
     "part 'a.xml' is not well-formed XML (a closing tag without its element at offset 10)"},
    {{{"a.xml", "<a/><b/>"}}, "part 'a.xml' is not well-formed XML (a second document element at offset 5)"},
    {{{"a.xml", "<!-- x -"}}, "part 'a.xml' is not well-formed XML (cut short inside markup at offset 8)"},
  };
  for (const auto& c : cases) {
    const auto path = m_dir / "parts.zip";
    test::write_zip(path, c.parts);
    const std::string bytes = test::read_file(path);
    const PartCheck check = check_parts(bytes);
    EXPECT_EQ(check.problem, c.problem);
  }
  EXPECT_EQ(check_parts(std::string("not a zip")).problem,
            "not a zip archive: Not a zip archive");
}

TEST_F(WorkbookTest, IndependentReaderSeesFormatsAndSheetSettings)
{
  if (!test::have_openpyxl()) {
    GTEST_SKIP() << "/usr/bin/python3 with openpyxl is not available";
  }
  const auto path = write_sample(true);
  const auto result = test::run_python(m_dir, R"PY(
import sys, zipfile, datetime, openpyxl
path = sys.argv[1]
wb = openpyxl.load_workbook(path, keep_vba=True)
assert wb.sheetnames == ["Job_1", "SortBinDescrp"], wb.sheetnames
ws = wb["Job_1"]
def fill(cell_or_dim):
    f = cell_or_dim.fill
    return f.fill_type, (f.fgColor.rgb or "")[-6:]
assert ws["B1"].value == "Parameter"
assert ws["A4"].value == "=1+2" and ws["A4"].data_type == "s", (ws["A4"].value, ws["A4"].data_type)
assert ws["A5"].value == 2.5
assert ws["B5"].value == "=#NUM!", ws["B5"].value
assert ws["C5"].value == "=1/0" and ws["D5"].value == "=-1/0"
assert len(ws["A6"].value) == 32767
assert ws["B6"].value == "ab\ufffdcd\ufffd"
assert ws["C2"].value is None and fill(ws["C2"]) == ("solid", "F7D674"), fill(ws["C2"])
# row 2: red row format kept after the outline-only call; row 3 grouped and hidden
assert fill(ws.row_dimensions[2]) == ("solid", "FFC7CE"), fill(ws.row_dimensions[2])
assert ws.row_dimensions[2].collapsed
assert ws.row_dimensions[3].outlineLevel == 1 and ws.row_dimensions[3].hidden
assert ws.row_dimensions[1].height == 20 and ws.row_dimensions[1].font.b
cols = ws.column_dimensions
assert cols["B"].width > 19 and cols["C"].width > 14 and (cols["C"].min, cols["C"].max) == (3, 6)
assert ws.freeze_panes == "C2", ws.freeze_panes
assert ws.auto_filter.ref == "A1:CW1", ws.auto_filter.ref
assert ws.sheet_properties.outlinePr.summaryBelow is False
assert ws.sheet_properties.outlinePr.summaryRight in (None, True)
bins = wb["SortBinDescrp"]
rules = {str(r.sqref): [x.type for x in r.rules] for r in bins.conditional_formatting}
assert rules == {"A1:A3": ["duplicateValues"], "C5:D5": ["containsBlanks"]}, rules
assert bins.freeze_panes == "B2"
with zipfile.ZipFile(path) as z:
    assert z.read("xl/vbaProject.bin") == b"not really a VBA project"
    ct = z.read("[Content_Types].xml").decode()
    assert "macroEnabled" in ct
    assert "<dcterms:created xsi:type=\"dcterms:W3CDTF\">2026-03-07T09:00:00Z" in z.read("docProps/core.xml").decode()
print("ok")
)PY",
                                       path);
  EXPECT_EQ(result.status, 0) << result.output;
}

TEST_F(WorkbookTest, RefusedSheetNamesThrowAndLeaveTheWorkbookUsable)
{
  Workbook book(m_dir / "names.xlsx");
  book.add_worksheet("Sheet");
  book.add_worksheet(std::string(31, 'x'));
  for (const std::string& name : std::vector<std::string>{"a/b", "", std::string(32, 'x'), "SHEET", "'quoted'"}) {
    EXPECT_THROW(book.add_worksheet(name), Error) << name;
  }
  try {
    book.add_worksheet("a/b");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot add worksheet 'a/b' to workbook '" + (m_dir / "names.xlsx").string()
                + "': Worksheet name cannot contain invalid characters: '[ ] : * ? / \\'");
  }
  EXPECT_EQ(book.worksheets().size(), 2U);
  EXPECT_EQ(book.find_worksheet("Sheet"), book.worksheets()[0].get());
  EXPECT_EQ(book.find_worksheet("sheet"), nullptr);
  book.close();
  EXPECT_EQ(Reader(m_dir / "names.xlsx").sheet_names().size(), 2U);
}

TEST_F(WorkbookTest, FailuresThrow)
{
  {
    Workbook book(m_dir / "plain.xlsx");
    Worksheet& sheet = book.add_worksheet("S");
    EXPECT_THROW(sheet.write_number(0, 0, k_nan), Error); // no nan_inf_to_errors
    EXPECT_THROW(sheet.write_string(1048576, 0, "x"), Error);
    EXPECT_THROW(sheet.write_string(0, 16384, "x"), Error);
    EXPECT_THROW(sheet.write_string(0, 65537, "x"), Error); // no wrap to column 1
    EXPECT_THROW(sheet.freeze_panes("2C"), Error);
    EXPECT_THROW(book.add_vba_project(m_dir / "missing.bin"), FileNotFoundError);
    book.close();
    EXPECT_THROW(book.close(), Error);
    EXPECT_THROW(sheet.write_string(0, 0, "late"), Error);
    EXPECT_THROW(book.add_worksheet("T"), Error);
  }
  const auto target = m_dir / "no-such-folder" / "out.xlsx";
  Workbook book(target);
  book.add_worksheet("S");
  try {
    book.close();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot write workbook '" + target.string() + "': No such file or directory");
  }
  EXPECT_TRUE(book.closed());
}

TEST_F(WorkbookTest, DestructorWritesAnUnclosedWorkbook)
{
  {
    Workbook book(m_dir / "auto.xlsx");
    book.add_worksheet("S").write_string(0, 0, "x");
  }
  EXPECT_EQ(Reader(m_dir / "auto.xlsx").read_sheet("S").cell(0, 0).text, "x");
  // A failing close in the destructor is swallowed.
  { Workbook book(m_dir / "missing" / "auto.xlsx"); }
}

TEST_F(WorkbookTest, EscapesDoNotPushALongTextPastTheLimit)
{
  const std::string text = repeat("_x0041_", 5000); // 35,000 code points, 5,000 escapes
  {
    Workbook book(m_dir / "esc.xlsx");
    book.add_worksheet("S").write_string(0, 0, text);
  }
  const std::string read = Reader(m_dir / "esc.xlsx").read_sheet("S").cell(0, 0).text;
  // Every kept escape costs six more stored characters: 2,520 escaped pieces fit (32,760),
  // then a lone "_", which is no escape once the rest of its piece is cut.
  EXPECT_EQ(read, text.substr(0, 2520 * 7 + 1));
  EXPECT_LE(read.size(), k_max_text_length);
}

} // namespace
} // namespace tarnwick::xlsx

namespace tarnwick::xlsx {
namespace {

// Plain texts go to the library as they are; texts beside them that need repair, escaping or
// cutting still get it, whatever the order of the writes.
TEST_F(WorkbookTest, PlainAndTreatedTextsSideBySide)
{
  const std::vector<std::string> texts = {
    "x_",                                     // underscore last: no escape can start
    "_x",                                     // "_x" alone is no escape sequence
    "a_x00411_b",                             // "_x0041" then "1": no closing underscore
    "pre_x0041_post",                         // a literal escape sequence
    std::string("\xC3\xA9t\xC3\xA9", 5),      // valid UTF-8 beyond ASCII
    std::string("bad\xFFtail", 8),            // invalid UTF-8
    std::string(k_max_text_length, 'a'),      // exactly the limit
    std::string(k_max_text_length + 1, 'b'),  // one past it
    "short after long",
  };
  {
    Workbook book(m_dir / "mix.xlsx");
    Worksheet& sheet = book.add_worksheet("S");
    for (std::size_t i = 0; i < texts.size(); ++i) {
      sheet.write_string(static_cast<Row>(i), 0, texts[i]);
    }
  }
  const Sheet sheet = Reader(m_dir / "mix.xlsx").read_sheet("S");
  EXPECT_EQ(sheet.cell(0, 0).text, "x_");
  EXPECT_EQ(sheet.cell(1, 0).text, "_x");
  EXPECT_EQ(sheet.cell(2, 0).text, "a_x00411_b");
  EXPECT_EQ(sheet.cell(3, 0).text, "pre_x0041_post");
  EXPECT_EQ(sheet.cell(4, 0).text, texts[4]);
  EXPECT_EQ(sheet.cell(5, 0).text, "bad\xEF\xBF\xBDtail");
  EXPECT_EQ(sheet.cell(6, 0).text, texts[6]);
  EXPECT_EQ(sheet.cell(7, 0).text, std::string(k_max_text_length, 'b'));
  EXPECT_EQ(sheet.cell(8, 0).text, "short after long");
}

} // namespace
} // namespace tarnwick::xlsx
