// The .xlsx reader on a whole file: every worksheet read, every cell visited.
#include "fuzz/support.hpp"
#include "tarnwick/xlsx/reader.hpp"

namespace tarnwick::fuzz {

// Reads every sheet of the workbook at `path` and walks its cells.
inline void read_all(const std::filesystem::path& path)
{
  const xlsx::Reader reader(path);
  for (std::size_t i = 0; i < reader.sheet_names().size(); ++i) {
    const xlsx::Sheet sheet = reader.read_sheet(i);
    for (std::size_t row = 0; row < sheet.row_count(); ++row) {
      for (const auto& [column, cell] : sheet.row_cells(row)) {
        check(sheet.in_used_range(row, column), "a stored cell outside the used range");
        (void)cell;
      }
    }
  }
}

} // namespace tarnwick::fuzz

#ifndef TARNWICK_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto path = fuzz::fresh_dir() / "book.xlsx";
  fuzz::write_file(path, fuzz::as_text(data, size));
  fuzz::run_guarded([&] { fuzz::read_all(path); });
  return 0;
}
#endif
