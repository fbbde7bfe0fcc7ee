// The read-back of a confirmed dry-run report and its rewrite of the sources. The input is
// up to three texts separated by a line "====": one or two modules (VBT/Module1.bas,
// VBT/Module2.bas) and, last, the report rows, one a line:
//   <sheet G|M|L><confirmed 0|1> TAB old name TAB new name TAB file TAB line TAB procedure
// where a file "1" or "2" stands for the path of that module. After the rewrite every
// rewritten module that parsed before parses again, and every applied new name is an
// identifier.
#include "fuzz/support.hpp"
#include "fuzz/vba.hpp"
#include "tarnwick/brimsel/refactorer.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace {

bool is_identifier(std::string_view name)
{
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.empty() || !letter(name[0])) {
    return false;
  }
  for (char c : name) {
    if (!letter(c) && !digit(c) && c != '_') {
      return false;
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto parts = fuzz::split(fuzz::as_text(data, size), "\n====\n", 3);
  if (parts.size() < 2) {
    return 0;
  }
  const auto dir = fuzz::fresh_dir();
  std::filesystem::create_directory(dir / "VBT");
  std::vector<std::string> modules;
  std::vector<bool> parsed_before;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    modules.push_back((dir / "VBT" / ("Module" + std::to_string(i + 1) + ".bas")).string());
    fuzz::write_file(modules.back(), parts[i]);
    brimsel::VBAParser alone;
    parsed_before.push_back(fuzz::parse_module(alone, modules.back(), parts[i]));
  }

  // The report: the three confirmable sheets under the dry run's headers.
  const auto report = dir / "report.xlsx";
  bool written = fuzz::run_guarded([&] {
    xlsx::Workbook book(report);
    xlsx::Worksheet* sheets[3] = {&book.add_worksheet("Global Variables"),
                                  &book.add_worksheet("Module Variables"),
                                  &book.add_worksheet("Local Variables")};
    xlsx::Row next_row[3] = {1, 1, 1};
    const std::vector<std::string> header = {"变量名", "建议名称", "文件路径", "行号",
                                             "所在函数", "应用"};
    for (auto* sheet : sheets) {
      sheet->write_row(0, 0, header);
    }
    for (std::string_view line : fuzz::split(parts.back(), "\n", 200)) {
      const auto cells = fuzz::split(line, "\t", 6);
      if (cells[0].empty()) {
        continue;
      }
      const int which = cells[0][0] == 'G' ? 0 : cells[0][0] == 'M' ? 1 : 2;
      xlsx::Worksheet& sheet = *sheets[which];
      const xlsx::Row row = next_row[which]++;
      sheet.write_number(row, 5, cells[0].size() > 1 && cells[0][1] == '1' ? 1.0 : 0.0);
      for (std::size_t i = 1; i < cells.size(); ++i) {
        std::string cell(cells[i]);
        if (i == 3 && (cell == "1" || cell == "2") && std::size_t(cell[0] - '1') < modules.size()) {
          cell = modules[std::size_t(cell[0] - '1')];
        }
        const bool number = i == 4 && !cell.empty() && cell.size() < 9
                            && cell.find_first_not_of("0123456789") == std::string::npos;
        if (number) {
          sheet.write_number(row, xlsx::Column(i - 1), std::stod(cell));
        } else {
          sheet.write_string(row, xlsx::Column(i - 1), cell);
        }
      }
    }
    book.close();
  });
  if (!written) {
    return 0;
  }

  brimsel::VBAParser parser;
  fuzz::run_guarded([&] { parser.parse_files((dir / "VBT").string()); });
  std::vector<std::string> before;
  for (const auto& path : modules) {
    before.push_back(fuzz::read_file(path));
  }
  fuzz::run_guarded([&] {
    brimsel::VBTRefactorer refactorer(parser);
    refactorer.apply_changes_from_excel(report.string());
    for (const auto& [type, changes] : refactorer.applied_changes()) {
      for (const auto& change : changes) {
        fuzz::check(is_identifier(change.new_name), "applied a new name that is no identifier: '"
                                                        + change.new_name + "'");
      }
    }
  });
  for (std::size_t i = 0; i < modules.size(); ++i) {
    const std::string after = fuzz::read_file(modules[i]);
    if (after == before[i] || !parsed_before[i]) {
      continue;
    }
    brimsel::VBAParser again;
    fuzz::check(fuzz::parse_module(again, modules[i], after),
                "a rewritten module no longer parses: " + modules[i]);
  }
  return 0;
}
