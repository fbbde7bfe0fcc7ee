#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tarnwick/text/error.hpp"
#include "tarnwick/xlsx/reader.hpp"
#include "tarnwick/xlsx/writer.hpp"
#include "test_util.hpp"

namespace tarnwick::xlsx {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDirTest;
using test::write_file;

std::set<std::string> entries(const fs::path& folder)
{
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class OutputWorkbook : public TempDirTest
{
};

TEST_F(OutputWorkbook, ATakenNameIsNumberedAndLeftAlone)
{
  const fs::path base = m_dir / "book.xlsx";
  fs::create_directory(base);
  write_file(base / "inside", "kept");
  Workbook book(base);
  EXPECT_EQ(book.path(), m_dir / "book_2.xlsx");
  book.add_worksheet("S").write_string(0, 0, "x");
  EXPECT_EQ(book.close(), m_dir / "book_2.xlsx");
  EXPECT_EQ(Reader(m_dir / "book_2.xlsx").read_sheet("S").cell(0, 0).text, "x");
  EXPECT_EQ(read_file(base / "inside"), "kept");

  // A discarded workbook writes nothing.
  Workbook dropped(base);
  dropped.add_worksheet("S");
  dropped.discard();
  EXPECT_TRUE(dropped.closed());
  EXPECT_EQ(entries(m_dir), (std::set<std::string>{"book.xlsx", "book_2.xlsx"}));
}

// Writers in separate processes, started together, each keep their own workbook.
TEST_F(OutputWorkbook, ConcurrentWritersEachKeepTheirWorkbook)
{
  constexpr int k_writers = 6;
  const fs::path base = m_dir / "Olvent_2026-03-07__953.xlsm";
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < k_writers; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(go[1]);
      char byte = 0;
      const bool started = ::read(go[0], &byte, 1) == 0; // the parent closed its end
      Workbook book(base);
      book.add_worksheet("S").write_number(0, 0, i);
      try {
        book.close();
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(started ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(go[0]);
  ::close(go[1]);
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::set<double> writers;
  for (const auto& name : entries(m_dir)) {
    writers.insert(Reader(m_dir / name).read_sheet("S").cell(0, 0).number);
  }
  EXPECT_EQ(writers.size(), std::size_t{k_writers});
  EXPECT_EQ(entries(m_dir).size(), std::size_t{k_writers});
}

// A workbook that cannot be written says why in the system's words, once (the library prints
// nothing), and leaves nothing behind.
TEST_F(OutputWorkbook, AFailedWriteNamesTheSystemsReasonAndLeavesNothing)
{
  write_file(m_dir / "plain", "not a folder");
  std::vector<std::pair<fs::path, std::string>> cases = {
    {m_dir / "missing" / "a.xlsx", "No such file or directory"},
    {m_dir / "plain" / "a.xlsx", "Not a directory"},
  };
  if (::geteuid() != 0) { // the superuser writes into a read-only folder
    fs::create_directory(m_dir / "read-only");
    fs::permissions(m_dir / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
    cases.emplace_back(m_dir / "read-only" / "a.xlsx", "Permission denied");
  }
  for (const auto& [path, reason] : cases) {
    Workbook book(path);
    book.add_worksheet("S");
    ::testing::internal::CaptureStderr();
    try {
      book.close();
      ADD_FAILURE() << path;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "cannot write workbook '" + path.string() + "': " + reason);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(book.closed());
  }
  std::set<std::string> expected = {"plain"};
  if (fs::exists(m_dir / "read-only")) {
    EXPECT_TRUE(fs::is_empty(m_dir / "read-only"));
    fs::permissions(m_dir / "read-only", fs::perms::owner_all);
    expected.insert("read-only");
  }
  EXPECT_EQ(entries(m_dir), expected);
}

// A write that fails half-way (here at the file-size limit, as at a full disk) leaves
// neither the temporary file nor anything under the final name.
TEST_F(OutputWorkbook, AWriteThatFailsHalfWayLeavesNothing)
{
  const fs::path path = m_dir / "big.xlsx";
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipe_ends[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string message = "no error";
    try {
      Workbook book(path);
      Worksheet& sheet = book.add_worksheet("S");
      unsigned value = 1;
      for (Row row = 0; row < 2000; ++row) { // texts that do not compress well
        value = value * 1103515245U + 12345U;
        sheet.write_string(row, 0, std::to_string(value) + std::to_string(value * 7U));
      }
      book.close();
    } catch (const Error& e) {
      message = e.what();
    }
    (void)!::write(pipe_ends[1], message.data(), message.size());
    ::_exit(0);
  }
  ::close(pipe_ends[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
    message.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_ends[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(message, "cannot write workbook '" + path.string() + "': File too large");
  EXPECT_TRUE(fs::is_empty(m_dir));
}

} // namespace
} // namespace tarnwick::xlsx
