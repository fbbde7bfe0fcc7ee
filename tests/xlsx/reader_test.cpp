#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/text/error.hpp"
#include "tarnwick/xlsx/reader.hpp"
#include "test_util.hpp"

namespace tarnwick::xlsx {
namespace {

using test::TempDirTest;
using Parts = std::vector<std::pair<std::string, std::string>>;

const std::string k_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string k_rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string k_pkg_rel_ns = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string rels(const std::vector<std::pair<std::string, std::string>>& targets)
{
  std::string out = "<?xml version=\"1.0\"?><Relationships xmlns=\"" + k_pkg_rel_ns + "\">";
  int id = 1;
  for (const auto& [type, target] : targets) {
    out += "<Relationship Id=\"rId" + std::to_string(id++) + "\" Type=\"" + k_rel_ns + "/" + type
           + "\" Target=\"" + target + "\"/>";
  }
  return out + "</Relationships>";
}

// A workbook as another program writes it: every element with an "x:" prefix, the workbook
// part in an unusual folder reached through absolute and "../" targets.
Parts foreign_workbook()
{
  const std::string workbook =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<x:workbook xmlns:x=\"" + k_ns + "\" xmlns:rel=\"" + k_rel_ns + "\"><x:sheets>"
    "<x:sheet name=\"Data &amp; more\" sheetId=\"4\" rel:id=\"rId1\"/>"
    "<x:sheet name=\"Chart1\" sheetId=\"2\" rel:id=\"rId3\"/>"
    "<x:sheet name=\"Second\" sheetId=\"1\" rel:id=\"rId2\"/>"
    "</x:sheets></x:workbook>";
  const std::string strings =
    "<x:sst xmlns:x=\"" + k_ns + "\">"
    "<x:si><x:t>plain</x:t></x:si>"
    "<x:si><x:r><x:rPr><x:b/></x:rPr><x:t>rich </x:t></x:r><x:r><x:t xml:space=\"preserve\"> "
    "text</x:t></x:r><x:rPh sb=\"0\" eb=\"1\"><x:t>PHONETIC</x:t></x:rPh></x:si>"
    "<x:si><x:t xml:space=\"preserve\">  </x:t></x:si>"
    "<x:si><x:t>line_x000D_&#10;end _x005F_x000D_ _xD83D__xDE00_ _xD800_</x:t></x:si>"
    "<x:si><x:t>\xE4\xB8\xAD\xE6\x96\x87</x:t><x:phoneticPr fontId=\"1\"/></x:si>"
    "</x:sst>";
  const std::string sheet1 =
    "<x:worksheet xmlns:x=\"" + k_ns + "\"><x:sheetData>"
    "<x:row r=\"1\">"
    "<x:c r=\"A1\" t=\"s\"><x:v>0</x:v></x:c>"
    "<x:c r=\"B1\" t=\"s\"><x:v>1</x:v></x:c>"
    "<x:c t=\"s\"><x:v>2</x:v></x:c>"                // C1: follows B1
    "<x:c r=\"D1\" t=\"s\"><x:v>3</x:v></x:c>"
    "<x:c r=\"E1\" t=\"s\"><x:v>4</x:v></x:c>"
    "</x:row>"
    "<x:row r=\"3\">"
    "<x:c r=\"A3\"><x:v>1.5E3</x:v></x:c>"
    "<x:c r=\"B3\" t=\"n\"><x:v>-0.25</x:v></x:c>"
    "<x:c r=\"C3\" t=\"b\"><x:v>1</x:v></x:c>"
    "<x:c r=\"D3\" t=\"b\"><x:v>0</x:v></x:c>"
    "<x:c r=\"E3\" t=\"e\"><x:v>#N/A</x:v></x:c>"
    "<x:c r=\"F3\" t=\"inlineStr\"><x:is><x:t>inline</x:t></x:is></x:c>"
    "<x:c r=\"G3\" t=\"inlineStr\"><x:is><x:r><x:t>in</x:t></x:r><x:r><x:t>runs</x:t></x:r>"
    "</x:is></x:c>"
    "<x:c r=\"H3\" t=\"str\"><x:f>A1&amp;\"!\"</x:f><x:v>plain!</x:v></x:c>"
    "<x:c r=\"I3\"><x:f t=\"shared\" ref=\"I3:I4\" si=\"0\">A3*2</x:f><x:v>3000</x:v></x:c>"
    "<x:c r=\"J3\" s=\"1\"/>"
    "</x:row>"
    "<x:row>"                                         // row 4: follows row 3
    "<x:c r=\"I4\"><x:f t=\"shared\" si=\"0\"/><x:v>-0.5</x:v></x:c>"
    "</x:row>"
    "<x:row r=\"12\"><x:c r=\"AB12\"><x:v>42</x:v></x:c></x:row>"
    "</x:sheetData></x:worksheet>";
  const std::string sheet2 =
    "<worksheet xmlns=\"" + k_ns + "\"><sheetData><row><c><v>7</v></c><c><v>8</v></c></row>"
    "</sheetData></worksheet>";
  return {
    {"[Content_Types].xml", "<Types/>"},
    {"_rels/.rels", rels({{"officeDocument", "/book/main.xml"}})},
    {"book/main.xml", workbook},
    {"book/_rels/main.xml.rels",
     rels({{"worksheet", "/book/parts/one.xml"},
           {"worksheet", "../other/two.xml"},
           {"chartsheet", "charts/c1.xml"},
           {"sharedStrings", "parts/strings.xml"}})},
    {"book/parts/one.xml", sheet1},
    {"other/two.xml", sheet2},
    {"book/parts/strings.xml", strings},
  };
}

class ReaderTest : public TempDirTest
{
protected:
  std::filesystem::path zip(const Parts& parts, const std::string& name = "book.xlsx")
  {
    const auto path = m_dir / name;
    test::write_zip(path, parts);
    return path;
  }

  // The message of the Error that `read` throws.
  template <typename F>
  static std::string error_of(F read)
  {
    try {
      read();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }
};

TEST_F(ReaderTest, ReadsAWorkbookOfAnotherWriter)
{
  const Reader reader(zip(foreign_workbook()));
  EXPECT_EQ(reader.sheet_names(), (std::vector<std::string>{"Data & more", "Second"}));
  EXPECT_FALSE(reader.has_sheet("Chart1"));

  const Sheet sheet = reader.read_sheet("Data & more");
  EXPECT_EQ(sheet.cell(0, 0).text, "plain");
  EXPECT_EQ(sheet.cell(0, 1).text, "rich  text");
  EXPECT_EQ(sheet.cell(0, 2).text, "  ");
  EXPECT_EQ(sheet.cell(0, 3).text, "line\r\nend _x000D_ \xF0\x9F\x98\x80 \xEF\xBF\xBD");
  EXPECT_EQ(sheet.cell(0, 4).text, "\xE4\xB8\xAD\xE6\x96\x87");

  const Cell& number = sheet.cell(2, 0);
  EXPECT_EQ(number.kind, CellKind::number);
  EXPECT_EQ(number.number, 1500.0);
  EXPECT_EQ(number.text, "1.5E3");
  EXPECT_EQ(sheet.cell(2, 1).number, -0.25);
  EXPECT_EQ(sheet.cell(2, 2).kind, CellKind::boolean);
  EXPECT_TRUE(sheet.cell(2, 2).boolean);
  EXPECT_FALSE(sheet.cell(2, 3).boolean);
  EXPECT_EQ(sheet.cell(2, 3).text, "FALSE");
  EXPECT_EQ(sheet.cell(2, 4).kind, CellKind::error);
  EXPECT_EQ(sheet.cell(2, 4).text, "#N/A");
  EXPECT_EQ(sheet.cell(2, 5).text, "inline");
  EXPECT_EQ(sheet.cell(2, 6).text, "inruns");
  EXPECT_EQ(sheet.cell(2, 7).kind, CellKind::text);
  EXPECT_EQ(sheet.cell(2, 7).text, "plain!");
  EXPECT_EQ(sheet.cell(2, 7).formula, "A1&\"!\"");
  EXPECT_EQ(sheet.cell(2, 8).formula, "A3*2");
  EXPECT_EQ(sheet.cell(2, 8).number, 3000.0);
  EXPECT_TRUE(sheet.cell(3, 8).has_formula);
  EXPECT_EQ(sheet.cell(3, 8).number, -0.5);
  EXPECT_EQ(sheet.cell(2, 9).kind, CellKind::empty);

  EXPECT_EQ(sheet.cell(11, 27).number, 42.0);
  EXPECT_EQ(sheet.row_count(), 12U);
  EXPECT_EQ(sheet.column_count(), 28U);
  EXPECT_TRUE(sheet.in_used_range(11, 27));
  EXPECT_FALSE(sheet.in_used_range(12, 0));
  EXPECT_FALSE(sheet.in_used_range(0, 28));
  EXPECT_EQ(sheet.cell(1, 0).kind, CellKind::empty); // a row that is not there
  EXPECT_TRUE(sheet.row_cells(5).empty());

  const Sheet second = reader.read_sheet(1);
  EXPECT_EQ(second.name(), "Second");
  EXPECT_EQ(second.cell(0, 1).number, 8.0);
}

TEST_F(ReaderTest, ReadsAWorkbookWrittenByOpenpyxl)
{
  if (!test::have_openpyxl()) {
    GTEST_SKIP() << "/usr/bin/python3 with openpyxl is not available";
  }
  const auto path = m_dir / "openpyxl.xlsx";
  const auto result = test::run_python(m_dir, R"PY(
import sys, datetime, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "变量"
ws.append(["变量名", "行号", "Apply"])
ws.append(["gName", 12, True])
ws.append(["x", 3.5, False])
ws["E9"] = "=B2*2"
ws["F9"] = datetime.datetime(2026, 3, 7)
wb.create_sheet("Empty")
wb.save(sys.argv[1])
)PY",
                                       path);
  ASSERT_EQ(result.status, 0) << result.output;
  const Reader reader(path);
  ASSERT_EQ(reader.sheet_names(), (std::vector<std::string>{"变量", "Empty"}));
  const Sheet sheet = reader.read_sheet("变量");
  EXPECT_EQ(sheet.cell(0, 0).text, "变量名");
  EXPECT_EQ(sheet.cell(1, 1).number, 12.0);
  EXPECT_EQ(sheet.cell(1, 2).kind, CellKind::boolean);
  EXPECT_TRUE(sheet.cell(1, 2).boolean);
  EXPECT_FALSE(sheet.cell(2, 2).boolean);
  EXPECT_EQ(sheet.cell(2, 1).number, 3.5);
  EXPECT_EQ(sheet.cell(8, 4).formula, "B2*2");
  EXPECT_EQ(sheet.cell(8, 5).kind, CellKind::number); // a date is its serial number
  EXPECT_EQ(sheet.cell(8, 5).number, 46088.0);
  EXPECT_EQ(sheet.row_count(), 9U);
  const Sheet empty = reader.read_sheet("Empty");
  EXPECT_EQ(empty.row_count(), 0U);
  EXPECT_EQ(empty.column_count(), 0U);
}

TEST_F(ReaderTest, ReadsAWorkbookWrittenByLibreOffice)
{
  if (!std::filesystem::exists("/usr/bin/soffice")) {
    GTEST_SKIP() << "LibreOffice is not installed";
  }
  test::write_file(m_dir / "lo.csv", "Name,Value\n\"multi\nline\",-3.25\n");
  const std::string command = "cd '" + m_dir.string() + "' && timeout 120 /usr/bin/soffice "
                              "--headless -env:UserInstallation=file://" + m_dir.string()
                              + "/profile --convert-to xlsx lo.csv >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Reader reader(m_dir / "lo.xlsx");
  ASSERT_EQ(reader.sheet_names().size(), 1U);
  const Sheet sheet = reader.read_sheet(std::size_t{0});
  EXPECT_EQ(sheet.cell(0, 1).text, "Value");
  EXPECT_EQ(sheet.cell(1, 0).text, "multi\nline");
  EXPECT_EQ(sheet.cell(1, 1).number, -3.25);
}

TEST_F(ReaderTest, BadFilesNameTheFile)
{
  const auto missing = m_dir / "missing.xlsx";
  EXPECT_THROW(Reader{missing}, FileNotFoundError);
  EXPECT_EQ(error_of([&] { Reader{missing}; }),
            "No such file or directory: '" + missing.string() + "'");

  const auto text = m_dir / "text.xlsx";
  test::write_file(text, "Opcode\tParameter\n");
  EXPECT_EQ(error_of([&] { Reader{text}; }),
            "cannot read workbook '" + text.string()
              + "': not a workbook (zip archive): Not a zip archive");

  const auto no_book = zip({{"hello.txt", "hi"}}, "nobook.xlsx");
  EXPECT_EQ(error_of([&] { Reader{no_book}; }),
            "cannot read workbook '" + no_book.string()
              + "': no workbook part 'xl/workbook.xml' (not a spreadsheet file?)");

  Parts parts = foreign_workbook();
  parts[4].second = "<worksheet><sheetData><row>"; // cut short
  const auto broken = zip(parts, "broken.xlsx");
  const Reader reader(broken);
  EXPECT_EQ(error_of([&] { reader.read_sheet("Data & more"); }).rfind(
              "cannot read workbook '" + broken.string()
                + "': part 'book/parts/one.xml' is not well-formed XML",
              0),
            0U);
  EXPECT_EQ(error_of([&] { reader.read_sheet("Nope"); }),
            "cannot read workbook '" + broken.string() + "': no worksheet named 'Nope'");
  EXPECT_THROW(reader.read_sheet(std::size_t{2}), Error);

  parts = foreign_workbook();
  parts[4].second = "<worksheet><sheetData><row><c t=\"s\"><v>99</v></c></row></sheetData>"
                    "</worksheet>";
  EXPECT_THROW(Reader(zip(parts, "badindex.xlsx")).read_sheet(std::size_t{0}), Error);
}

TEST_F(ReaderTest, CapsStopBombs)
{
  // 4 MiB of one repeated cell compresses to a few KiB.
  std::string row = "<row>";
  const std::string cell = "<c t=\"inlineStr\"><is><t>xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx</t></is></c>";
  for (int i = 0; i < 16000; ++i) {
    row += cell;
  }
  row += "</row>";
  std::string rows;
  for (int i = 0; i < 5; ++i) {
    rows += row;
  }
  Parts parts = foreign_workbook();
  parts[5].second = "<worksheet><sheetData>" + rows + "</sheetData></worksheet>";
  const auto path = zip(parts, "bomb.xlsx");

  EXPECT_EQ(Reader(path).read_sheet("Second").cell(4, 15999).text, std::string(40, 'x'));

  const auto message = [&](ReaderLimits limits) {
    return error_of([&] { Reader(path, limits).read_sheet("Second"); });
  };
  const std::string prefix = "cannot read workbook '" + path.string() + "': ";
  EXPECT_EQ(message({.max_entry_size = 1 << 20}),
            prefix + "part 'other/two.xml' is larger than 1048576 bytes uncompressed");
  EXPECT_EQ(message({.max_total_size = 2 << 20}),
            prefix + "the parts read exceed 2097152 bytes uncompressed");
  EXPECT_EQ(message({.max_cells = 50000}), prefix + "sheet 'Second': more than 50000 cells");
  EXPECT_EQ(message({.max_sheet_text = 1 << 20}),
            prefix + "sheet 'Second': the cell texts exceed 1048576 bytes");
}

TEST(ParseCellRef, TakesA1ReferencesOnly)
{
  EXPECT_EQ(parse_cell_ref("A1"), (std::pair<std::size_t, std::size_t>{0, 0}));
  EXPECT_EQ(parse_cell_ref("C2"), (std::pair<std::size_t, std::size_t>{1, 2}));
  EXPECT_EQ(parse_cell_ref("AB12"), (std::pair<std::size_t, std::size_t>{11, 27}));
  EXPECT_EQ(parse_cell_ref("$XFD$1048576"), (std::pair<std::size_t, std::size_t>{1048575, 16383}));
  for (const char* bad : {"", "A", "12", "A0", "A01", "1A", "ABCD1", "A1B", "A-1", "A12345678"}) {
    EXPECT_THROW(parse_cell_ref(bad), Error) << bad;
  }
}

} // namespace
} // namespace tarnwick::xlsx
