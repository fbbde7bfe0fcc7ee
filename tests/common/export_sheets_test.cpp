#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <zip.h>

#include "tarnwick/common/common.hpp"
#include "tarnwick/text/error.hpp"
#include "temp_dir.hpp"

namespace fs = std::filesystem;
using tarnwick::common::export_sheets_to_txt;

namespace {

// Writes a workbook part by part: `sheets` holds (sheet name, sheetData XML) pairs.
void make_workbook(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& sheets)
{
  const std::string main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel_ns = "http://schemas.openxmlformats.org/package/2006/relationships";
  const std::string doc_rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::vector<std::pair<std::string, std::string>> parts;
  std::string types = "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                      "<Default Extension=\"rels\" ContentType=\"application/"
                      "vnd.openxmlformats-package.relationships+xml\"/>"
                      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
                      "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
  std::string workbook = "<workbook xmlns=\"" + main_ns + "\" xmlns:r=\"" + doc_rel + "\"><sheets>";
  std::string workbook_rels = "<Relationships xmlns=\"" + rel_ns + "\">";
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    types += "<Override PartName=\"/xl/worksheets/sheet" + n
             + ".xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    workbook += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n
                + "\"/>";
    workbook_rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + doc_rel
                     + "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    parts.emplace_back("xl/worksheets/sheet" + n + ".xml",
                       "<worksheet xmlns=\"" + main_ns + "\"><sheetData>" + sheets[i].second
                         + "</sheetData></worksheet>");
  }
  parts.emplace_back("[Content_Types].xml", types + "</Types>");
  parts.emplace_back("_rels/.rels", "<Relationships xmlns=\"" + rel_ns
                                      + "\"><Relationship Id=\"rId1\" Type=\"" + doc_rel
                                      + "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                                        "</Relationships>");
  parts.emplace_back("xl/workbook.xml", workbook + "</sheets></workbook>");
  parts.emplace_back("xl/_rels/workbook.xml.rels", workbook_rels + "</Relationships>");

  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const auto& [name, content] : parts) {
    zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

std::set<std::string> files_in(const fs::path& dir)
{
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class ExportSheets : public tarnwick::test::TempDirTest
{
protected:
  fs::path target() const { return dir() / "out"; }
};

} // namespace

TEST_F(ExportSheets, WritesEverySheetAsTabSeparatedText)
{
  const fs::path path = dir() / "device.xlsx";
  lxw_workbook* book = workbook_new(path.c_str());
  ASSERT_NE(book, nullptr);
  lxw_worksheet* specs = workbook_add_worksheet(book, "规格 Specs");
  lxw_worksheet* jobs = workbook_add_worksheet(book, "Job List");
  ASSERT_NE(workbook_add_worksheet(book, "Empty"), nullptr);
  lxw_chartsheet* chartsheet = workbook_add_chartsheet(book, "Chart1");
  ASSERT_TRUE(specs && jobs && chartsheet);

  worksheet_write_formula(specs, 0, 0, "=_VDD*1.1", nullptr);
  worksheet_write_number(specs, 0, 1, 0.1, nullptr);
  worksheet_write_number(specs, 0, 2, 5.0, nullptr);
  worksheet_write_boolean(specs, 0, 3, 1, nullptr);
  worksheet_write_number(specs, 2, 0, -3.0, nullptr);
  worksheet_write_number(specs, 2, 1, 1.5e-9, nullptr);
  worksheet_write_string(specs, 2, 2, "Ω μA", nullptr);
  worksheet_write_boolean(specs, 2, 3, 0, nullptr);
  worksheet_write_number(specs, 3, 0, 1e20, nullptr);
  worksheet_write_string(jobs, 0, 0, "x", nullptr);
  worksheet_write_string(jobs, 1, 2, "y", nullptr);

  lxw_chart* chart = workbook_add_chart(book, LXW_CHART_LINE);
  chart_add_series(chart, nullptr, "='Job List'!$A$1:$A$2");
  chartsheet_set_chart(chartsheet, chart);
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);

  export_sheets_to_txt(path.string(), target().string());
  EXPECT_EQ(files_in(target()),
            (std::set<std::string>{"规格 Specs.txt", "Job List.txt", "Empty.txt"}));
  EXPECT_EQ(read_file(target() / "规格 Specs.txt"),
            "=_VDD*1.1\t0.1\t5\tTRUE\n"
            "\t\t\t\n"
            "-3\t1.5e-09\tΩ μA\tFALSE\n"
            "1e+20\t\t\t\n");
  EXPECT_EQ(read_file(target() / "Job List.txt"), "x\t\t\n\t\ty\n");
  EXPECT_EQ(read_file(target() / "Empty.txt"), "");
}

TEST_F(ExportSheets, KeepsCellsOfOtherWritersOnTheirRow)
{
  const fs::path path = dir() / "other.xlsm";
  make_workbook(path, {{"Data",
                        "<row r=\"1\"><c r=\"A1\" t=\"e\"><v>#N/A</v></c>"
                        "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B2\" si=\"0\">A1+1</f><v>2</v></c>"
                        "<c r=\"C1\" t=\"inlineStr\"><is><t>a&#9;b&#10;c</t></is></c></row>"
                        "<row r=\"2\"><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>3.5</v></c></row>"}});
  // An existing export is replaced.
  fs::create_directories(target());
  write_file(target() / "Data.txt", "old");

  export_sheets_to_txt(path.string(), target().string());
  // A formula copied from another cell has no text of its own: its value stands in.
  EXPECT_EQ(read_file(target() / "Data.txt"), "#N/A\t=A1+1\ta b c\n\t3.5\t\n");
}

TEST_F(ExportSheets, RefusesASheetWhoseUsedRangeIsTooLargeToExport)
{
  // One value in the last cell of the sheet: a small file, 17 GB of tabs as an export.
  const fs::path path = dir() / "huge.xlsm";
  make_workbook(path, {{"Flow", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"},
                       {"Jobs", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                                "<row r=\"1048576\"><c r=\"XFD1048576\"><v>2</v></c></row>"}});
  try {
    export_sheets_to_txt(path.string(), target().string());
    FAIL() << "no error";
  } catch (const tarnwick::Error& e) {
    EXPECT_EQ(std::string(e.what()), path.string() + ": the sheet \"Jobs\" (used range A1:XFD1048576) "
                                                     "exports to more than 268435456 bytes");
  }
  EXPECT_EQ(files_in(target()), std::set<std::string>{"Flow.txt"});
}

TEST_F(ExportSheets, RefusesSheetNamesThatAreNoFileNames)
{
  const fs::path path = dir() / "bad.xlsx";
  make_workbook(path, {{"Good", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}, {"..", ""}});
  try {
    export_sheets_to_txt(path.string(), target().string());
    FAIL() << "no error";
  } catch (const tarnwick::Error& e) {
    EXPECT_EQ(std::string(e.what()),
              path.string() + ": the sheet name \"..\" cannot name a file");
  }
  EXPECT_FALSE(fs::exists(target()));

  EXPECT_THROW(export_sheets_to_txt((dir() / "missing.xlsm").string(), target().string()),
               tarnwick::FileNotFoundError);
}
