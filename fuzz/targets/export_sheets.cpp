// The sheet export of a workbook into text files. An input that starts with "PK" is the
// whole workbook; any other replaces one XML part of a real dry-run report (picked by its
// first byte) by the rest.
#include "fuzz/report_parts.hpp"
#include "fuzz/support.hpp"
#include "tarnwick/common/common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  fuzz::report_parts();
  const std::string_view input = fuzz::as_text(data, size);
  const auto dir = fuzz::fresh_dir();
  const auto book = dir / "device.xlsm";
  if (input.starts_with("PK")) {
    fuzz::write_file(book, input);
  } else {
    fuzz::write_report_with_part(book, input);
  }
  fuzz::run_guarded([&] { common::export_sheets_to_txt(book.string(), (dir / "out").string()); });
  return 0;
}
