#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support.hpp"
#include "tests/small_tmpfs.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarnwick::olvent::test;

const std::string k_table =
  "Job\tFlow Table\tTest Instances\tAC Spec\tDC Spec\tPattern Sets\n"
  "FT_25C\tFlow Table Main\tTest Instances,Test Instances Extra\tAC Specs\tDC Specs\tPattern Sets\n"
  "CP_HOT\tFlow Table CP\tTest Instances\tAC Specs Hot\tDC Specs\tPattern Sets,Pattern Sets Hot\n";

// A bundled end-to-end device.
fs::path bundled(const std::string& name)
{
  return fs::path(TARNWICK_TEST_DATA_DIR) / "olvent" / name;
}

// The files directly in `folder` as zip entries below `prefix` ("name/").
std::vector<std::pair<std::string, std::string>> folder_entries(const fs::path& folder,
                                                                const std::string& prefix)
{
  std::vector<std::pair<std::string, std::string>> entries{{prefix, ""}};
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      entries.emplace_back(prefix + entry.path().filename().string(), read_file(entry.path()));
  return entries;
}

// How a run ended: killed by `signal`, or exited with `status`.
struct Ending
{
  int signal = 0;
  int status = -1;
};

class OlventCommand : public TempDirTest
{
protected:
  void SetUp() override
  {
    TempDirTest::SetUp();
    tmp = make_dir("tmp");
  }

  // Runs olvent with `args` and $TMPDIR at `tmp`, after the settings `env`.
  Command run(const std::vector<std::string>& args, const std::string& env = "")
  {
    return run_olvent(args, dir(), "TMPDIR=" + shell_quote(tmp.string()) + " " + env);
  }

  // The two-job device zipped as "two.zip" (its top folder "two") and a copy of its patterns.
  fs::path two_jobs_archive()
  {
    patterns = dir() / "Patterns";
    fs::copy(bundled("e2e_two_jobs") / "Patterns", patterns, fs::copy_options::recursive);
    fs::path archive = dir() / "two.zip";
    write_zip(archive, folder_entries(bundled("e2e_two_jobs"), "two/"));
    return archive;
  }

  // Writes `workbook` holding the cells of the device folder's job list, by an independent
  // program (openpyxl); tells whether it was written.
  bool write_job_list_workbook(const fs::path& workbook)
  {
    write_file(dir() / "make.py", R"(import sys, openpyxl
wb = openpyxl.Workbook()
wb.active.title = 'Job List'
for r, line in enumerate(open(sys.argv[1], encoding='utf-8').read().split('\n')):
    for c, value in enumerate(line.split('\t')):
        if value:
            wb.active.cell(r + 1, c + 1, value)
wb.save(sys.argv[2])
)");
    const std::string make = "/usr/bin/python3 " + shell_quote((dir() / "make.py").string()) + " "
                             + shell_quote((device_folder() / "Job List.txt").string()) + " "
                             + shell_quote(workbook.string());
    return std::system(make.c_str()) == 0;
  }

  // An executable shell script `name` in the folder `folder` of the test folder.
  fs::path script(const std::string& folder, const std::string& name, const std::string& body)
  {
    fs::path path = make_dir(folder) / name;
    write_file(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
    return path;
  }

  // Runs olvent with `args`, $TMPDIR at `tmp`, PATH `path` and the settings `env`, SIGINT at
  // its default action, SIGPIPE ignored when `ignore_sigpipe`, standard output into a pipe
  // nobody reads when `closed_stdout`, and tells how it ended. With `watch`, the program's
  // file descriptor 3 is the writing end of a pipe whose reading end `watch` gets, with the
  // process id, while the program runs.
  Ending run_until_ended(const std::vector<std::string>& args, const std::string& path,
                         bool closed_stdout = false, bool ignore_sigpipe = false,
                         std::vector<std::string> env = {},
                         const std::function<void(pid_t, int)>& watch = {})
  {
    std::vector<std::string> texts{OLVENT_EXE};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& text : texts)
      argv.push_back(text.data());
    argv.push_back(nullptr);
    env.push_back("TMPDIR=" + tmp.string());
    env.push_back("PATH=" + path);
    std::vector<char*> envp;
    for (auto& setting : env)
      envp.push_back(setting.data());
    envp.push_back(nullptr);
    int pipe_ends[2] = {-1, -1};
    if (closed_stdout) {
      EXPECT_EQ(pipe(pipe_ends), 0);
      close(pipe_ends[0]);
    }
    int watched[2] = {-1, -1};
    if (watch) {
      EXPECT_EQ(pipe(watched), 0);
    }
    pid_t pid = fork();
    if (pid == 0) {
      signal(SIGINT, SIG_DFL);
      signal(SIGPIPE, ignore_sigpipe ? SIG_IGN : SIG_DFL);
      if (closed_stdout)
        dup2(pipe_ends[1], STDOUT_FILENO);
      if (watch) {
        dup2(watched[1], 3);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
      }
      execve(OLVENT_EXE, argv.data(), envp.data());
      _exit(127);
    }
    if (closed_stdout)
      close(pipe_ends[1]);
    if (watch) {
      close(watched[1]);
      watch(pid, watched[0]);
      close(watched[0]);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFSIGNALED(raw) ? Ending{WTERMSIG(raw), -1} : Ending{0, WEXITSTATUS(raw)};
  }

  // Runs olvent with `args` and the scratch-file hook preloaded: `scratch_files` gets the
  // scratch files of the workbook library in the order they were made. With `stop_at` (from
  // 1), the run stops while that scratch file is there, `at_stop` looks at it, and `signal`
  // is sent.
  Ending run_hooked(const std::vector<std::string>& args, std::vector<std::string>& scratch_files,
                    std::size_t stop_at = 0, int signal = 0,
                    const std::function<void(const std::string&)>& at_stop = {})
  {
    std::vector<std::string> env{"LD_PRELOAD=" SCRATCH_FILE_HOOK, "TARNWICK_HOOK_FD=3",
                                 "ASAN_OPTIONS=verify_asan_link_order=0"};
    if (stop_at > 0)
      env.push_back("TARNWICK_HOOK_STOP_AT=" + std::to_string(stop_at));
    scratch_files.clear();
    return run_until_ended(args, "/usr/bin:/bin", false, false, env, [&](pid_t pid, int fd) {
      std::string pending;
      char buffer[4096];
      ssize_t count = 0;
      while ((count = read(fd, buffer, sizeof buffer)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(count));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
          scratch_files.push_back(pending.substr(0, end));
          pending.erase(0, end + 1);
          if (scratch_files.size() == stop_at) {
            at_stop(scratch_files.back());
            kill(pid, signal);
          }
        }
      }
    });
  }

  fs::path tmp;
  fs::path patterns;
};

// The lines a terminal shows after it received `bytes`: "\r" goes back to the start of the
// line, "\033[K" clears the rest of it.
std::vector<std::string> screen_lines(const std::string& bytes)
{
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::string& line = lines.back();
    if (bytes[i] == '\r') {
      column = 0;
    } else if (bytes[i] == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (bytes.compare(i, 3, "\033[K") == 0) {
      line.resize(std::min(column, line.size()));
      i += 2;
    } else {
      if (column < line.size())
        line[column] = bytes[i];
      else
        line += bytes[i];
      ++column;
    }
  }
  if (lines.back().empty())
    lines.pop_back();
  return lines;
}

std::vector<std::string> split_lines(const std::string& text)
{
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST_F(OlventCommand, ListsTheSameJobsFromAFolderAnArchiveAndAWorkbook)
{
  fs::path archive = dir() / "demo.zip";
  write_zip(archive, device_entries("demo/"));
  // The workbook holds the cells of the folder's job list, written by an independent program.
  const fs::path workbook = dir() / "demo.xlsm";
  ASSERT_TRUE(write_job_list_workbook(workbook));

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
    // Quiet, the engine's error line goes to standard error.
    EXPECT_EQ(unsupported.err,
              std::string(args[0] == "-q" ? "Error: file extension is not supported.\n" : "")
                  + "olvent: error: not a device folder, .igxl/.zip archive or .xlsm workbook: "
                  + notes + "\n");
  }
  write_file(dir() / "broken.zip", "not a zip");
  Command broken = run({"-l", (dir() / "broken.zip").string()});
  EXPECT_EQ(broken.status, 2);
  EXPECT_EQ(broken.err.rfind("olvent: error: ", 0), 0u) << broken.err;

  // A run that fails before its workbook is written: the run's trace of the failure comes
  // first.
  Command no_workbook = run({"-q", "-o", dir().string(), device_folder().string()});
  EXPECT_EQ(no_workbook.status, 3);
  EXPECT_NE(no_workbook.err.find("\nolvent: error: "), std::string::npos) << no_workbook.err;
}

// The workbook library does not see its scratch files cut short when $TMPDIR fills up: the run
// fails as any write does, and no broken workbook is left. 4 KiB holds none of the check
// workbook's parts; 8 KiB holds them all, but not the VBT report of a module with 300 issues.
TEST_F(OlventCommand, AScratchFolderThatFillsUpLeavesNoBrokenWorkbook)
{
  const fs::path device = dir() / "two";
  fs::copy(bundled("e2e_two_jobs"), device, fs::copy_options::recursive);
  std::string module;
  for (int i = 0; i < 300; ++i)
    module += "Public bad" + std::to_string(i) + " As Long\n";
  write_file(device / "Big.bas", module);
  const std::string stamp = "_[0-9]{4}-?[0-9]{2}-?[0-9]{2}_+[0-9]+\\.xls[xm]";
  const struct
  {
    std::size_t size;
    std::string vbt;
    int status;
    std::string line; // the line that names the workbook, a pattern
    std::size_t left; // workbooks left in the output folder
  } cases[] = {
    {4096, "", 3,
     "olvent: error: cannot write workbook '{out}/Olvent" + stamp
       + "': its temporary files: No space left on device\\n",
     0},
    // The check workbook is written; the status of a VBT report not written is 4.
    {8192, "--vbt-check", 4,
     "olvent: error: the VBT check wrote no report \\(cannot write workbook '{out}/Brimsel_Report"
       + stamp + "': its temporary files: No space left on device\\); the check workbook is "
       + "{out}/Olvent" + stamp + "\\n",
     1},
  };
  for (const auto& c : cases) {
    const tarnwick::test::SmallTmpfs small(dir() / "small", c.size);
    if (!small.mounted())
      GTEST_SKIP() << small.why_not();
    const fs::path out = dir() / ("out" + std::to_string(c.size) + c.vbt);
    fs::create_directory(out);
    std::vector<std::string> args{"-q", "-o", out.string(), "--patterns",
                                  (device / "Patterns").string(), device.string()};
    if (!c.vbt.empty())
      args.push_back(c.vbt);
    Command result = run_olvent(args, dir(), "TMPDIR=" + shell_quote(small.path().string()));
    EXPECT_EQ(result.status, c.status) << c.vbt;
    std::string line = c.line;
    for (std::size_t at; (at = line.find("{out}")) != std::string::npos;)
      line.replace(at, 5, out.string());
    const std::regex named("(^|\\n)" + line);
    EXPECT_TRUE(std::regex_search(result.err, named)) << result.err;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left.size(), c.left) << c.vbt;
    if (!left.empty()) {
      EXPECT_TRUE(left[0].starts_with("Olvent_")) << left[0];
    }
    EXPECT_TRUE(fs::is_empty(small.path())) << c.vbt;
  }
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
  for (const std::string said :
       {"repeat -j for several jobs", "that begins with \"::\" (CTX makes ::Slow CTX::Slow)",
        "Exit status:\n  0  ", "\n  1  usage error", "\n  2  nothing was checked",
        "\n  3  the run ended without a check workbook", "\n  4  the check workbook was written",
        "Ctrl-C, SIGTERM"})
    EXPECT_NE(help.out.find(said), std::string::npos) << said;
  EXPECT_EQ(run({"--version"}).out, "olvent " TARNWICK_VERSION "\n");
}

TEST_F(OlventCommand, ChecksItsInputsBeforeAnySheetIsRead)
{
  const std::string device = device_folder().string();
  fs::path file = dir() / "file.txt";
  write_file(file, "x");
  const std::string missing = (dir() / "missing").string();
  // The engine would log the context first: nothing is loaded.
  auto refused = [&](const std::vector<std::string>& args, const std::string& line) {
    std::vector<std::string> all{"--context-env", "CTX", device};
    all.insert(all.begin(), args.begin(), args.end());
    Command result = run(all);
    EXPECT_EQ(result.status, 2) << line;
    EXPECT_EQ(result.out, "") << line;
    EXPECT_EQ(result.err, "olvent: error: " + line + "\n");
  };
  refused({"-o", missing}, "output folder " + missing + ": No such file or directory");
  refused({"-o", file.string()}, "output folder " + file.string() + ": Not a directory");
  refused({"--power-order", missing},
          "power-order file " + missing + ": No such file or directory");
  refused({"--power-order", dir().string()},
          "power-order file " + dir().string() + ": Is a directory");
  // A readable file that is no workbook is refused before the run as well.
  refused({"--power-order", file.string()},
          "power-order file " + file.string() + ": not a readable workbook: cannot read workbook '"
              + file.string() + "': not a workbook (zip archive): Not a zip archive");
  const std::string fifo = (dir() / "order.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  refused({"--power-order", fifo}, "power-order file " + fifo + ": Is a FIFO");
  refused({"--patterns", missing}, "pattern folder " + missing + ": No such file or directory");
  refused({"--patterns", file.string()}, "pattern folder " + file.string() + ": Not a directory");
  if (geteuid() != 0) {
    fs::path locked = make_dir("locked");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    refused({"-o", locked.string()}, "output folder " + locked.string() + ": Permission denied");
    fs::permissions(file, fs::perms::none);
    refused({"--power-order", file.string()},
            "power-order file " + file.string() + ": Permission denied");
  }
  EXPECT_TRUE(fs::is_empty(tmp));
  // Listing the jobs writes nothing, so it does not need the output folder.
  EXPECT_EQ(run({"-l", "-o", missing, device}).status, 0);
}

// Inputs that used to read as garbage or be named wrongly: a "Unicode text" (UTF-16) export is
// refused naming the file and its encoding, a device link that loops or leads nowhere is named
// as such, and the sheets of an .xlsm device are named as the workbook's sheets.
TEST_F(OlventCommand, RefusesUnreadableDevicesNamingWhatTheUserGave)
{
  for (const auto& [mark, encoding] : {std::pair<std::string, std::string>{"\xFF\xFE", "UTF-16LE"},
                                       {"\xFE\xFF", "UTF-16BE"}}) {
    const fs::path device = dir() / ("dev" + encoding);
    fs::copy(device_folder(), device);
    std::string utf16 = mark;
    for (char c : read_file(device / "Job List.txt"))
      utf16 += encoding == "UTF-16LE" ? std::string{c, '\0'} : std::string{'\0', c};
    write_file(device / "Job List.txt", utf16);
    Command listed = run({"-l", device.string()});
    EXPECT_EQ(listed.status, 2);
    EXPECT_EQ(listed.out, "");
    EXPECT_EQ(listed.err, "olvent: error: UTF-16 sheet export: '" + (device / "Job List.txt").string()
                            + "' is " + encoding
                            + " text; export the sheet as tab-separated text in UTF-8 or the ANSI"
                              " code page\n");
  }

  const fs::path loop = dir() / "loop";
  fs::create_symlink("loop", loop);
  const fs::path nowhere = dir() / "nowhere";
  fs::create_symlink("missing", nowhere);
  for (const auto& [device, line] :
       {std::pair<fs::path, std::string>{loop, "device " + loop.string()
                                                 + ": Too many levels of symbolic links"},
        {nowhere, "device " + nowhere.string() + ": a link to nothing (No such file or directory)"},
        {dir() / "missing", "device not found: " + (dir() / "missing").string()}}) {
    Command result = run({"-l", device.string()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "olvent: error: " + line + "\n");
  }

  // A workbook whose job list names sheets it does not hold.
  const fs::path workbook = dir() / "book.xlsm";
  ASSERT_TRUE(write_job_list_workbook(workbook));
  const fs::path out = make_dir("out");
  Command result = run({"-q", "-j", "FT_25C", "-o", out.string(), workbook.string()});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err.find(tmp.string()), std::string::npos) << result.err;
  EXPECT_TRUE(std::regex_search(
      result.err, std::regex("\nolvent: error: the run failed \\(No such file or directory: '\\["
                             + workbook.string() + "\\]Flow Table Main'\\); partial check "
                             "workbook: " + out.string() + "/Olvent_[0-9_-]+\\.xlsm\n$")))
      << result.err;
}

TEST_F(OlventCommand, SaysWhenNoJobListSheetIsFound)
{
  const std::string wanted = "whose name matches \"job.*list\" (any case)";
  const fs::path empty = make_dir("empty");
  fs::path other = dir() / "demo.zip";
  write_zip(other, device_entries("other/"));
  fs::path inner = dir() / "inner.zip";
  write_zip(inner, {{"inner/", ""}, {"inner/Flow Table Main.txt", "x"}});
  // A check workbook given as the device.
  fs::path out = make_dir("out");
  Command made = run({"-q", "-o", out.string(), bundled("e2e_power_error").string()});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string workbook = split_lines(made.out).at(0);

  for (const auto& [device, line] : std::vector<std::pair<std::string, std::string>>{
           {empty.string(), "no file or folder in it " + wanted},
           {other.string(),
            "no entry at the top of the archive " + wanted + ", and no folder \"demo\" there"},
           {inner.string(), "no entry of its folder \"inner\" " + wanted},
           {workbook, "no sheet " + wanted}}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-l", device}, {"-o", out.string(), device}}) {
      Command result = run(args);
      EXPECT_EQ(result.status, 2) << device;
      EXPECT_EQ(result.out, "") << device;
      EXPECT_EQ(result.err, "olvent: error: no job-list sheet in " + device + ": " + line + "\n");
    }
  }
  // No workbook was started for them.
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);

  // A job list without jobs lists none and checks none.
  fs::path no_jobs = make_dir("no_jobs");
  std::string header = read_file(device_folder() / "Job List.txt");
  header.resize(header.find("\tFT_25C"));
  write_file(no_jobs / "Job List.txt", header);
  Command listed = run({"-l", no_jobs.string()});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, "Job\tFlow Table\tTest Instances\tAC Spec\tDC Spec\tPattern Sets\n");
  Command checked = run({"-o", out.string(), no_jobs.string()});
  EXPECT_EQ(checked.status, 2);
  EXPECT_EQ(checked.err, "olvent: error: the job list " + (no_jobs / "Job List.txt").string()
                             + " names no job\n");
}

TEST_F(OlventCommand, ShowsEachLineOnceAndQuietOnlyErrorsWarningsAndThePathsWritten)
{
  fs::path out = make_dir("out");
  // A failed flow row: the engine logs its position and printed form and prints them again.
  Command loud = run({"-o", out.string(), bundled("e2e_power_error").string()});
  ASSERT_EQ(loud.status, 0) << loud.err;
  std::vector<std::string> lines = split_lines(loud.out);
  ASSERT_EQ(lines.size(), 8u) << loud.out;
  EXPECT_EQ(lines[2], "Error found in power process:");
  EXPECT_EQ(lines[4].substr(0, 18), "1 - {'Opcode': 'Te");
  EXPECT_EQ(lines[5].substr(0, 21), "Output file path is: ");
  const std::string failed_row = lines[4];

  // A row naming no test instance: one line from the power step, one from the pattern step.
  Command twice = run({"-o", out.string(), bundled("e2e_two_jobs").string()});
  lines = split_lines(twice.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "Info: cannot found NOT_AN_INSTANCE in Test Instance, please check."),
            2)
      << twice.out;

  // Quiet: of the log only the reports of errors and warnings, every line of each once, on
  // standard error.
  Command quiet = run({"-q", "-o", out.string(), bundled("e2e_power_error").string()});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "Error found in power process:\n"
                       "Power pin VDDQ has no clamp row in Levels Bad\n" + failed_row + "\n");
  ASSERT_EQ(split_lines(quiet.out).size(), 1u) << quiet.out;
  EXPECT_TRUE(fs::is_regular_file(split_lines(quiet.out)[0]));

  // The empty line a reader prints after a line that ends with the sheet row's own line end.
  fs::path device = dir() / "device";
  fs::copy(bundled("e2e_two_jobs"), device, fs::copy_options::recursive);
  write_file(device / "Job List.txt", read_file(device / "Job List.txt") + "\tshort\r\n");
  std::string flow = read_file(device / "Flow Main.txt");
  const std::string row = "\tTest\tcont\tcont\t100\t\t\t\t\t\t\t";
  ASSERT_NE(flow.find(row + "2\t\t2\t"), std::string::npos);
  flow.replace(flow.find(row + "2\t\t2\t"), row.size() + 5, row + "\t\t\t");
  write_file(device / "Flow Main.txt", flow);
  Command empty_lines = run({"-o", out.string(), "-j", "FT_ROOM", device.string()});
  EXPECT_EQ(empty_lines.status, 0) << empty_lines.err;
  lines = split_lines(empty_lines.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), ""), 2) << empty_lines.out;
  const std::vector<std::string> followed{"Warning: No flow table found in this line: \tshort",
                                          "No SortBin test found: \t\t\t\t\t" + row};
  for (const std::string& start : followed) {
    auto at = std::find_if(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.starts_with(start); });
    ASSERT_LT(at + 1, lines.end()) << start;
    EXPECT_EQ(at[1], "") << start;
  }
}

TEST_F(OlventCommand, QuietShowsEveryLineOfEachReportOnce)
{
  // A missing pin-level sheet, a missing test-instance sheet, a job without spec sheets and
  // without any instance of its test rows.
  fs::path device = dir() / "device";
  fs::copy(bundled("e2e_two_jobs"), device, fs::copy_options::recursive);
  fs::remove(device / "Levels Hot.txt");
  write_file(device / "Job List.txt",
             read_file(device / "Job List.txt")
                 + "\tNO_INST\tPinMap\tMissing Instances\tFlow Main\t\t\tPattern Sets\t\r\n");
  fs::path out = make_dir("out");
  Command quiet = run({"-q", "-o", out.string(), "-j", "FT_HOT", "-j", "NO_INST", device.string()});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  const std::string folder = device.string();
  EXPECT_EQ(quiet.err,
            "Error found in power process:\n"
            "No such file or directory: '" + folder + "/Levels Hot.txt'\n"
            "0 - {'Opcode': 'Test', 'Parameter': 'CONT_HOT', 'TestNumber': '100', 'HardBin': '2', "
            "'SortBin': '2', 'Result': 'Fail', 'write_row_start': 0}\n"
            "Error: cannot read " + folder + "/Missing Instances.txt, please check it!\n"
            "No such file or directory: '" + folder + "/Missing Instances.txt'\n"
            "Warning: the job NO_INST names no DC spec sheet (its \"DC Specs\" cell is empty); it is "
            "checked with an empty DC spec table\n"
            "Warning: the job NO_INST names no AC spec sheet (its \"AC Specs\" cell is empty); it is "
            "checked with an empty AC spec table\n"
            "Warning: no test instance found for any of the 5 test rows of the job NO_INST; its "
            "sheet is empty\n");

  // A power pin of the power order that a pin-level sheet lacks: both lines of its report.
  const fs::path demo = fs::path(TARNWICK_SOURCE_DIR) / "examples" / "demo-device";
  Command ordered = run({"-q", "-o", out.string(), "-j", "CP1", "--power-order",
                         (demo / "Power Order.xlsx").string(), demo.string()});
  EXPECT_EQ(ordered.status, 0) << ordered.err;
  EXPECT_NE(ordered.err.find("Cannot find power pin name in pin level file!\n"
                             "Power pin name is: VDD_RF\n"),
            std::string::npos)
      << ordered.err;
}

TEST_F(OlventCommand, KeepsTheProgressBarOnALineOfItsOwnOnATerminal)
{
  if (std::system("script --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "no script command to run olvent on a terminal";
  fs::path archive = two_jobs_archive();
  fs::path out = make_dir("out");
  const std::vector<std::string> args{"-o", out.string(), "--patterns", patterns.string(),
                                      archive.string()};
  Command piped = run(args);
  ASSERT_EQ(piped.status, 0) << piped.err;
  ASSERT_EQ(piped.err, "");

  std::string command = "TMPDIR=" + shell_quote(tmp.string()) + " " + shell_quote(OLVENT_EXE);
  for (const auto& arg : args)
    command += " " + shell_quote(arg);
  fs::path typescript = dir() / "typescript";
  std::string on_terminal = "script -qec " + shell_quote(command) + " /dev/null > "
                            + shell_quote(typescript.string()) + " < /dev/null";
  ASSERT_EQ(std::system(on_terminal.c_str()), 0);
  const std::string bytes = read_file(typescript);
  EXPECT_NE(bytes.find("%  job 1 of 2"), std::string::npos);
  EXPECT_NE(bytes.find("%  job 2 of 2"), std::string::npos);

  // What stays on the screen: the lines of the piped run, each whole and once, then the bar.
  std::vector<std::string> shown = screen_lines(bytes);
  std::vector<std::string> expected = split_lines(piped.out);
  ASSERT_EQ(shown.size(), expected.size() + 1) << bytes;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i].starts_with("Output file path is: "))
      EXPECT_EQ(shown[i].substr(0, 21), "Output file path is: ");
    else
      EXPECT_EQ(shown[i], expected[i]);
  }
  EXPECT_EQ(shown.back(), "[" + std::string(40, '#') + "] 100%  job 2 of 2");
}

TEST_F(OlventCommand, RemovesItsTemporaryFolderWhenASignalEndsIt)
{
  fs::path archive = two_jobs_archive();
  const std::string path = "/usr/bin:/bin";
  // The pattern tool asked during the run sends the signal.
  for (int signal : {SIGINT, SIGTERM}) {
    fs::path tool = script("signal" + std::to_string(signal), "patinfo",
                           "kill -s " + std::to_string(signal) + " $PPID\n");
    Ending ended = run_until_ended({"-q", "-o", dir().string(), "--patterns", patterns.string(),
                                    archive.string()},
                                   tool.parent_path().string() + ":" + path);
    EXPECT_EQ(ended.signal, signal) << ended.status;
    EXPECT_TRUE(fs::is_empty(tmp)) << signal;
  }
  // The job table goes to a pipe whose reader has gone, with SIGPIPE at its default or ignored.
  for (bool ignored : {false, true}) {
    Ending ended = run_until_ended({"-l", archive.string()}, path, true, ignored);
    EXPECT_EQ(ended.signal, SIGPIPE) << ended.status;
    EXPECT_TRUE(fs::is_empty(tmp)) << ignored;
  }
}

// Stopped while a workbook is written, at a moment a scratch file of the workbook library
// exists: the scratch file and the hidden workbook go with the signal.
TEST_F(OlventCommand, LeavesNothingBehindWhenASignalComesWhileAWorkbookIsWritten)
{
  fs::path out = make_dir("out");
  const std::vector<std::string> args{"-q", "--vbt-check", "-o", out.string(),
                                      bundled("e2e_two_jobs").string()};
  std::vector<std::string> scratch;
  ASSERT_EQ(run_hooked(args, scratch).status, 0);
  ASSERT_GE(scratch.size(), 2u);
  // They lie in olvent's own temporary folder.
  for (const auto& path : scratch) {
    EXPECT_EQ(fs::path(path).parent_path().parent_path(), tmp) << path;
    EXPECT_EQ(fs::path(path).parent_path().filename().string().rfind("olvent-", 0), 0u) << path;
  }
  const std::size_t last = scratch.size();

  // The first scratch file belongs to the check workbook, the last to the VBT report.
  const std::vector<std::pair<std::size_t, std::string>> points{{1, ".Olvent_"},
                                                                {last, ".Brimsel_Report_"}};
  for (const auto& point : points) {
    const std::size_t stop_at = point.first;
    const std::string& hidden = point.second;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
      fs::remove_all(out);
      fs::create_directory(out);
      std::vector<std::string> written;
      Ending ended = run_hooked(args, scratch, stop_at, signal, [&](const std::string& path) {
        EXPECT_TRUE(fs::exists(path)) << path;
        for (const auto& entry : fs::directory_iterator(out))
          written.push_back(entry.path().filename().string());
      });
      EXPECT_EQ(ended.signal, signal) << ended.status;
      EXPECT_TRUE(std::any_of(written.begin(), written.end(),
                              [&](const std::string& name) { return name.starts_with(hidden); }))
          << stop_at;
      EXPECT_TRUE(fs::is_empty(tmp)) << stop_at << " " << signal;
      for (const auto& entry : fs::directory_iterator(out))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
  }
}

TEST_F(OlventCommand, FindsThePatternToolBesideItselfWhenPathHasNone)
{
  if (fs::exists("/usr/bin/patinfo") || fs::exists("/bin/patinfo"))
    GTEST_SKIP() << "a pattern tool is installed on this machine";
  fs::path archive = two_jobs_archive();
  fs::path listing = patterns / "pattern_tset.txt";
  const std::vector<std::string> args{"-q", "-o", dir().string(), "--patterns", patterns.string(),
                                      archive.string()};
  // The stand-in beside the program answers: its listing names the pattern's time sets, and
  // one of them is missing from the time-set sheet.
  Command stand_in = run(args, "PATH=/usr/bin:/bin");
  EXPECT_EQ(stand_in.status, 0);
  EXPECT_EQ(stand_in.err, "Warning: Tset(tset_fast) in pattern(.\\Patterns\\hot\\func_hot.PAT.gz)"
                          " is not list in TSB: Time Sets\n");
  EXPECT_NE(read_file(listing).find("\ttset_fast"), std::string::npos);

  // A tester's own tool earlier on PATH wins.
  fs::path own =
    script("own", "patinfo", "echo asked >> " + shell_quote((dir() / "asked").string()) + "\n");
  Command tester = run(args, "PATH=" + own.parent_path().string() + ":/usr/bin:/bin");
  EXPECT_EQ(tester.status, 0);
  EXPECT_TRUE(fs::exists(dir() / "asked"));

  // A copy of the program with no tool beside it says so once, before the run.
  fs::path alone = make_dir("alone") / "olvent";
  fs::copy_file(OLVENT_EXE, alone);
  std::string command = "PATH=/usr/bin:/bin TMPDIR=" + shell_quote(tmp.string()) + " "
                        + shell_quote(alone.string());
  for (const auto& arg : args)
    command += " " + shell_quote(arg);
  command += " 2> " + shell_quote((dir() / "err").string()) + " > /dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read_file(dir() / "err"),
            "olvent: warning: no pattern tool patinfo on PATH nor beside olvent: the time sets, "
            "periods and clocks of the patterns stay empty\n");
}

} // namespace
