#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <xlsxwriter.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

struct CommandResult
{
  int status = -1;
  std::string output;
};

// Runs `command` through the shell; returns its exit status and its standard output and error.
CommandResult run(const std::string& command)
{
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  std::array<char, 4096> buffer{};
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    result.output.append(buffer.data(), got);
  }
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string quoted(const fs::path& path)
{
  return "'" + path.string() + "'";
}

std::string read_file(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MakeVbaProject : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-tools-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override
  {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  // Runs the tool and returns the file it wrote.
  fs::path make(const std::string& name) const
  {
    const fs::path output = m_dir / name;
    const CommandResult result = run(quoted(TARNWICK_MAKE_VBA_PROJECT) + " " + quoted(output));
    EXPECT_EQ(result.status, 0) << result.output;
    return output;
  }

  fs::path m_dir;
};

} // namespace

TEST_F(MakeVbaProject, WritesAProjectThatAnIndependentReaderAccepts)
{
  const fs::path file = make("sub/vbaProject.bin");
  const CommandResult check = run("/usr/bin/python3 "
                                  + quoted(fs::path(TARNWICK_SOURCE_DIR) / "tests" / "tools"
                                           / "check_vba_project.py")
                                  + " " + quoted(file));
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST_F(MakeVbaProject, WritesTheSameBytesOnEveryRunAndAtBuildTime)
{
  const std::string first = read_file(make("first.bin"));
  const std::string second = read_file(make("second.bin"));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.size() % 512, 0u);
  EXPECT_TRUE(first == second);
  const fs::path built = fs::path(TARNWICK_BUILD_DIR) / "lib" / "bin" / "vbaProject.bin";
  ASSERT_TRUE(fs::exists(built)) << built;
  EXPECT_TRUE(read_file(built) == first);
}

TEST_F(MakeVbaProject, ModuleSurvivesAnOfficeSuiteRoundTrip)
{
  if (run("command -v soffice").status != 0) {
    GTEST_SKIP() << "soffice is not installed";
  }
  const fs::path project = make("vbaProject.bin");
  const fs::path workbook = m_dir / "book.xlsm";
  lxw_workbook* book = workbook_new(workbook.c_str());
  ASSERT_NE(book, nullptr);
  ASSERT_NE(workbook_add_worksheet(book, "Sheet1"), nullptr);
  ASSERT_EQ(workbook_add_vba_project(book, project.c_str()), LXW_NO_ERROR);
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);

  const CommandResult convert =
    run("cd " + quoted(m_dir) + " && HOME=" + quoted(m_dir)
        + " soffice --headless --norestore --convert-to ods --outdir " + quoted(m_dir) + " "
        + quoted(workbook));
  const fs::path converted = m_dir / "book.ods";
  ASSERT_TRUE(fs::exists(converted)) << convert.output;

  // The module's text reappears as a Basic module of the converted document.
  int error = 0;
  std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
    zip_open(converted.c_str(), ZIP_RDONLY, &error), &zip_discard);
  ASSERT_TRUE(archive);
  bool found = false;
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive.get(), 0) && !found; ++i) {
    const std::string name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
    if (name.rfind("Basic/", 0) != 0) {
      continue;
    }
    zip_file_t* entry = zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0);
    ASSERT_NE(entry, nullptr);
    std::string content;
    std::array<char, 4096> buffer{};
    zip_int64_t got = 0;
    while ((got = zip_fread(entry, buffer.data(), buffer.size())) > 0) {
      content.append(buffer.data(), static_cast<std::size_t>(got));
    }
    zip_fclose(entry);
    found = content.find("Option Explicit") != std::string::npos;
  }
  EXPECT_TRUE(found) << "no Basic module holds the module text";
}
