#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include <sys/stat.h>

#include "tarnwick/files/export.hpp"

// Rewriting a file in place so that a failed or killed run never leaves a partial file under
// its name or its backup's: each file is written under a hidden temporary name beside its final
// one (TemporaryFile), synced, then given its name; a signal caught with catch_ending_signals
// removes the temporary file, a kill -9 may leave it behind.

namespace tarnwick::files {

// Called with the path of the temporary file once it is complete and synced, right before it
// is given its final name: the point at which a test stops a write. What it throws fails the
// write as an error would (the temporary file is removed).
using BeforeNaming = std::function<void(const std::filesystem::path& temporary)>;

// The caller's message for the system call on `path` that failed with the errno value `error`.
using SystemErrorText = std::string (*)(int error, const std::string& path);

// Writes `bytes` as the backup of the file at `path`, with the permission bits of `mode`, under
// the name `path` + ".backup_" + `stamp`, or with "_1", "_2", ... after the stamp when that
// name is taken. Never replaces anything, and a backup name holds the complete backup or
// nothing. Returns the name taken. Throws tarnwick::Error: `error_text` for a failed write of
// the temporary file, "cannot write backup of '<path>': <reason>" (TemporaryFile) or "cannot
// write backup '<name>': <reason>" (claim_output_file).
TARNWICK_FILES_EXPORT std::string write_backup(const std::string& path, const std::string& stamp,
                                               std::string_view bytes, mode_t mode,
                                               SystemErrorText error_text,
                                               const BeforeNaming& before_naming = {});

// Replaces the content of the file at `path` (the target when `path` is a symbolic link) with
// `bytes`: a temporary file in the same folder is written, synced and renamed over it, so the
// file holds either its old or its new content. Keeps the mode of `original` and, where
// allowed, its owner. A file this process may not open for writing is refused. Throws
// tarnwick::Error, `error_text` for a failed system call or "cannot write new text of
// '<target>': <reason>" (TemporaryFile); the file is unchanged then.
TARNWICK_FILES_EXPORT void replace_file(const std::string& path, std::string_view bytes,
                                        const struct stat& original, SystemErrorText error_text,
                                        const BeforeNaming& before_naming = {});

} // namespace tarnwick::files
