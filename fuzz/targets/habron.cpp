// The job-list sheet reader on one sheet export.
#include "fuzz/support.hpp"
#include "tarnwick/habron/habron.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const std::string_view text = fuzz::as_text(data, size);
  fuzz::run_guarded([&] {
    habron::Habron reader;
    reader.parse(text);
    for (const auto& [job, content] : *reader.get_test_job_list_info()) {
      (void)habron::printed(content);
    }
  });
  return 0;
}
