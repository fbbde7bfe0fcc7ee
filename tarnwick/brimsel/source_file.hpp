#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/files/regular_file.hpp"

namespace tarnwick::brimsel {

// "[Errno N] <system text>: '<path>'", the form in which file errors are printed.
std::string os_error_text(int error_number, const std::string& path);

// A source file as read from disk: its bytes and status.
using SourceFile = files::FileContent;

// Appends every file of `directory` whose name `wanted` accepts (listing order), then walks its
// subfolders in listing order. Symbolic links to folders are not followed; a folder that cannot
// be listed is skipped.
TARNWICK_BRIMSEL_EXPORT void
find_source_files(const std::string& directory,
                  const std::function<bool(const std::string& name)>& wanted,
                  std::vector<std::string>& found);

// The largest VBA module read: 64 MiB, hundreds of times the largest real modules (a few hundred
// KiB), so that a stray huge file is refused at once instead of read whole.
inline constexpr std::uint64_t k_max_module_size = std::uint64_t{64} << 20;

// The bytes and status of the regular file at `path`, as files::read_regular_file reads it (a
// symbolic link is followed; a FIFO or a device is never opened). Throws tarnwick::Error with
// os_error_text, "Not a regular file: '<path>'", or "File too large: '<path>' holds <n> bytes,
// more than 67108864" (k_max_module_size), told by the file's size before a byte is read.
TARNWICK_BRIMSEL_EXPORT SourceFile read_source_file(const std::string& path);

// "FF FE" or "FE FF" when `bytes` begin with the byte-order mark of UTF-16 (little- or
// big-endian), else null.
const char* utf16_byte_order_mark(std::string_view bytes);

// The lines of `text` as the parser stores them: every CR LF, lone CR or LF becomes one LF kept
// on its line; a last line without a line end keeps none. With `ends`, each line's original line
// end is appended to it ("" for a last line without one).
SourceLines split_source_lines(std::string_view text, std::vector<std::string>* ends = nullptr);

} // namespace tarnwick::brimsel
