#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "tarnwick/files/claim.hpp"
#include "tarnwick/files/ending_signals.hpp"
#include "tarnwick/files/temporary.hpp"
#include "test_util.hpp"

namespace tarnwick::files {
namespace {

namespace fs = std::filesystem;
using test::TempDirTest;
using test::write_file;

using EndingSignals = TempDirTest;

// Runs `body` in a child process and returns its wait status.
template <class Body> int in_child(Body body)
{
  const pid_t child = ::fork();
  if (child == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

// A caught signal removes the temporary workbook being written and an armed folder with what it
// holds, keeps what was disarmed, and ends the process by that signal.
TEST_F(EndingSignals, CaughtSignalRemovesArmedPathsAndEndsByIt)
{
  const fs::path folder = m_dir / "scratch";
  const fs::path kept = m_dir / "kept.txt";
  const int status = in_child([&] {
    catch_ending_signals({SIGTERM, SIGHUP});
    TemporaryFile temp(m_dir / "Report.xlsx", "report");
    fs::create_directories(folder / "deep");
    write_file(folder / "deep" / "file", "x");
    fs::create_symlink(m_dir, folder / "link-out");
    CleanupOnSignal folder_cleanup(folder, CleanupKind::tree);
    write_file(kept, "kept");
    CleanupOnSignal kept_cleanup(kept, CleanupKind::file);
    kept_cleanup.disarm();
    ::raise(SIGTERM);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(m_dir)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"kept.txt"});
}

// A temporary file that was moved into place and released is no longer the signal's.
TEST_F(EndingSignals, ReleasedTemporaryFileIsKept)
{
  const int status = in_child([&] {
    catch_ending_signals({SIGHUP});
    TemporaryFile temp(m_dir / "Report.xlsx", "report");
    temp.sync_and_close();
    claim_output_file(temp.path(), m_dir / "Report.xlsx", 1, "report");
    temp.release();
    ::raise(SIGHUP);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGHUP);
  EXPECT_TRUE(fs::is_regular_file(m_dir / "Report.xlsx"));
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

// A signal that comes while the ending signals are held waits until the path made meanwhile is
// armed.
TEST_F(EndingSignals, HeldSignalWaitsUntilThePathIsArmed)
{
  const fs::path reached = m_dir / "reached";
  const fs::path made = m_dir / "made";
  const int status = in_child([&] {
    catch_ending_signals({SIGTERM});
    std::optional<CleanupOnSignal> cleanup;
    {
      HoldEndingSignals held;
      ::raise(SIGTERM);
      write_file(reached, "");
      write_file(made, "");
      cleanup.emplace(made, CleanupKind::file);
    }
    ::_exit(0);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_TRUE(fs::exists(reached));
  EXPECT_FALSE(fs::exists(made));
}

// More cleanups than there are slots: the extra ones are not armed, and freed slots are reused.
TEST(CleanupOnSignal, SlotsAreCappedAndReused)
{
  std::vector<std::unique_ptr<CleanupOnSignal>> cleanups;
  for (int i = 0; i < 70; ++i) {
    cleanups.push_back(std::make_unique<CleanupOnSignal>("/nonexistent/" + std::to_string(i),
                                                         CleanupKind::file));
  }
  EXPECT_TRUE(cleanups[63]->armed());
  EXPECT_FALSE(cleanups[64]->armed());
  cleanups[10].reset();
  EXPECT_TRUE(CleanupOnSignal("/nonexistent/again", CleanupKind::file).armed());
}

} // namespace
} // namespace tarnwick::files
