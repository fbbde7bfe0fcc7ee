// The time-set reader on one sheet export.
#include "fuzz/support.hpp"
#include "tarnwick/vellox/vellox.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const std::string_view text = fuzz::as_text(data, size);
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      vellox::ParseTIM reader;
      reader.parse(text, platform, "Time Sets.txt");
      (void)reader.get_timing_info();
      (void)reader.get_clk_info();
    });
  }
  return 0;
}
