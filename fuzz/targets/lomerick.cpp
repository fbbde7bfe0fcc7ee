// The flow-table reader with its sub-flows: the input is up to four sheet exports separated
// by a line "====", written as main.txt, s1.txt, s2.txt and s3.txt into one folder; the
// first is read.
#include "fuzz/support.hpp"
#include "tarnwick/lomerick/lomerick.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto parts = fuzz::split(fuzz::as_text(data, size), "\n====\n", 4);
  const auto dir = fuzz::fresh_dir();
  static const char* const names[] = {"main.txt", "s1.txt", "s2.txt", "s3.txt"};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    fuzz::write_file(dir / names[i], parts[i]);
  }
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      lomerick::Lomerick reader;
      reader.read_flow_table((dir / "main.txt").string(), platform);
      for (const auto& record : *reader.get_test_suite_info()) {
        (void)lomerick::printed(record);
      }
    });
  }
  return 0;
}
