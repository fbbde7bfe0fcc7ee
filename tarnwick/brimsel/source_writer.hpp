#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/parser.hpp"

// Writing source files and their backups so that a failed or killed run never leaves a partial
// file under a source's or a backup's name. Each file is written under a hidden temporary name
// beside its final one, synced, then given its name; a signal caught with
// xlsx::catch_ending_signals removes the temporary file, a kill -9 may leave it behind.

namespace tarnwick::brimsel {

// Called with the path of the temporary file once it is complete and synced, right before it
// is given its final name: the point at which a test stops a write. What it throws fails the
// write as an error would (the temporary file is removed).
using BeforeNaming = std::function<void(const std::filesystem::path& temporary)>;

// Writes `bytes` as the backup of the file at `path`, with the permission bits of `mode`, under
// the name `path` + ".backup_" + `stamp`, or with "_1", "_2", ... after the stamp when that
// name is taken. Never replaces anything, and a backup name holds the complete backup or
// nothing. Returns the name taken. Throws tarnwick::Error with the system's reason.
TARNWICK_BRIMSEL_EXPORT std::string write_backup(const std::string& path, const std::string& stamp,
                                                 std::string_view bytes, mode_t mode,
                                                 const BeforeNaming& before_naming = {});

// Replaces the content of the file at `path` (the target when `path` is a symbolic link) with
// `bytes`: a temporary file in the same folder is written, synced and renamed over it, so the
// file holds either its old or its new content. Keeps the mode of `original` and, where
// allowed, its owner. A file this process may not open for writing is refused. Throws
// tarnwick::Error with the system's reason; the file is unchanged then.
TARNWICK_BRIMSEL_EXPORT void replace_file(const std::string& path, std::string_view bytes,
                                          const struct stat& original,
                                          const BeforeNaming& before_naming = {});

// `lines` joined, each line's LF replaced by the line end at the same index of `ends` (as
// split_source_lines gives them; a missing or empty end keeps the LF).
std::string join_with_ends(const SourceLines& lines, const std::vector<std::string>& ends);

} // namespace tarnwick::brimsel
