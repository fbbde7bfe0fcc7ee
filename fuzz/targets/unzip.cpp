// Unpacking a device archive: nothing may land outside the target folder.
#include "fuzz/support.hpp"
#include "tarnwick/common/common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto dir = fuzz::fresh_dir();
  const auto archive = dir / "device.igxl";
  fuzz::write_file(archive, fuzz::as_text(data, size));
  std::filesystem::create_directory(dir / "inside");
  fuzz::run_guarded([&] { common::unzip(archive.string(), (dir / "inside" / "target").string()); });
  // Only the archive and the folder that holds the target may stand beside each other.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const auto name = entry.path().filename();
    fuzz::check(name == "device.igxl" || name == "inside",
                "unzip wrote outside its target: " + entry.path().string());
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir / "inside")) {
    fuzz::check(entry.path().filename() == "target",
                "unzip wrote beside its target: " + entry.path().string());
  }
  return 0;
}
