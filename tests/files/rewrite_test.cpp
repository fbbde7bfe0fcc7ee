#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tarnwick/files/ending_signals.hpp"
#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/rewrite.hpp"
#include "tarnwick/text/error.hpp"
#include "test_util.hpp"

namespace tarnwick::files {
namespace {

namespace fs = std::filesystem;

// A rewrite of a file and its backup, in a test folder.
class Rewrite : public test::TempDirTest
{
protected:
  std::string path(const std::string& relative) const { return (m_dir / relative).string(); }
  std::string write(const std::string& relative, const std::string& bytes) const
  {
    return TempDirTest::write(relative, bytes).string();
  }
  static std::string read(const std::string& file) { return test::read_file(file); }
  // Names of the entries of `folder`, sorted.
  static std::vector<std::string> entries(const fs::path& folder)
  {
    const std::set<std::string> names = test::entries(folder);
    return {names.begin(), names.end()};
  }
};

// The callers word a failed system call themselves.
std::string error_text(int error, const std::string& path)
{
  return errno_text(error) + ": " + path;
}

// A source of 11 KB, so that a backup takes more than one write of a page.
std::string long_source()
{
  std::string text = "Attribute VB_Name = \"Mod\"\r\n";
  while (text.size() < 11000) {
    text += "    total = total + " + std::to_string(text.size()) + "\r\n";
  }
  return text;
}

mode_t mode_of(const std::string& path)
{
  struct stat status{};
  EXPECT_EQ(::stat(path.c_str(), &status), 0);
  return status.st_mode & 07777;
}

TEST_F(Rewrite, BackupsAreNumberedNeverReplacedAndKeepTheMode)
{
  const std::string source = write("a.bas", "old");
  fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string text = long_source();
  const std::string first =
      write_backup(source, "20270115_080000", text, mode_of(source), error_text);
  const std::string second =
      write_backup(source, "20270115_080000", "newer", mode_of(source), error_text);
  EXPECT_EQ(first, source + ".backup_20270115_080000");
  EXPECT_EQ(second, first + "_1");
  EXPECT_EQ(read(first), text);
  EXPECT_EQ(read(second), "newer");
  EXPECT_EQ(mode_of(first), 0640U);
  EXPECT_EQ(entries(m_dir), (std::vector<std::string>{"a.bas", "a.bas.backup_20270115_080000",
                                                      "a.bas.backup_20270115_080000_1"}));
}

// A backup or a rewrite stopped once its temporary file is complete, before that file gets its
// name: by an error, by a signal the program catches, and by a kill. No name ever holds a
// partial file; only the kill leaves the hidden temporary file, and that one is complete.
TEST_F(Rewrite, WriteStoppedBeforeNamingLeavesNoPartialFile)
{
  const std::string original = long_source();
  const std::string renamed = original + "' renamed\r\n";
  struct Writer
  {
    const char* name;
    bool backup;
    std::string written; // what the temporary file holds when complete
  };
  const Writer writers[] = {{"backup", true, original}, {"rewrite", false, renamed}};
  constexpr int k_error = 0;
  for (const Writer& writer : writers) {
    for (const int stop : {k_error, SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
      const std::string where = std::string(writer.name) + " " + std::to_string(stop);
      const std::string folder = path(where);
      const std::string source = write(where + "/a.bas", original);
      const pid_t child = ::fork();
      if (child == 0) {
        catch_ending_signals({SIGINT, SIGTERM, SIGHUP});
        const BeforeNaming stop_here = [stop](const fs::path&) {
          if (stop == k_error) {
            throw Error("stopped");
          }
          ::raise(stop);
        };
        try {
          struct stat status{};
          ::stat(source.c_str(), &status);
          if (writer.backup) {
            write_backup(source, "20270115_080000", original, status.st_mode, error_text,
                         stop_here);
          } else {
            replace_file(source, renamed, status, error_text, stop_here);
          }
        } catch (const Error&) {
          ::_exit(7);
        }
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      if (stop == k_error) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << where;
      } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop) << where;
      }

      std::vector<std::string> names = entries(folder);
      EXPECT_EQ(read(source), original) << where;
      if (stop == SIGKILL) {
        ASSERT_EQ(names.size(), 2U) << where;
        EXPECT_TRUE(names[0].starts_with(".a.bas.") && names[0].ends_with(".tmp")) << names[0];
        EXPECT_EQ(read(folder + "/" + names[0]), writer.written) << where;
        names.erase(names.begin());
      }
      EXPECT_EQ(names, std::vector<std::string>{"a.bas"}) << where;
    }
  }
}

} // namespace
} // namespace tarnwick::files
