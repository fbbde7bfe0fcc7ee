#pragma once

// Writing files below a folder without following symbolic links: the folders and files of an
// unpacked archive or of sheet exports, whose names come from the input.

#include <string>
#include <string_view>

#include "tarnwick/files/export.hpp"
#include "tarnwick/files/regular_file.hpp"

namespace tarnwick::files {

// Creates `path` (with its parents, following links: it is the caller's own folder) when
// missing and opens it. Throws tarnwick::Error naming the folder.
TARNWICK_FILES_EXPORT Fd open_target_directory(const std::string& path);

// Opens (creating it when missing) the folder `name` inside `parent` without following a
// symbolic link. `shown_path` names it in messages. Throws tarnwick::Error.
TARNWICK_FILES_EXPORT Fd open_subdirectory(const Fd& parent, const std::string& name,
                                           const std::string& shown_path);

// Creates the file `name` inside `parent` afresh. An existing file of that name is removed
// first (a hard link to a file elsewhere is not written through); an existing symbolic link
// or folder is refused. Throws tarnwick::Error.
TARNWICK_FILES_EXPORT Fd create_file(const Fd& parent, const std::string& name,
                                     const std::string& shown_path);

// Writes all of `data`. Throws tarnwick::Error.
TARNWICK_FILES_EXPORT void write_all(const Fd& fd, std::string_view data,
                                     const std::string& shown_path);

// Closes `fd` and reports a failed close (the data may be lost). Throws tarnwick::Error.
TARNWICK_FILES_EXPORT void close_file(Fd& fd, const std::string& shown_path);

} // namespace tarnwick::files
