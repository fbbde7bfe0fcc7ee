// Parse rate of the VBT source parser: a generated test-program tree of N and 10 N lines is
// parsed whole (directory walk, reading, line walk, declarations, references, Type and Enum
// counts, parameter check). Prints lines per second for both sizes and their time ratio.

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#include "tarnwick/brimsel/parser.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t k_base_lines = 40000;

// One module of a test program: constants, module variables, a Type, an Enum and
// `procedures` procedures that declare locals and use them, the module's Type and the Type of
// the module before it. Returns the number of lines written.
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
        << "    Dim result_dbl As Double, Count_lng As Long\r\n"
        << "    Dim rec As type_Rec" << m << ", prior As type_Rec" << previous << "\r\n"
        << "    Dim values(10) As Double ' per-site values\r\n"
        << "    Const i_STEP_dbl As Double = 0.25\r\n"
        << "    For i = 0 To 10\r\n"
        << "        values(i) = result_dbl * i + g_LIMIT_" << m << "_dbl * i_STEP_dbl\r\n"
        << "        If values(i) > in_limit Then Count_lng = Count_lng + 1\r\n"
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

// A generated tree of at least `target_lines` lines; removed when the program ends.
struct SourceTree
{
  fs::path root;
  std::size_t lines = 0;

  explicit SourceTree(std::size_t target_lines)
  {
    std::string pattern = (fs::temp_directory_path() / "bench-brimsel-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      throw std::runtime_error("cannot create a temporary folder");
    }
    root = pattern;
    const char* folders[] = {"Common", "Tests/DC", "Tests/AC", "Tests/DC/Leakage", "Lib/DSP"};
    for (int module = 0; lines < target_lines; ++module) {
      const fs::path folder = root / folders[module % 5];
      fs::create_directories(folder);
      lines += write_module(folder / ("Mod" + std::to_string(module) + ".bas"), module, 12);
    }
  }
  ~SourceTree()
  {
    std::error_code ignored;
    fs::remove_all(root, ignored);
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

void parse_tree(benchmark::State& state, std::size_t target_lines)
{
  const SourceTree& source = tree(target_lines);
  std::ostringstream sink;
  for (auto _ : state) {
    auto parser = std::make_unique<tarnwick::brimsel::VBAParser>();
    std::streambuf* console = std::cout.rdbuf(sink.rdbuf());
    parser->parse_files(source.root.string());
    std::cout.rdbuf(console);
    state.PauseTiming();
    benchmark::DoNotOptimize(parser->variable_references.size());
    parser.reset();
    sink.str({});
    state.ResumeTiming();
  }
  state.counters["lines"] = static_cast<double>(source.lines);
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(source.lines),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

// Keeps the median real time and rate of each benchmark for the closing ratio line; the
// median of several repetitions keeps the ratio steady on a busy machine.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
  RatioReporter() : ConsoleReporter(::isatty(1) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times[run.run_name.function_name] = run.GetAdjustedRealTime();
        rates[run.run_name.function_name] = run.counters.at("lines/s");
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, double> rates;
};

} // namespace

int main(int argc, char** argv)
{
  const std::string small = "parse_files/N=" + std::to_string(k_base_lines);
  const std::string large = "parse_files/10N=" + std::to_string(10 * k_base_lines);
  for (const auto& [name, lines] :
       {std::pair{small, k_base_lines}, std::pair{large, 10 * k_base_lines}}) {
    benchmark::RegisterBenchmark(name.c_str(), parse_tree, lines)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.5)
        ->Repetitions(5)
        ->DisplayAggregatesOnly(true);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.times.contains(small) && reporter.times.contains(large)) {
    std::cout << "VBT parse (medians): " << static_cast<long long>(reporter.rates[small])
              << " lines/s at N, " << static_cast<long long>(reporter.rates[large])
              << " lines/s at 10 N; time ratio 10 N / N = "
              << reporter.times[large] / reporter.times[small] << " (target: at most 11)\n";
  }
  benchmark::Shutdown();
  return 0;
}
