// The pin-level reader on one sheet export.
#include "fuzz/support.hpp"
#include "tarnwick/quenby/quenby.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  fuzz::run_guarded([&] {
    quenby::ParsePinLevel reader;
    reader.parse(fuzz::as_text(data, size), "Levels.txt");
    (void)reader.get_pin_level_info();
    (void)reader.get_pin_clamp_info();
  });
  return 0;
}
