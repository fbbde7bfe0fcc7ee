// Writes the VBA project file that the engine embeds in every check workbook.
// Usage: make-vba-project OUTPUT_FILE

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "vba_project.hpp"

int main(int argc, char** argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-vba-project OUTPUT_FILE\n");
    return 2;
  }
  try {
    const std::filesystem::path output(argv[1]);
    if (output.has_parent_path()) {
      std::filesystem::create_directories(output.parent_path());
    }
    const std::string bytes = tarnwick::tools::make_vba_project();
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "make-vba-project: cannot write %s\n", argv[1]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-vba-project: %s\n", e.what());
    return 1;
  }
  return 0;
}
