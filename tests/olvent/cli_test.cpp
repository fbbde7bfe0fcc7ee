#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarnwick::olvent::test;

const std::string k_table =
  "Job\tFlow Table\tTest Instances\tAC Spec\tDC Spec\tPattern Sets\n"
  "FT_25C\tFlow Table Main\tTest Instances,Test Instances Extra\tAC Specs\tDC Specs\tPattern Sets\n"
  "CP_HOT\tFlow Table CP\tTest Instances\tAC Specs Hot\tDC Specs\tPattern Sets,Pattern Sets Hot\n";

class OlventCommand : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    tmp = make_dir("tmp");
  }

  // Runs olvent with `args` and $TMPDIR at `tmp`.
  Command run(const std::vector<std::string>& args)
  {
    return run_olvent(args, dir(), "TMPDIR=" + shell_quote(tmp.string()));
  }

  fs::path tmp;
};

TEST_F(OlventCommand, ListsTheSameJobsFromAFolderAnArchiveAndAWorkbook)
{
  fs::path archive = dir() / "demo.zip";
  write_zip(archive, device_entries("demo/"));
  // The workbook holds the cells of the folder's job list, written by an independent program.
  fs::path workbook = dir() / "demo.xlsm";
  write_file(dir() / "make.py", R"(import sys, openpyxl
wb = openpyxl.Workbook()
wb.active.title = 'Job List'
for r, line in enumerate(open(sys.argv[1], encoding='utf-8').read().split('\n')):
    for c, value in enumerate(line.split('\t')):
        if value:
            wb.active.cell(r + 1, c + 1, value)
wb.save(sys.argv[2])
)");
  std::string make = "/usr/bin/python3 " + shell_quote((dir() / "make.py").string()) + " " +
                     shell_quote((device_folder() / "Job List.txt").string()) + " " +
                     shell_quote(workbook.string());
  ASSERT_EQ(std::system(make.c_str()), 0);

  for (const fs::path& device : {device_folder(), archive, workbook}) {
    Command result = run({"--list-jobs", device.string()});
    EXPECT_EQ(result.status, 0) << device;
    EXPECT_EQ(result.out, k_table) << device;
    EXPECT_EQ(result.err, "") << device;
  }
  EXPECT_TRUE(fs::is_empty(tmp)); // the temporary folders are gone

  Command kept = run({"-l", "--keep-temp", archive.string()});
  ASSERT_FALSE(fs::is_empty(tmp));
  fs::path folder = fs::directory_iterator(tmp)->path();
  EXPECT_TRUE(fs::exists(folder / "demo" / "Job List.txt"));
  EXPECT_EQ(kept.err, "olvent: temporary folder: " + folder.string() + "\n");
}

TEST_F(OlventCommand, PrintsLogLinesUnlessQuiet)
{
  Command loud = run({"-l", "--context-env", "CTX", "--vbt-check", device_folder().string()});
  EXPECT_EQ(loud.out, "Import Context Environment: CTX\nBrimsel Enabled!\n" + k_table);
  Command quiet = run({"-lq", "--context-env", "CTX", device_folder().string()});
  EXPECT_EQ(quiet.out, k_table);
}

TEST_F(OlventCommand, ExitsWithTheStatusOfWhatWentWrong)
{
  EXPECT_EQ(run({}).status, 1);
  Command platform = run({"--platform", "V93K", device_folder().string()});
  EXPECT_EQ(platform.status, 1);
  EXPECT_EQ(platform.err.rfind("olvent: error: ", 0), 0u) << platform.err;
  EXPECT_EQ(run({"--cycle-mode", "period", device_folder().string()}).status, 1);
  Command unknown = run({"-j", "FT_25C", "-j", "NOPE", device_folder().string()});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "olvent: error: unknown job: NOPE; known jobs: FT_25C, CP_HOT\n");

  Command missing = run({"-l", (dir() / "nothing").string()});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "olvent: error: device not found: " + (dir() / "nothing").string() + "\n");
  // A file the engine cannot load is not taken for a device without jobs.
  const std::string notes = (dir() / "notes.txt").string();
  write_file(notes, "x");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-l", notes}, {"-q", notes}}) {
    Command unsupported = run(args);
    EXPECT_EQ(unsupported.status, 2);
    EXPECT_EQ(unsupported.out, args[0] == "-q" ? "" : "Error: file extension is not supported.\n");
    EXPECT_EQ(unsupported.err,
              "olvent: error: not a device folder, .igxl/.zip archive or .xlsm workbook: " +
                  notes + "\n");
  }
  write_file(dir() / "broken.zip", "not a zip");
  Command broken = run({"-l", (dir() / "broken.zip").string()});
  EXPECT_EQ(broken.status, 2);
  EXPECT_EQ(broken.err.rfind("olvent: error: ", 0), 0u) << broken.err;

  // A device without jobs runs into no check workbook.
  Command no_jobs = run({"-q", "-o", dir().string(), make_dir("empty").string()});
  EXPECT_EQ(no_jobs.status, 3);
  // The run's trace of the failure comes first.
  EXPECT_NE(no_jobs.err.find("\nolvent: error: "), std::string::npos) << no_jobs.err;
}

TEST_F(OlventCommand, DescribesItsOptions)
{
  Command help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const std::string option :
       {"DEVICE", "-j,--job NAME", "-l,--list-jobs", "-o,--output DIR", "--platform TEXT",
        "--cycle-mode MODE", "--power-order FILE", "--patterns DIR", "--context-env TEXT",
        "--vbt-check", "-q,--quiet", "--keep-temp", "-h,--help", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(run({"--version"}).out, "olvent " TARNWICK_VERSION "\n");
}

} // namespace
