// The brimsel program stopped by a signal while it writes its report: the workbook library's
// scratch files and the report's hidden temporary file go with it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "../parvine/support.hpp"

namespace tarnwick::brimsel {
namespace {

namespace fs = std::filesystem;
using parvine::test::TempDir;

#ifdef SCRATCH_FILE_HOOK

const fs::path k_modules = fs::path(TARNWICK_TEST_DATA_DIR) / "refactor" / "e2e" / "vbt";

std::vector<std::string> entries_below(const fs::path& folder)
{
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    names.push_back(fs::relative(entry.path(), folder).string());
  }
  return names;
}

// Runs a dry run of `folder` with the scratch-file hook preloaded, stops it at its first
// scratch file, sends `signal` and returns how it ended (the wait status). `tmpdir` is its
// $TMPDIR; `scratch` gets the scratch file's path as the hook saw it.
int dry_run_stopped_by(int signal, const fs::path& folder, const fs::path& tmpdir,
                       std::string& scratch)
{
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) {
    return -1;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    if (pipe_ends[1] != 3) {
      ::dup2(pipe_ends[1], 3);
      ::close(pipe_ends[1]);
    }
    ::setenv("LD_PRELOAD", SCRATCH_FILE_HOOK, 1);
    ::setenv("TARNWICK_HOOK_FD", "3", 1);
    ::setenv("TARNWICK_HOOK_STOP_AT", "1", 1);
    ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    // The signal must reach the program even where the test runs with it ignored, and a
    // program that ignores it anyway ends by the alarm instead of hanging the test.
    ::signal(signal, SIG_DFL);
    ::alarm(60);
    const std::string program = (fs::path(TARNWICK_BUILD_DIR) / "bin" / "brimsel").string();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
      ::_exit(126);
    }
    ::execl(program.c_str(), program.c_str(), folder.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_ends[1]);
  char c = 0;
  while (::read(pipe_ends[0], &c, 1) == 1 && c != '\n') {
    scratch += c;
  }
  ::kill(child, signal);
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

TEST(BrimselSignals, InterruptedDryRunLeavesNoTemporaryFile)
{
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    TempDir dir;
    const fs::path modules = dir.path() / "vbt";
    const fs::path tmpdir = dir.path() / "tmp";
    fs::copy(k_modules, modules, fs::copy_options::recursive);
    fs::create_directory(tmpdir);
    const std::vector<std::string> before = entries_below(modules);

    std::string scratch;
    const int status = dry_run_stopped_by(signal, modules, tmpdir, scratch);
    ASSERT_TRUE(WIFSIGNALED(status)) << signal;
    EXPECT_EQ(WTERMSIG(status), signal);
    // The run was stopped inside its own temporary folder, which is gone with all it held.
    EXPECT_TRUE(scratch.starts_with((tmpdir / "brimsel-").string())) << scratch;
    EXPECT_TRUE(fs::is_empty(tmpdir)) << signal;
    EXPECT_EQ(entries_below(modules), before) << signal;
  }
}

#endif

} // namespace
} // namespace tarnwick::brimsel
