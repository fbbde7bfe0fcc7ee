#include "tarnwick/brimsel/source_writer.hpp"

#include "tarnwick/brimsel/source_file.hpp"

namespace tarnwick::brimsel {

std::string write_backup(const std::string& path, const std::string& stamp, std::string_view bytes,
                         mode_t mode, const BeforeNaming& before_naming)
{
  return files::write_backup(path, stamp, bytes, mode, os_error_text, before_naming);
}

void replace_file(const std::string& path, std::string_view bytes, const struct stat& original,
                  const BeforeNaming& before_naming)
{
  files::replace_file(path, bytes, original, os_error_text, before_naming);
}

std::string join_with_ends(const SourceLines& lines, const std::vector<std::string>& ends)
{
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.ends_with('\n')) {
      line.remove_suffix(1);
      joined += line;
      joined += i < ends.size() && !ends[i].empty() ? ends[i] : "\n";
    } else {
      joined += line;
    }
  }
  return joined;
}

} // namespace tarnwick::brimsel
