// The AC spec reader on one sheet export, through its file entry.
#include "fuzz/support.hpp"
#include "tarnwick/pellick/pellick.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto path = fuzz::fresh_dir() / "AC Specs.txt";
  fuzz::write_file(path, fuzz::as_text(data, size));
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      pellick::Pellick reader;
      reader.read_ac_spec(path.string(), std::string(platform));
      (void)reader.get_ac_info();
    });
  }
  return 0;
}
