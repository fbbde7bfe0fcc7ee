// The global-spec reader on one sheet export.
#include "fuzz/support.hpp"
#include "tarnwick/tiskel/tiskel.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const std::string_view text = fuzz::as_text(data, size);
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      tiskel::ParseGlobalSpec reader;
      reader.parse(text, platform, "Global Specs.txt");
      (void)reader.get_info();
    });
  }
  return 0;
}
