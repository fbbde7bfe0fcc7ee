// The spec-sheet reader on one sheet export.
#include "fuzz/support.hpp"
#include "tarnwick/sarnet/sarnet.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const std::string_view text = fuzz::as_text(data, size);
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      sarnet::Sarnet reader;
      reader.parse(text, platform, "Specs.txt");
      (void)reader.get_spec_version();
    });
  }
  return 0;
}
