// The .xlsx reader on a real dry-run report with one XML part (picked by the first byte)
// replaced by the rest of the input.
#define TARNWICK_FUZZ_NO_ENTRY
#include "xlsx_file.cpp"
#undef TARNWICK_FUZZ_NO_ENTRY
#include "fuzz/report_parts.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  fuzz::report_parts(); // made before the scratch folder is emptied
  const auto path = fuzz::fresh_dir() / "report.xlsx";
  fuzz::write_report_with_part(path, fuzz::as_text(data, size));
  fuzz::run_guarded([&] { fuzz::read_all(path); });
  return 0;
}
