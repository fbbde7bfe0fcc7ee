// What the command line makes of device files that are no sheet: a FIFO, a device, an empty
// export.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarnwick::olvent::test;

class OlventDeviceFiles : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    tmp = make_dir("tmp");
    out = make_dir("out");
    device = dir() / "dev";
    fs::copy(fs::path(TARNWICK_TEST_DATA_DIR) / "olvent" / "e2e_power_error", device);
  }

  // Runs olvent with `args`; one that waits after all is killed, which fails the test.
  Command run(const std::vector<std::string>& args)
  {
    return run_olvent(args, dir(), "TMPDIR=" + shell_quote(tmp.string()) + " timeout -s KILL 20");
  }

  // Puts a FIFO without a writer in place of `path`.
  static void fifo_at(const fs::path& path)
  {
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  }

  // Puts a link to /dev/zero in place of `path`.
  static void zero_at(const fs::path& path)
  {
    fs::remove(path);
    fs::create_symlink("/dev/zero", path);
  }

  static bool has_line(const std::string& text, const std::string& line)
  {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
  }

  fs::path tmp, out, device;
};

TEST_F(OlventDeviceFiles, RefusesAnInputThatIsNoRegularFileBeforeAnyJob)
{
  const fs::path job_list = device / "Job List.txt";
  const fs::path power_order = dir() / "Power Order.xlsx";
  const fs::path archive = dir() / "dev.igxl";
  const fs::path workbook = dir() / "dev.xlsm";
  fifo_at(power_order);
  fifo_at(archive);
  zero_at(workbook);
  auto refused = [&](const std::vector<std::string>& args, const std::string& line) {
    Command result = run(args);
    EXPECT_EQ(result.status, 2) << line;
    EXPECT_EQ(result.err, "olvent: error: " + line + "\n");
  };
  refused({"--power-order", power_order.string(), "-o", out.string(), device.string()},
          "power-order file " + power_order.string() + ": Is a FIFO");
  refused({"-l", archive.string()}, "Cannot open archive " + archive.string() + ": Is a FIFO");
  refused({"-l", workbook.string()},
          "cannot read workbook '" + workbook.string() + "': Is a character device");
  fifo_at(job_list);
  refused({"-l", device.string()}, "Is a FIFO: '" + job_list.string() + "'");
  zero_at(job_list);
  refused({"-o", out.string(), device.string()},
          "Is a character device: '" + job_list.string() + "'");
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(OlventDeviceFiles, AFlowTableThatIsNoSheetFailsItsJobLikeAMissingOne)
{
  const fs::path flow = device / "Flow Table.txt";
  const fs::path blank_ac = device / "AC Specs.txt";
  auto failed_run = [&](const std::string& line) {
    Command result = run({"-o", out.string(), device.string()});
    EXPECT_EQ(result.status, 3) << line;
    EXPECT_TRUE(has_line(result.out, line)) << result.out;
    EXPECT_FALSE(has_line(result.out, "Execution successful!!!")) << result.out;
    EXPECT_NE(result.err.find("olvent: error: the run failed"), std::string::npos) << result.err;
  };
  fs::remove(flow);
  failed_run("No such file or directory: '" + flow.string() + "'");
  fifo_at(flow);
  failed_run("Is a FIFO: '" + flow.string() + "'");
  zero_at(flow);
  failed_run("Is a character device: '" + flow.string() + "'");
  // What a failed export leaves: no byte at all, or blank lines only.
  fs::remove(flow);
  write_file(flow, "");
  failed_run("Empty sheet export: '" + flow.string() + "'");
  fs::remove(flow);
  fs::copy(fs::path(TARNWICK_TEST_DATA_DIR) / "olvent" / "e2e_power_error" / "Flow Table.txt",
           flow);
  write_file(blank_ac, "\r\n\t\t\t\r\n\r\n");
  failed_run("Empty sheet export: '" + blank_ac.string() + "' holds only blank lines");
  EXPECT_TRUE(fs::is_empty(tmp));
}

} // namespace
