#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/brimsel/parser.hpp"

namespace tarnwick::brimsel {

// "[Errno N] <system text>: '<path>'", the form in which file errors are printed.
std::string os_error_text(int error_number, const std::string& path);

// A source file as read from disk.
struct SourceFile
{
  std::string bytes;
  struct stat status{};
};

// The bytes and status of the regular file at `path` (a symbolic link is followed; opening never
// blocks on a FIFO). Throws tarnwick::Error with os_error_text, or "Not a regular file: '<path>'".
SourceFile read_source_file(const std::string& path);

// "FF FE" or "FE FF" when `bytes` begin with the byte-order mark of UTF-16 (little- or
// big-endian), else null.
const char* utf16_byte_order_mark(std::string_view bytes);

// The lines of `text` as the parser stores them: every CR LF, lone CR or LF becomes one LF kept
// on its line; a last line without a line end keeps none. With `ends`, each line's original line
// end is appended to it ("" for a last line without one).
SourceLines split_source_lines(std::string_view text, std::vector<std::string>* ends = nullptr);

} // namespace tarnwick::brimsel
