// The VBT check end to end on a generated test-program tree of N and 10 N lines with many
// same-named locals: the parse alone (directory walk, reading, line walk, declarations,
// references, Type and Enum counts, parameter check), the whole dry run (parse and the dry-run
// report workbook) and the refactor of every suggestion (parse, records, backups and
// rewritten sources). Each run is a fresh process, as a run of the command line is. Prints
// lines per second for both sizes, their time ratio, and the peak memory at 10 N lines.

#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/refactorer.hpp"
#include "tarnwick/brimsel/report_loader.hpp"

namespace {

namespace fs = std::filesystem;
using tarnwick::brimsel::ReportLibrary;
using tarnwick::brimsel::VBAParser;
using tarnwick::brimsel::VBTRefactorer;

constexpr std::size_t k_base_lines = 100000;

// One module of a test program: constants, module variables, a Type, an Enum and
// `procedures` procedures that declare locals and use them, the module's Type and the Type of
// the module before it. Every procedure declares the same locals ("tmp", "i", "values", ...),
// so each of these names has one record per procedure of the tree. Returns the number of
// lines written.
std::size_t write_module(const fs::path& path, int module, int procedures)
{
  const std::string m = std::to_string(module);
  const std::string previous = std::to_string(module > 0 ? module - 1 : 0);
  std::ostringstream out;
  out << "Attribute VB_Name = \"Mod" << m << "\"\r\n"
      << "Option Explicit\r\n\r\n"
      << "' Module " << m << ": measurement helpers for the DC and AC suites\r\n"
      << "Public Const g_LIMIT_" << m << "_dbl As Double = 1.5\r\n"
      << "Public Const MaxSites" << m << " As Long = 8\r\n"
      << "Public g_Count" << m << "_lng As Long\r\n"
      << "Private m_Buffer" << m << "() As Double\r\n"
      << "Dim lastValue" << m << " As Double ' last measured value\r\n\r\n"
      << "Public Type type_Rec" << m
      << "\r\n    Value As Double\r\n    SiteIndex As Long\r\nEnd Type\r\n\r\n"
      << "Private Enum Mode" << m << "\r\n    Mode" << m << "A = 0\r\n    Mode" << m
      << "B = 1\r\nEnd Enum\r\n\r\n";
  for (int p = 0; p < procedures; ++p) {
    const std::string name = "Meas" + m + "_" + std::to_string(p)
                             + (p % 3 == 0   ? "_VBT"
                                : p % 3 == 1 ? "_DSP"
                                             : "");
    const bool is_sub = p % 4 == 3;
    const char* kind = is_sub ? "Sub" : "Function";
    out << "Public " << kind << " " << name << "(ByVal PinName As String, in_limit As Double"
        << (p % 2 ? ", Optional ByRef out_values() As Double" : "") << ")"
        << (is_sub ? "" : " As Long") << "\r\n"
        << "    Dim i As Long\r\n"
        << "    Dim tmp As Long\r\n"
        << "    Dim result_dbl As Double, Count_lng As Long\r\n"
        << "    Dim rec As type_Rec" << m << ", prior As type_Rec" << previous << "\r\n"
        << "    Dim values(10) As Double ' per-site values\r\n"
        << "    Const i_STEP_dbl As Double = 0.25\r\n"
        << "    tmp = 0\r\n"
        << "    For i = 0 To 10\r\n"
        << "        values(i) = result_dbl * i + g_LIMIT_" << m << "_dbl * i_STEP_dbl\r\n"
        << "        If values(i) > in_limit Then Count_lng = Count_lng + 1: tmp = tmp + 1\r\n"
        << "    Next i\r\n"
        << "    rec.Value = result_dbl ' keep the last result\r\n"
        << "    prior.SiteIndex = i\r\n"
        << "    g_Count" << m << "_lng = g_Count" << m << "_lng + Count_lng\r\n"
        << "    lastValue" << m << " = values(0)\r\n"
        << "    Debug.Print \"result of " << name << ": \" & result_dbl\r\n";
    if (!is_sub) {
      out << "    " << name << " = TL_SUCCESS\r\n";
    }
    out << "End " << kind << "\r\n\r\n";
  }
  const std::string text = out.str();
  std::ofstream(path, std::ios::binary) << text;
  std::size_t lines = 0;
  for (char c : text) {
    lines += c == '\n';
  }
  return lines;
}

// A generated tree of at least `target_lines` lines in `source`, a folder `work` for copies
// that the refactor rewrites and a folder `out` for reports; removed when the program ends.
struct SourceTree
{
  fs::path root;
  fs::path source;
  fs::path work;
  fs::path out;
  std::size_t lines = 0;
  std::uintmax_t bytes = 0;
  bool owner = true;

  explicit SourceTree(std::size_t target_lines) : SourceTree(target_lines, temporary_folder()) {}
  // A tree of at least `target_lines` lines made under the existing folder `folder`, which is
  // removed with the tree unless `keep`.
  SourceTree(std::size_t target_lines, const fs::path& folder, bool keep = false)
      : owner(!keep)
  {
    root = folder;
    source = root / "src";
    work = root / "work";
    out = root / "out";
    fs::create_directories(out);
    const char* folders[] = {"Common", "Tests/DC", "Tests/AC", "Tests/DC/Leakage", "Lib/DSP"};
    for (int module = 0; lines < target_lines; ++module) {
      const fs::path folder = source / folders[module % 5];
      fs::create_directories(folder);
      const fs::path file = folder / ("Mod" + std::to_string(module) + ".bas");
      lines += write_module(file, module, 12);
      bytes += fs::file_size(file);
    }
  }
  static fs::path temporary_folder()
  {
    std::string pattern = (fs::temp_directory_path() / "bench-brimsel-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
  }
  // The folders of a tree another SourceTree made under `existing`; left in place.
  explicit SourceTree(const fs::path& existing)
      : root(existing), source(existing / "src"), work(existing / "work"), out(existing / "out"),
        owner(false)
  {}
  ~SourceTree()
  {
    if (owner) {
      std::error_code ignored;
      fs::remove_all(root, ignored);
    }
  }
  SourceTree(const SourceTree&) = delete;
  SourceTree& operator=(const SourceTree&) = delete;

  // `work` made a fresh copy of the sources (the refactor rewrites them and adds backups).
  void restore_work() const
  {
    fs::remove_all(work);
    fs::copy(source, work, fs::copy_options::recursive);
  }
};

const SourceTree& tree(std::size_t target_lines)
{
  static std::map<std::size_t, std::unique_ptr<SourceTree>> trees;
  auto& slot = trees[target_lines];
  if (!slot) {
    slot = std::make_unique<SourceTree>(target_lines);
  }
  return *slot;
}

// Standard output dropped while it is alive: the parse and the refactor print a line per file.
class QuietOutput
{
public:
  QuietOutput() : m_console(std::cout.rdbuf(&m_null)) {}
  ~QuietOutput() { std::cout.rdbuf(m_console); }
  QuietOutput(const QuietOutput&) = delete;
  QuietOutput& operator=(const QuietOutput&) = delete;

private:
  struct NullBuffer : std::streambuf
  {
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
  };
  NullBuffer m_null;
  std::streambuf* m_console;
};

// The dry run as the command line runs it: parse, then the report through the report library.
std::string dry_run(const SourceTree& source)
{
  VBAParser parser;
  parser.parse_files(source.source.string());
  return ReportLibrary::load().generate_dry_run_report([](int) {}, parser, source.out.string());
}

// The refactor of every suggestion: parse the copy, record the renames, back up and rewrite.
void refactor(const SourceTree& source)
{
  VBAParser parser;
  parser.parse_files(source.work.string());
  VBTRefactorer(parser).refactor_all_issues();
}

// Three lines that the declaration pattern worked through in the square of their length, 5 MB
// each: a run of blanks, "As" over and over, and "As x (" over and over. Parsed in this process;
// prints the time, which grows with the lines' length only.
void long_declaration_lines()
{
  const fs::path folder =
      fs::temp_directory_path() / ("bench-long-lines-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  constexpr std::size_t k_length = 5000000;
  std::string as;
  std::string paren;
  while (as.size() < k_length) {
    as += " As";
  }
  while (paren.size() < k_length) {
    paren += " As x (";
  }
  std::ofstream(folder / "Long.bas") << "Dim a" << std::string(k_length, ' ') << "x\n"
                                     << "Dim b" << as << " x\n"
                                     << "Dim c" << paren << ") y\n";
  const auto start = std::chrono::steady_clock::now();
  {
    QuietOutput quiet;
    VBAParser parser;
    parser.parse_files(folder.string());
  }
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  fs::remove_all(folder);
  std::cout << "VBT parse of three 5 MB declaration lines (blanks, \"As\" repeated, \"As x (\" "
               "repeated): "
            << spent.count() << " s\n";
}

// One run of `mode` ("parse_files", "dry_run" or "refactor_all") over the tree under `root`:
// the child process of run_in_child.
int run_once(const std::string& mode, const fs::path& root)
{
  SourceTree source(root);
  QuietOutput quiet;
  if (mode == "parse_files") {
    VBAParser parser;
    parser.parse_files(source.source.string());
  } else if (mode == "dry_run") {
    fs::remove(dry_run(source));
  } else {
    refactor(source);
  }
  return 0;
}

struct ChildRun
{
  double seconds = 0;        // wall time from start to end of the child
  double cpu_seconds = 0;    // its user and system time
  double peak_memory_mb = 0; // its peak resident memory
};

// Runs `mode` over the tree under `root` in a fresh process, as a user runs the command line:
// this program started again with --run-once. Every run starts from an empty heap, so runs of
// both sizes pay alike for the memory they take.
ChildRun run_in_child(const char* mode, const fs::path& root)
{
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  std::string root_text = root.string();
  char* child_argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>("--run-once"),
                        const_cast<char*>(mode), root_text.data(), nullptr};
  std::cout.flush();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    throw std::runtime_error("fork failed");
  }
  if (child == 0) {
    ::execv(self.c_str(), child_argv);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
      || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(std::string("the ") + mode + " run failed");
  }
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          seconds(usage.ru_utime) + seconds(usage.ru_stime),
          static_cast<double>(usage.ru_maxrss) / 1024.0}; // kilobytes on Linux
}

// Times `mode` at `target_lines`, one fresh process per iteration; counters: lines, lines per
// second, processor seconds per run and the peak memory of the largest run.
void run_tree(benchmark::State& state, const char* mode, std::size_t target_lines)
{
  const SourceTree& source = tree(target_lines);
  const bool rewrites = std::string(mode) == "refactor_all";
  double cpu_seconds = 0;
  double peak_memory_mb = 0;
  for (auto _ : state) {
    if (rewrites) {
      source.restore_work();
    }
    const ChildRun run = run_in_child(mode, source.root);
    state.SetIterationTime(run.seconds);
    cpu_seconds += run.cpu_seconds;
    peak_memory_mb = std::max(peak_memory_mb, run.peak_memory_mb);
  }
  state.counters["lines"] = static_cast<double>(source.lines);
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(source.lines),
                                                 benchmark::Counter::kIsIterationInvariantRate);
  state.counters["cpu_s"] =
      benchmark::Counter(cpu_seconds, benchmark::Counter::kAvgIterations);
  state.counters["peak_MB"] = peak_memory_mb;
}

// Keeps the median time, rate, processor time and peak memory of each benchmark for the
// closing lines; the median of several repetitions keeps the ratio steady on a busy machine.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
  RatioReporter() : ConsoleReporter(::isatty(1) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        Figures& figures = medians[run.run_name.function_name];
        figures.seconds = run.GetAdjustedRealTime() / 1000.0;
        figures.rate = run.counters.at("lines/s");
        figures.cpu_seconds = run.counters.at("cpu_s");
        figures.peak_memory_mb = run.counters.at("peak_MB");
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  struct Figures
  {
    double seconds = 0;
    double rate = 0;
    double cpu_seconds = 0;
    double peak_memory_mb = 0;
  };
  std::map<std::string, Figures> medians;
};

struct Family
{
  const char* name;
  const char* title;
  int repetitions;
};

constexpr Family k_families[] = {
  {"parse_files", "VBT parse", 5},
  {"dry_run", "VBT dry run (parse, references, report)", 3},
  {"refactor_all", "VBT refactor of all suggestions (parse, backups, rewrite)", 3},
};

std::string size_name(const char* family, std::size_t factor)
{
  return std::string(family) + (factor == 1 ? "/N=" : "/10N=")
         + std::to_string(factor * k_base_lines);
}

} // namespace

int main(int argc, char** argv)
{
  if (argc == 4 && std::string(argv[1]) == "--run-once") {
    return run_once(argv[2], argv[3]);
  }
  // For profiling one run: `--make-tree LINES FOLDER` leaves a tree in FOLDER (made if need
  // be); `--run-once MODE FOLDER` then runs one mode over it.
  if (argc == 4 && std::string(argv[1]) == "--make-tree") {
    fs::create_directories(argv[3]);
    const SourceTree made(std::stoul(argv[2]), argv[3], true);
    std::cout << made.lines << " lines, " << made.bytes << " bytes in " << made.source << "\n";
    return 0;
  }
  for (const Family& family : k_families) {
    for (std::size_t factor : {1, 10}) {
      benchmark::RegisterBenchmark(size_name(family.name, factor).c_str(), run_tree, family.name,
                                   factor * k_base_lines)
          ->Unit(benchmark::kMillisecond)
          ->UseManualTime()
          ->MinTime(0.5)
          ->Repetitions(family.repetitions)
          ->DisplayAggregatesOnly(true);
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const Family& family : k_families) {
    const std::string small = size_name(family.name, 1);
    const std::string big = size_name(family.name, 10);
    if (!reporter.medians.contains(small) || !reporter.medians.contains(big)) {
      continue;
    }
    const RatioReporter::Figures& n = reporter.medians[small];
    const RatioReporter::Figures& ten_n = reporter.medians[big];
    const SourceTree& large = tree(10 * k_base_lines);
    std::cout << family.title << " (medians): " << static_cast<long long>(n.rate)
              << " lines/s at N, " << static_cast<long long>(ten_n.rate)
              << " lines/s at 10 N; time ratio 10 N / N = " << ten_n.seconds / n.seconds
              << " (targets: at least 250000 lines/s at 10 N, ratio at most 11); processor time "
              << static_cast<long long>(static_cast<double>(large.lines) / ten_n.cpu_seconds)
              << " lines/s at 10 N, ratio " << ten_n.cpu_seconds / n.cpu_seconds
              << "; peak memory at " << large.lines << " lines (" << large.bytes / 1000000
              << " MB of source): " << static_cast<long long>(ten_n.peak_memory_mb) << " MB\n";
  }
  long_declaration_lines();
  benchmark::Shutdown();
  return 0;
}
