// The pattern-set reader on one sheet export, every set then resolved into its files.
#include "fuzz/support.hpp"
#include "tarnwick/dravel/dravel.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const std::string_view text = fuzz::as_text(data, size);
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      dravel::Dravel reader;
      reader.parse(text, platform, "Pattern Sets.txt");
      (void)reader.get_pattern_set_info();
    });
  }
  return 0;
}
