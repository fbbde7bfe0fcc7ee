// The DC spec reader on one sheet export, through its file entry.
#include "fuzz/support.hpp"
#include "tarnwick/morvane/morvane.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto path = fuzz::fresh_dir() / "DC Specs.txt";
  fuzz::write_file(path, fuzz::as_text(data, size));
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      morvane::Morvane reader;
      reader.read_dc_spec(path.string(), std::string(platform));
      (void)reader.get_dc_info();
    });
  }
  return 0;
}
