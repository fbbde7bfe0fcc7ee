// The parse of one VBA module as the directory walk does it, without the walk's own catch
// (which would hide a fault other than a project error).
#pragma once

#include "fuzz/support.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::fuzz {

// The lines of `text` as the parser stores them: CR LF, CR or LF each end a line as one LF.
inline brimsel::SourceLines module_lines(std::string_view bytes)
{
  const std::string text = text::drop_invalid_utf8(bytes);
  brimsel::SourceLines lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
      line += '\n';
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += text[i];
    }
  }
  if (!line.empty()) {
    lines.push_back(std::move(line));
  }
  return lines;
}

// Adds the module `bytes` under `path` to `parser` and walks its lines; false when the walk
// refused it with a project error.
inline bool parse_module(brimsel::VBAParser& parser, const std::string& path, std::string_view bytes)
{
  auto it = parser.files.insert_or_assign(path, module_lines(bytes)).first;
  return run_guarded([&] { parser.parse_file(path, it->second); });
}

} // namespace tarnwick::fuzz
