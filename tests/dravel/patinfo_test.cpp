#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <zlib.h>

#include "tool_fixture.hpp"

extern char** environ;

namespace {

const std::string k_pattern = "// header comment > tpX ;\n"
                              "import tset tp0, tp1;\n"
                              "vm_vector\n"
                              "bitmap ($tset, tclk, tdi)\n"
                              "{\n"
                              "start_label bitmap_st:\n"
                              "repeat 6        > tp0     0 X 1 ;   \r\n"
                              "                > tp1     0 X 0 ; // > tp9 ;\n"
                              "loop_1:         > tp0     1 1 1 ;\n"
                              "                > tp2     0 X 0   // no end mark\n"
                              "repeat 2        > tp3     0 X 0 ;   // trailing comment\n"
                              "                > tp1     0 X 0 ;\n"
                              "}\n";
const std::string k_listing = "\ttp0 0\n\ttp1 0\n\ttp3 0\n";

struct ToolRun
{
  int status = -1;
  std::string out;
  std::string err;
};

class Patinfo : public ToolDir
{
protected:
  ToolRun run(const std::string& pattern)
  {
    const auto out = m_dir / "out.txt";
    const auto err = m_dir / "err.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string tool = TARNWICK_BUILD_DIR "/bin/patinfo";
    std::string arg = pattern;
    std::string option = "-tset";
    char* argv[] = {tool.data(), arg.data(), option.data(), nullptr};
    pid_t pid = 0;
    ToolRun result;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
  }
};

} // namespace

TEST_F(Patinfo, ListsTimeSetsOfPlainAndGzipSourcesInFirstUseOrder)
{
  const auto plain = write("core.atp", k_pattern);
  const auto plain_run = run(plain.string());
  EXPECT_EQ(plain_run.status, 0);
  EXPECT_EQ(plain_run.out, k_listing);

  const auto gz = m_dir / "core.PATX.GZ";
  gzFile file = gzopen(gz.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(gzwrite(file, k_pattern.data(), static_cast<unsigned>(k_pattern.size())),
            static_cast<int>(k_pattern.size()));
  ASSERT_EQ(gzclose(file), Z_OK);
  const auto gz_run = run(gz.string());
  EXPECT_EQ(gz_run.status, 0);
  EXPECT_EQ(gz_run.out, k_listing);
}

TEST_F(Patinfo, UnreadableInputFailsWithoutOutput)
{
  // A gzip stream cut short cannot be read to its end either.
  const auto gz = m_dir / "whole.pat.gz";
  gzFile file = gzopen(gz.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  gzwrite(file, k_pattern.data(), static_cast<unsigned>(k_pattern.size()));
  ASSERT_EQ(gzclose(file), Z_OK);
  const auto whole = slurp(gz);
  const auto cut = write("cut.pat.gz", whole.substr(0, whole.size() - 6));

  for (const auto& path : {m_dir, m_dir / "missing.atp", cut}) {
    const auto result = run(path.string());
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_EQ(result.out, "") << path;
    EXPECT_NE(result.err, "") << path;
  }
}
