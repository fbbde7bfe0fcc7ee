// The test-instance reader on one sheet export, with a small pattern-set table to look names
// up in.
#include "fuzz/support.hpp"
#include "tarnwick/kenmoor/kenmoor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  static const kenmoor::PatternSetDict sets = [] {
    kenmoor::PatternSetDict table;
    table.insert_or_assign("PS_FUNC", std::vector<std::string>{".\\Patterns\\func\\a.PAT.gz"});
    table.insert_or_assign("PS_EMPTY", std::vector<std::string>{});
    table.insert_or_assign("PS_TWO", std::vector<std::string>{"b.PATX", "c.PAT"});
    return table;
  }();
  const std::string_view text = fuzz::as_text(data, size);
  for (std::string_view platform : fuzz::k_platforms) {
    fuzz::run_guarded([&] {
      kenmoor::Kenmoor reader;
      reader.parse(text, sets, platform, "Test Instances.txt");
      for (const auto& [name, records] : *reader.get_instance_info()) {
        for (const auto& record : records) {
          (void)kenmoor::printed(record);
        }
      }
    });
  }
  return 0;
}
