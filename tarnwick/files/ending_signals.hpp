#pragma once

#include <filesystem>
#include <initializer_list>

#include <signal.h>

#include "tarnwick/files/export.hpp"

// Ending the process by a signal without leaving temporary files behind. Code that creates a
// temporary file or folder arms a cleanup for it; a signal caught by catch_ending_signals
// removes everything armed, then ends the process by that same signal, so that the caller sees
// the usual status. Only a signal that cannot be caught (SIGKILL) can leave such a file.

namespace tarnwick::files {

// What an armed cleanup removes.
enum class CleanupKind
{
  file, // one file (or link)
  tree, // a folder with all it holds; links are removed as links, never followed
};

// Arms the removal of `path` by a signal that ends the process, for the life of this object or
// until `disarm`. Never removes anything by itself. At most 64 cleanups are armed at once in a
// process and a path is at most PATH_MAX bytes; past that the path is simply not armed.
// Arming and disarming are safe from any thread.
class TARNWICK_FILES_EXPORT CleanupOnSignal
{
public:
  CleanupOnSignal(const std::filesystem::path& path, CleanupKind kind);
  ~CleanupOnSignal();
  CleanupOnSignal(const CleanupOnSignal&) = delete;
  CleanupOnSignal& operator=(const CleanupOnSignal&) = delete;

  // A signal no longer removes the path (the file was kept or moved into place).
  void disarm() noexcept;
  bool armed() const noexcept { return m_slot >= 0; }

private:
  int m_slot = -1;
};

// Holds back, in the calling thread and for the life of this object, the signals that
// catch_ending_signals caught: one that comes meanwhile is handled when the object goes. Made
// around the creation of a temporary file or folder and the arming of its cleanup, so that a
// signal cannot end the process between the two and leave the path behind.
class TARNWICK_FILES_EXPORT HoldEndingSignals
{
public:
  HoldEndingSignals() noexcept;
  ~HoldEndingSignals();
  HoldEndingSignals(const HoldEndingSignals&) = delete;
  HoldEndingSignals& operator=(const HoldEndingSignals&) = delete;

private:
  sigset_t m_previous;
};

// Extra work of a program's signal ending, after the armed paths are removed: it must use only
// calls that are safe inside a signal handler.
using SignalHook = void (*)() noexcept;

// Installs the handler for each of `signals` that the process does not ignore (SIGINT of a
// background job stays ignored). The handler removes every armed path, calls `hook` when
// given, and ends the process by the signal. Later calls replace the hook. Call it before the
// process starts threads.
TARNWICK_FILES_EXPORT void catch_ending_signals(std::initializer_list<int> signals,
                                               SignalHook hook = nullptr);

// The same for the signals that end a command-line run: SIGINT, SIGTERM, SIGHUP and SIGPIPE
// (a closed output pipe).
TARNWICK_FILES_EXPORT void catch_ending_signals(SignalHook hook = nullptr);

// Does what the handler does: removes the armed paths, runs the hook and ends the process by
// `signal` with its default action (with status 128 + `signal` when that does not end it).
// Safe inside a signal handler.
[[noreturn]] TARNWICK_FILES_EXPORT void end_by_signal(int signal) noexcept;

// Removes every armed path now and disarms it, as a signal would. Safe inside a signal handler.
TARNWICK_FILES_EXPORT void remove_armed_paths() noexcept;

} // namespace tarnwick::files
