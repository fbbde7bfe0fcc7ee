#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/olvent/columns.hpp"
#include "tarnwick/olvent/olvent.hpp"

namespace tarnwick::olvent {

// Reaches the engine's private operations from the tests.
class OlventAccess
{
public:
  static void put_data_log(Olvent& engine, const std::string& line) { engine.put_data_log(line); }

  static std::string spec_calculation(Olvent& engine, const std::string& target,
                                      const sarnet::SpecDict& spec_dict,
                                      const std::string& spec_version,
                                      const std::string& category_name,
                                      const std::string& selector_name,
                                      const sarnet::SelectorRows* selector_rows = nullptr)
  {
    return engine.spec_calculation(target, spec_dict, spec_version, category_name, selector_name,
                                   selector_rows);
  }

  static void add_vba_project_file(xlsx::Workbook& workbook, const std::string& path)
  {
    Olvent::add_vba_project_file(workbook, path);
  }

  static void pattern_period_clk_process(Olvent& engine, int dps_count, int write_row_start,
                                         const lomerick::FlowContent& flow_table_info,
                                         const std::string& flow_table_directory)
  {
    engine.pattern_period_clk_process(dps_count, write_row_start, flow_table_info,
                                      flow_table_directory);
  }

  static std::pair<std::vector<std::string>, std::vector<std::string>>
  extract_per_clk(Olvent& engine, const std::string& pattern_name, const std::string& timing_name,
                  const std::string& category_name, const std::string& selector_name)
  {
    return engine.extract_per_clk(pattern_name, timing_name, category_name, selector_name);
  }

  static columns::Cache& column_cache(Olvent& engine)
  {
    return columns::cache_in(engine.m_column_cache);
  }

  static int power_process_and_get_count(Olvent& engine, const std::string& flow_table_directory,
                                         const lomerick::FlowContent& flow_table_info,
                                         int flow_table_index)
  {
    return engine.power_process_and_get_count(flow_table_directory, flow_table_info,
                                              flow_table_index);
  }
};

} // namespace tarnwick::olvent

namespace tarnwick::olvent::test {

namespace fs = std::filesystem;

// The bundled test device: a folder of sheet text exports with a job list of two jobs.
inline fs::path device_folder() { return fs::path(TARNWICK_TEST_DATA_DIR) / "olvent" / "device"; }

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-olvent-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override
  {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  const fs::path& dir() const { return m_dir; }

  fs::path make_dir(const std::string& name) const
  {
    fs::create_directories(m_dir / name);
    return m_dir / name;
  }

private:
  fs::path m_dir;
};

inline std::string read_file(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const fs::path& path, const std::string& content)
{
  std::ofstream(path, std::ios::binary) << content;
}

// Writes a zip archive holding `entries` (name, content); a name ending in "/" is a folder.
inline void write_zip(const fs::path& path,
                      const std::vector<std::pair<std::string, std::string>>& entries)
{
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr)
    throw std::runtime_error("cannot create " + path.string());
  for (const auto& [name, content] : entries) {
    if (!name.empty() && name.back() == '/') {
      zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_UTF_8);
      continue;
    }
    zip_source_t* source = zip_source_buffer_create(content.data(), content.size(), 0, nullptr);
    if (source == nullptr || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw std::runtime_error("cannot add " + name);
    }
  }
  if (zip_close(archive) != 0)
    throw std::runtime_error("cannot write " + path.string());
}

// The sheet text exports of the bundled device as zip entries, below `prefix` ("" or
// "name/").
inline std::vector<std::pair<std::string, std::string>> device_entries(const std::string& prefix)
{
  std::vector<std::pair<std::string, std::string>> entries;
  if (!prefix.empty())
    entries.emplace_back(prefix, "");
  for (const auto& entry : fs::directory_iterator(device_folder()))
    entries.emplace_back(prefix + entry.path().filename().string(), read_file(entry.path()));
  return entries;
}

inline std::string shell_quote(const std::string& text)
{
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// One run of the built command line: exit status, standard output and standard error.
struct Command
{
  int status = -1;
  std::string out, err;
};

// Runs olvent with `args` after the environment settings `env`; standard input is closed and
// standard error is no terminal. The output goes through files in `scratch`.
inline Command run_olvent(const std::vector<std::string>& args, const fs::path& scratch,
                          const std::string& env = "")
{
  std::string command = env + " " + shell_quote(OLVENT_EXE);
  for (const auto& arg : args)
    command += " " + shell_quote(arg);
  command += " > " + shell_quote((scratch / "stdout").string()) + " 2> "
             + shell_quote((scratch / "stderr").string()) + " < /dev/null";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(scratch / "stdout"),
          read_file(scratch / "stderr")};
}

} // namespace tarnwick::olvent::test
