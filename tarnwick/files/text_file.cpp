#include "tarnwick/files/text_file.hpp"

#include "tarnwick/files/regular_file.hpp"

namespace tarnwick::files {

std::string read_text_file(const std::filesystem::path& path)
{
  return text::decode_text(read_regular_file(path, k_max_sheet_export));
}

std::string read_sheet_export(const std::filesystem::path& path)
{
  return text::sheet_export_text(read_regular_file(path, k_max_sheet_export), path);
}

std::vector<std::string> read_lines(const std::filesystem::path& path)
{
  return text::split_lines(read_text_file(path));
}

std::vector<text::Row> read_rows(const std::filesystem::path& path)
{
  return text::parse_rows(read_text_file(path));
}

} // namespace tarnwick::files
