#include "tarnwick/files/ending_signals.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::files {

namespace {

namespace fs = std::filesystem;

enum SlotState : int
{
  k_free = 0,
  k_busy = 1, // being filled or emptied
  k_armed = 2,
};

struct Slot
{
  std::atomic<int> state{k_free};
  CleanupKind kind = CleanupKind::file;
  char path[PATH_MAX] = {};
};

static_assert(std::atomic<int>::is_always_lock_free, "slots are read inside a signal handler");

constexpr int k_slots = 64;
Slot g_slots[k_slots];
std::atomic<SignalHook> g_hook{nullptr};

// The signals that catch_ending_signals installed its handler for.
sigset_t g_caught = [] {
  sigset_t set;
  sigemptyset(&set);
  return set;
}();

// Removes `name` below the folder `dirfd` with all it holds, symbolic links as links, using only
// calls that are safe inside a signal handler. Gives up below `depth` 256. True when it is gone.
bool remove_tree_at(int dirfd, const char* name, int depth) noexcept
{
  if (::unlinkat(dirfd, name, 0) == 0) {
    return true;
  }
  if (errno != EISDIR && errno != EPERM) {
    return errno == ENOENT;
  }
  if (depth < 256) {
    const int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      // Removing entries while reading may hide others from the read: read again from the start
      // until a pass removes nothing.
      bool removed_any = true;
      while (removed_any) {
        removed_any = false;
        ::lseek(fd, 0, SEEK_SET);
        alignas(struct dirent64) char buffer[1024];
        ssize_t size = 0;
        while ((size = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
          for (ssize_t at = 0; at < size;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* entry_name = entry->d_name;
            if (std::strcmp(entry_name, ".") == 0 || std::strcmp(entry_name, "..") == 0) {
              continue;
            }
            removed_any = remove_tree_at(fd, entry_name, depth + 1) || removed_any;
          }
        }
      }
      ::close(fd);
    }
  }
  return ::unlinkat(dirfd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

extern "C" void on_ending_signal(int signal)
{
  end_by_signal(signal);
}

} // namespace

CleanupOnSignal::CleanupOnSignal(const fs::path& path, CleanupKind kind)
{
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  const std::string& text = error ? path.native() : absolute.native();
  if (text.empty() || text.size() >= PATH_MAX) {
    return;
  }
  for (int i = 0; i < k_slots; ++i) {
    int expected = k_free;
    if (g_slots[i].state.compare_exchange_strong(expected, k_busy)) {
      g_slots[i].kind = kind;
      std::memcpy(g_slots[i].path, text.c_str(), text.size() + 1);
      g_slots[i].state.store(k_armed);
      m_slot = i;
      return;
    }
  }
}

CleanupOnSignal::~CleanupOnSignal()
{
  disarm();
}

void CleanupOnSignal::disarm() noexcept
{
  if (m_slot < 0) {
    return;
  }
  int expected = k_armed;
  if (g_slots[m_slot].state.compare_exchange_strong(expected, k_busy)) {
    g_slots[m_slot].state.store(k_free);
  }
  m_slot = -1;
}

HoldEndingSignals::HoldEndingSignals() noexcept
{
  ::pthread_sigmask(SIG_BLOCK, &g_caught, &m_previous);
}

HoldEndingSignals::~HoldEndingSignals()
{
  ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

void remove_armed_paths() noexcept
{
  const int saved_errno = errno;
  for (Slot& slot : g_slots) {
    int expected = k_armed;
    if (!slot.state.compare_exchange_strong(expected, k_busy)) {
      continue;
    }
    if (slot.kind == CleanupKind::tree) {
      remove_tree_at(AT_FDCWD, slot.path, 0);
    } else {
      ::unlink(slot.path);
    }
    slot.state.store(k_free);
  }
  errno = saved_errno;
}

void end_by_signal(int signal) noexcept
{
  remove_armed_paths();
  if (const SignalHook hook = g_hook.load()) {
    hook();
  }
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal); // a signal that does not end the process by default
}

void catch_ending_signals(SignalHook hook)
{
  catch_ending_signals({SIGINT, SIGTERM, SIGHUP, SIGPIPE}, hook);
}

void catch_ending_signals(std::initializer_list<int> signals, SignalHook hook)
{
  g_hook.store(hook);
  struct sigaction action{};
  action.sa_handler = on_ending_signal;
  sigemptyset(&action.sa_mask);
  for (const int signal : signals) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : signals) {
    struct sigaction old{};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaddset(&g_caught, signal);
      ::sigaction(signal, &action, nullptr);
    }
  }
}

} // namespace tarnwick::files
