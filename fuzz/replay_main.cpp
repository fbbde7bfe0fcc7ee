// Runs a fuzz target's entry once on every file of the given corpus folders (or files), in
// name order, without libFuzzer: the corpus replay of the ordinary test suite. The target's
// temporary files go into a folder of the replay's own below the temporary folder; anything
// still in it at the end fails the replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) {
          inputs.push_back(entry.path());
        }
      }
    } else {
      inputs.push_back(arg);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no corpus input given\n");
    return 1;
  }
  std::string own = (std::filesystem::temp_directory_path() / "tarnwick-replay-XXXXXX").string();
  if (mkdtemp(own.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  setenv("TMPDIR", own.c_str(), 1);
  for (const auto& path : inputs) {
    std::fprintf(stderr, "replay %s\n", path.c_str());
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  tarnwick::fuzz::scratch_root().remove();
  int status = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(own, ec)) {
    std::fprintf(stderr, "left behind: %s\n", entry.path().c_str());
    status = 1;
  }
  std::filesystem::remove_all(own, ec);
  return status;
}
