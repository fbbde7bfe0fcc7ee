#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "tarnwick/files/export.hpp"

// Output files are written under a temporary name beside their final name (TemporaryFile) and
// given that name when complete, so a failed or killed writer never leaves a partial file under
// a final name, and a file never replaces or removes anything that already stands at a path.

namespace tarnwick::files {

// Flushes the entry of the folder of `file` for a file renamed or linked into it; a failure
// loses nothing written, so it is not reported.
TARNWICK_FILES_EXPORT void sync_folder(const std::filesystem::path& file);

// `base` with "_" + `number` before its extension ("out/a.xlsx" and 3 give "out/a_3.xlsx");
// a `number` of 1 (or 0) gives `base` itself.
TARNWICK_FILES_EXPORT std::filesystem::path numbered_path(const std::filesystem::path& base,
                                                          unsigned number);

// The smallest number from 1 whose numbered_path has nothing standing at it (not even a
// dangling link) at the time of the call. A guess for messages: another writer may take it.
TARNWICK_FILES_EXPORT unsigned first_free_number(const std::filesystem::path& base);

// How claim_output_file gives a file its final name.
enum class ClaimMethod
{
  automatic,        // rename without replacing; a hard link where the file system refuses
                    // that; an exclusively created placeholder where it refuses links too
  rename_noreplace, // renameat2 with RENAME_NOREPLACE only
  hard_link,        // link() to the name, then unlink() of the temporary name
  placeholder,      // exclusive create of the name, then rename over that empty file
  complete_only,    // rename without replacing, else a hard link, never a placeholder: the
                    // name never holds anything but the complete file
};
TARNWICK_FILES_EXPORT std::string to_string(ClaimMethod method);

// Gives the complete file `temp`, which lies in the folder of `base`, the first name of the
// sequence numbered_path(base, n) from n = `first` on that nothing stands at, atomically: a
// name that exists (a file, a folder, a link) is never replaced and the next number is tried,
// also when other threads or processes claim names of the same sequence at the same time.
// Returns the name taken; `temp` no longer exists then. Throws tarnwick::Error
// "cannot write <what> '<base>': " + the system's reason when no name can be claimed; `temp`
// is then left where it is, for the caller to remove.
TARNWICK_FILES_EXPORT std::filesystem::path
claim_output_file(const std::filesystem::path& temp, const std::filesystem::path& base,
                  unsigned first, const std::string& what,
                  ClaimMethod method = ClaimMethod::automatic);

// The candidate name of a claim with the given number.
using NameSequence = std::function<std::filesystem::path(unsigned number)>;

// claim_output_file over the names `names(first)`, `names(first + 1)`, ... (the folder of each
// is that of `temp`), for files named otherwise than numbered_path does. Errors name
// `names(first)` (or the name that failed).
TARNWICK_FILES_EXPORT std::filesystem::path
claim_output_file(const std::filesystem::path& temp, const NameSequence& names, unsigned first,
                  const std::string& what, ClaimMethod method = ClaimMethod::automatic);

} // namespace tarnwick::files
