#include <zlib.h>

#include <sys/wait.h>

#include <cstdlib>

#include "tool_fixture.hpp"

namespace {

const std::string k_pattern = "// header comment > tpX ;\n"
                              "import tset tp0, tp1;\n"
                              "bitmap ($tset, tclk, tdi)\n{\n"
                              "start_label bitmap_st:\n"
                              "repeat 6        > tp0     0 X 1 ;   \r\n"
                              "                > tp1     0 X 0 ; // > tp9 ;\n"
                              "loop_1:         > tp0     1 1 1 ;\n"
                              "                > tp2     0 X 0   // no end mark\n"
                              "repeat 2        > tp3     0 X 0 ;   // trailing comment\n"
                              "}\n";

class Patinfo : public ToolDir
{
protected:
  // Runs the built tool on `pattern`; returns its exit status, output in out.txt and err.txt.
  int run(const std::filesystem::path& pattern)
  {
    const std::string command = "'" TARNWICK_BUILD_DIR "/bin/patinfo' '" + pattern.string() + "' -tset >'" +
                                (m_dir / "out.txt").string() + "' 2>'" + (m_dir / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void write_gzip(const std::filesystem::path& path, const std::string& text)
  {
    gzFile file = gzopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(gzwrite(file, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
    ASSERT_EQ(gzclose(file), Z_OK);
  }
};

} // namespace

TEST_F(Patinfo, ListsTimeSetsOfPlainAndGzipSourcesInFirstUseOrder)
{
  EXPECT_EQ(run(write("core.atp", k_pattern)), 0);
  EXPECT_EQ(slurp(m_dir / "out.txt"), "\ttp0 0\n\ttp1 0\n\ttp3 0\n");
  write_gzip(m_dir / "core.PATX.GZ", k_pattern);
  EXPECT_EQ(run(m_dir / "core.PATX.GZ"), 0);
  EXPECT_EQ(slurp(m_dir / "out.txt"), "\ttp0 0\n\ttp1 0\n\ttp3 0\n");
}

TEST_F(Patinfo, UnreadableInputFailsWithoutOutput)
{
  write_gzip(m_dir / "whole.pat.gz", k_pattern);
  const auto whole = slurp(m_dir / "whole.pat.gz");
  const auto cut = write("cut.pat.gz", whole.substr(0, whole.size() - 6));
  for (const auto& path : {m_dir, m_dir / "missing.atp", cut}) {
    EXPECT_EQ(run(path), 1) << path;
    EXPECT_EQ(slurp(m_dir / "out.txt"), "") << path;
    EXPECT_NE(slurp(m_dir / "err.txt"), "") << path;
  }
}
