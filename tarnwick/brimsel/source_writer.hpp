#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/files/rewrite.hpp"

// Writing source files and their backups through files/rewrite.hpp, with the messages of the
// VBA side: a failed system call reads as os_error_text ("[Errno N] ...").

namespace tarnwick::brimsel {

using files::BeforeNaming;

// Writes `bytes` as the backup of the file at `path`, with the permission bits of `mode`, under
// the name `path` + ".backup_" + `stamp`, or with "_1", "_2", ... after the stamp when that
// name is taken. Never replaces anything, and a backup name holds the complete backup or
// nothing. Returns the name taken. Throws tarnwick::Error with the system's reason
// (files::write_backup).
std::string write_backup(const std::string& path, const std::string& stamp, std::string_view bytes,
                         mode_t mode, const BeforeNaming& before_naming = {});

// Replaces the content of the file at `path` (the target when `path` is a symbolic link) with
// `bytes`: a temporary file in the same folder is written, synced and renamed over it, so the
// file holds either its old or its new content. Keeps the mode of `original` and, where
// allowed, its owner. A file this process may not open for writing is refused. Throws
// tarnwick::Error with the system's reason; the file is unchanged then (files::replace_file).
void replace_file(const std::string& path, std::string_view bytes, const struct stat& original,
                  const BeforeNaming& before_naming = {});

// `lines` joined, each line's LF replaced by the line end at the same index of `ends` (as
// split_source_lines gives them; a missing or empty end keeps the LF).
std::string join_with_ends(const SourceLines& lines, const std::vector<std::string>& ends);

} // namespace tarnwick::brimsel
