#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "parser_test_util.hpp"
#include "tarnwick/brimsel/source_file.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::brimsel {
namespace {

using testing::TempDirTest;

using SourceFileTest = TempDirTest;

// The messages of a source that cannot be read are the VBA side's own; the reading is that of
// files::read_regular_file.
TEST_F(SourceFileTest, UnreadableSourcesAreNamedInTheirOwnWords)
{
  const std::string missing = m_dir + "/missing.bas";
  const std::string folder = m_dir + "/folder.bas";
  std::filesystem::create_directory(folder);
  const std::string fifo = m_dir + "/pipe.bas";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = write("huge.bas", "");
  std::filesystem::resize_file(huge, k_max_module_size + 1); // sparse: takes no room
  const std::pair<std::string, std::string> cases[] = {
    {missing, "[Errno 2] No such file or directory: '" + missing + "'"},
    {folder, "Not a regular file: '" + folder + "'"},
    {fifo, "Not a regular file: '" + fifo + "'"},
    {huge, "File too large: '" + huge + "' holds 67108865 bytes, more than 67108864"},
  };
  for (const auto& [path, message] : cases) {
    try {
      read_source_file(path);
      ADD_FAILURE() << path;
    } catch (const Error& error) {
      EXPECT_EQ(std::string(error.what()), message);
    }
  }
  const SourceFile file = read_source_file(write("a.bas", "Sub A()\r\n"));
  EXPECT_EQ(file.bytes, "Sub A()\r\n");
  EXPECT_EQ(file.status.st_size, 9);
}

} // namespace
} // namespace tarnwick::brimsel
