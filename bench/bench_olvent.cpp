// Benchmarks of the device check, in three parts:
//
// 1. The whole device check (load and run) on a generated device, against the workbook writer
//    alone writing the same cells in a fresh process. Prints both times, their ratio (target
//    1.5) and the part of the check that the pattern tool took.
// 2. Growth: a device grown ten times in flow rows and in test instances; prints the ratio of
//    the check times (target 11).
// 3. The clamp sheet "PowerPinClampCheck" at 2,500 and at 20,000 instances of 20 power pins.
//
// Times are given as wall-clock time and as processor time (user and system, the pattern tool's
// processes included); the second is steadier on a loaded machine.
//
//   bench_olvent [--jobs N] [--rows N] [--instances N] [--records N] [--pins N] [--patterns N]
//                [--part 1|2|3] [--keep]
//
// The options set the device of part 1 and the base device of part 2 (whose jobs and patterns
// are fixed at 2 and 20); --part runs one part only. Defaults: 20 jobs of 2,000 flow rows each over 500
// test instances of 2 records, 8 power pins, 200 patterns. The stand-in pattern tool `patinfo`
// is taken from the folder of this program.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <iostream>
#include <limits>
#include <map>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/time.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/xlsx/part_check.hpp"
#include "tarnwick/xlsx/reader.hpp"
#include "tarnwick/xlsx/writer.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Cells = std::vector<std::string>;

struct Params
{
  int jobs = 20;
  int rows = 2000;     // flow rows per job
  int instances = 500; // test instances, shared by every job
  int records = 2;     // records (sheet rows) per instance
  int pins = 8;        // power pins of the pin-level sheet
  int patterns = 200;  // pattern files, one pattern set each
  int part = 0;        // the one part to run, 0 for all
  bool keep = false;   // keep the generated device and the workbooks
};

// A sheet text export as the tester writes it: row 0 the sheet kind and the title, rows padded
// with tabs to `width` cells, CR LF line ends.
class SheetWriter
{
public:
  SheetWriter(const fs::path& path, const std::string& kind, const std::string& version,
              const std::string& title, std::size_t width)
      : m_out(path, std::ios::binary), m_width(width)
  {
    row({"DT" + kind + ",version=" + version + ":platform=Jaguar:toprow=-1:leftcol=-1:rightcol=-1",
         title});
  }
  void row(Cells cells)
  {
    cells.resize(std::max(cells.size(), m_width));
    for (std::size_t i = 0; i < cells.size(); ++i)
      m_out << (i ? "\t" : "") << cells[i];
    m_out << "\r\n";
  }

private:
  std::ofstream m_out;
  std::size_t m_width;
};

std::string num(int value)
{
  return std::to_string(value);
}

void write_device(const fs::path& device, const Params& p)
{
  fs::create_directories(device / "Patterns");

  SheetWriter jobs(device / "Job List.txt", "JobListSheet", "2.5", "Job List", 20);
  jobs.row({});
  jobs.row({"", "", "Sheet Parameters"});
  jobs.row({"",
            "Job Name",
            "Pin Map",
            "Test Instances",
            "Flow Table",
            "AC Specs",
            "DC Specs",
            "Pattern Sets",
            "Pattern Groups",
            "Bin Table",
            "Characterization",
            "Test Procedures",
            "Mixed Signal Timing",
            "Wave Definitions",
            "Psets",
            "Signals",
            "Port Map",
            "Fractional Bus",
            "Concurrent Sequence",
            "Comment"});
  for (int j = 0; j < p.jobs; ++j)
    jobs.row({"", "JOB_" + num(j), "PinMap", "Test Instances", "Flow " + num(j), "AC Specs",
              "DC Specs", "Pattern Sets"});

  const Cells flow_header = {"",          "Label", "Enable", "Job",   "Part",  "Env",   "Opcode",
                             "Parameter", "TName", "TNum",   "LoLim", "HiLim", "Scale", "Units",
                             "Format",    "Pass",  "Fail",   "Pass",  "Fail",  "Result"};
  for (int j = 0; j < p.jobs; ++j) {
    SheetWriter flow(device / ("Flow " + num(j) + ".txt"), "FlowtableSheet", "2.2", "Flow Table",
                     33);
    flow.row({"", "", "", "", "", "", "Flow Domain:"});
    flow.row({"", "", "", "Gate", "", "", "Command", "", "", "", "Limits", "",
              "Datalog Display Results"});
    flow.row(flow_header);
    for (int r = 0; r < p.rows; ++r) {
      std::string name = "inst_" + num((r * 7 + j) % p.instances);
      std::string bin = num(r % 50 + 1);
      flow.row({"",
                "",
                "",
                "",
                "",
                "",
                r % 97 == 5 ? "nop" : "Test",
                name,
                name,
                num(1000 + r),
                "",
                "",
                "",
                "",
                "",
                "",
                bin,
                "",
                bin,
                r % 3 ? "Fail" : "None"});
    }
  }

  SheetWriter instances(device / "Test Instances.txt", "TestInstancesSheet", "2.4",
                        "Test Instances", 40);
  instances.row({});
  instances.row(
      {"", "", "Test Procedure", "", "", "DC Specs", "", "AC Specs", "", "Sheet Parameters"});
  instances.row({"", "Test Name", "Type", "Name", "Called As", "Category", "Selector", "Category",
                 "Selector", "Time Sets", "Edge Sets", "Pin Levels", "Mixed Signal Timing",
                 "Overlay", "Arg0", "Arg1", "Arg2"});
  for (int i = 0; i < p.instances; ++i) {
    for (int r = 0; r < p.records; ++r) {
      instances.row({"", "inst_" + num(i), "VBT", "Functional_T", "Excel Macro", "Dc_Room",
                     "Sel_Typ", "Ac_Room", "nom", "Time Sets", "", "Levels", "", "",
                     "Patterns,StartOfBodyF,PrePatF", "ps_" + num((i * p.records + r) % p.patterns),
                     "PrePat"});
    }
  }

  SheetWriter sets(device / "Pattern Sets.txt", "PatternSetSheet", "2.5", "Pattern Sets", 10);
  sets.row({});
  sets.row({"", "Pattern Set", "TD Group", "Time Domain", "Enable", "File/Group Name", "Burst"});
  for (int k = 0; k < p.patterns; ++k) {
    sets.row({"", "ps_" + num(k), "", "", "", ".\\Patterns\\p_" + num(k) + ".PAT", "Yes"});
    std::ofstream pattern(device / "Patterns" / ("p_" + num(k) + ".PAT"), std::ios::binary);
    pattern << "// Pattern source p_" << k << "\nimport tset tset_func, tset_slow;\nvm_vector\n"
            << "p_" << k << " ($tset, CLK, DIN, DOUT)\n{\n";
    for (int v = 0; v < 16; ++v)
      pattern << "    > " << (k % 2 && v % 4 == 3 ? "tset_slow" : "tset_func") << " 1 0 X ;\n";
    pattern << "halt > tset_func X X X ;\n}\n";
  }

  SheetWriter dc(device / "DC Specs.txt", "DCSpecSheet", "3.0", "DC Specs", 12);
  dc.row({});
  dc.row({"", "", "", "Selectors", "", "Dc_Room", "", "", "Comment"});
  dc.row({"", "Symbol", "Value", "Sel_Typ", "Sel_Max", "Typ", "Min", "Max"});
  dc.row({"", "vdd", "", "Typ", "Max", "=1.8*V", "=1.71*V", "=1.89*V"});
  dc.row({"", "i_clamp", "", "Typ", "Max", "=_i_base*2", "=_i_base", "=_i_base*3"});
  for (int k = 0; k < p.pins; ++k) {
    std::string offset = "0.0" + num(k % 10);
    dc.row({"", "v_" + num(k), "", "Typ", "Max", "=_vdd+" + offset, "=_vdd", "=_vdd*1.1"});
  }

  SheetWriter ac(device / "AC Specs.txt", "ACSpecSheet", "2.0", "AC Specs", 10);
  ac.row({});
  ac.row({"", "", "", "Selector", "", "Ac_Room", "", "", "Comment"});
  ac.row({"", "Symbol", "Value", "Name", "Val", "Typ", "Min", "Max"});
  ac.row({"", "per_func", "", "nom", "Typ", "=10*ns", "=9*ns", "=11*ns"});
  ac.row({"", "per_slow", "", "nom", "Typ", "=4*_per_func", "=36*ns", "=44*ns"});

  SheetWriter global(device / "Global Specs.txt", "GlobalSpecSheet", "2.0", "Global Specs", 5);
  global.row({});
  global.row({});
  global.row({"", "Symbol", "Job", "Value", "Comment"});
  global.row({"", "i_base", "", "=0.05", "clamp current base"});

  SheetWriter times(device / "Time Sets.txt", "TimesetBasicSheet", "2.3", "Time Sets (Basic)", 18);
  times.row({});
  times.row({"", "Timing Mode:", "Single"});
  times.row({"", "Time Domain:"});
  times.row({});
  times.row({"", "", "Cycle", "Pin/Group", "", "", "", "Data"});
  times.row({"", "Time Set", "Period", "Name", "Clock Period", "Setup", "Src", "Fmt"});
  for (const std::string period : {"func", "slow"}) {
    std::string tset = "tset_" + period;
    times.row({"", tset, "=_per_" + period, "CLK", "=_per_" + period + "/2", "clock", "PAT", "RL"});
    times.row(
        {"", tset, "=_per_" + period, "CLK2", "=_per_" + period + "/4", "clock", "PAT", "RL"});
    times.row({"", tset, "=_per_" + period, "DIN", "", "i/o", "PAT", "NR"});
    times.row({"", tset, "=_per_" + period, "DOUT", "", "i/o", "PAT", "NR"});
  }

  SheetWriter levels(device / "Levels.txt", "LevelSheet", "2.1", "Pin Levels", 7);
  levels.row({});
  levels.row({"", "Pin/Group", "Seq.", "Parameter", "Value", "Comment"});
  for (int k = 0; k < p.pins; ++k) {
    levels.row({"", "VDD_" + num(k), "", "VMain", "=_v_" + num(k)});
    levels.row({"", "VDD_" + num(k), "", "IFoldLevel", "=_i_clamp"});
    levels.row({"", "VDD_" + num(k), "", "TDelay", "=0"});
  }
  levels.row({"", "CLK", "", "Vil", "=0"});
  levels.row({"", "CLK", "", "Vih", "=_vdd"});
}

double seconds_since(Clock::time_point start)
{
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double seconds_of(const timeval& tv)
{
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

// Processor time (user and system) used so far by this process, or by its waited-for children.
double cpu_seconds(int who)
{
  rusage usage{};
  getrusage(who, &usage);
  return seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
}

// Time spent on one piece of work: wall clock, processor time of this process and of the
// child processes (the pattern tool) it started.
struct Spent
{
  double wall = 0;
  double cpu = 0;
  double tool = 0;
  double total_cpu() const { return cpu + tool; }
};

class Stopwatch
{
public:
  Stopwatch()
      : m_start(Clock::now()), m_cpu(cpu_seconds(RUSAGE_SELF)),
        m_tool(cpu_seconds(RUSAGE_CHILDREN))
  {}
  Spent spent() const
  {
    return {seconds_since(m_start), cpu_seconds(RUSAGE_SELF) - m_cpu,
            cpu_seconds(RUSAGE_CHILDREN) - m_tool};
  }

private:
  Clock::time_point m_start;
  double m_cpu;
  double m_tool;
};

// Loads the device and checks every job; returns the check workbook's path and the time taken.
std::pair<std::string, Spent> run_check(const fs::path& device, const fs::path& work_dir,
                                        const fs::path& temp_dir)
{
  std::size_t lines = 0;
  Stopwatch watch;
  tarnwick::olvent::Olvent engine(temp_dir.string());
  engine.read_device(
      device.string(), "", (device / "Patterns").string(), "UltraFLEX",
      [&](const std::string&) { ++lines; }, "Period", "", 0, nullptr);
  std::vector<std::string> jobs;
  for (const auto& [name, entry] : *engine.get_job_list())
    jobs.push_back(name);
  std::vector<std::string> written = engine.run(jobs, work_dir.string() + "/");
  Spent elapsed = watch.spent();
  if (written.empty())
    throw std::runtime_error("the check wrote no workbook (" + std::to_string(lines)
                             + " log lines)");
  return {written.front(), elapsed};
}

struct SheetCells
{
  std::string name;
  std::vector<std::tuple<std::uint32_t, std::uint32_t, tarnwick::xlsx::Cell>> cells;
};

std::vector<SheetCells> read_cells(const std::string& path, std::size_t& count)
{
  tarnwick::xlsx::Reader reader(path);
  std::vector<SheetCells> sheets;
  count = 0;
  for (std::size_t s = 0; s < reader.sheet_names().size(); ++s) {
    tarnwick::xlsx::Sheet sheet = reader.read_sheet(s);
    SheetCells& out = sheets.emplace_back();
    out.name = sheet.name();
    for (std::size_t r = 0; r < sheet.row_count(); ++r) {
      for (const auto& [column, cell] : sheet.row_cells(r)) {
        out.cells.emplace_back(r, column, cell);
        ++count;
      }
    }
  }
  return sheets;
}

// Writes `sheets` with the workbook writer alone; returns the time taken and the part of it
// that closing the workbook took.
std::pair<Spent, double> write_alone(const std::vector<SheetCells>& sheets, const fs::path& path)
{
  using tarnwick::xlsx::CellKind;
  Stopwatch watch;
  tarnwick::xlsx::Workbook workbook(path, {.nan_inf_to_errors = true});
  for (const auto& sheet : sheets) {
    auto& out = workbook.add_worksheet(sheet.name);
    for (const auto& [row, column, cell] : sheet.cells) {
      if (cell.kind == CellKind::number)
        out.write_number(row, column, cell.number);
      else if (cell.kind == CellKind::error)
        out.write_number(row, column, std::numeric_limits<double>::quiet_NaN());
      else
        out.write_string(row, column, cell.text);
    }
  }
  auto closing = Clock::now();
  workbook.close();
  return {watch.spent(), seconds_since(closing)};
}

// The child process of part 1: reads the cells of `workbook` and writes them alone into
// `path`; prints the cell and sheet counts and the times for the parent.
int writer_alone_main(const std::string& workbook, const std::string& path)
{
  std::size_t cells = 0;
  std::vector<SheetCells> sheets = read_cells(workbook, cells);
  auto [spent, close_time] = write_alone(sheets, path);
  // The close reads every XML part back before the file takes its name; the same check again
  // on the finished file shows its share of the close.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto checking = Clock::now();
  if (tarnwick::xlsx::check_parts(bytes).problem)
    throw std::runtime_error("the writer alone wrote a broken workbook");
  const double check_time = seconds_since(checking);
  std::printf("%zu %zu %.6f %.6f %.6f %.6f\n", cells, sheets.size(), spent.wall, spent.cpu,
              close_time, check_time);
  return 0;
}

// What the writer-alone child process reported.
struct WriterAlone
{
  std::size_t cells = 0;
  std::size_t sheets = 0;
  Spent spent;
  double close_time = 0;
  double check_time = 0; // the read-back of the parts, within close_time
};

// Runs this program again to write the cells of `workbook` with the writer alone, so that the
// writer starts from a fresh process as the check did, not from memory the check left behind.
WriterAlone write_alone_in_child(const fs::path& program, const fs::path& workbook,
                                 const fs::path& path)
{
  std::string command = "'" + program.string() + "' --writer-alone '"
                        + workbook.string() + "' '" + path.string() + "'";
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr)
    throw std::runtime_error("cannot start the writer-alone process");
  WriterAlone result;
  int read = std::fscanf(child, "%zu %zu %lf %lf %lf %lf", &result.cells, &result.sheets,
                         &result.spent.wall, &result.spent.cpu, &result.close_time,
                         &result.check_time);
  if (pclose(child) != 0 || read != 6)
    throw std::runtime_error("the writer-alone process failed");
  return result;
}

// A fresh folder below the temporary folder.
fs::path make_temp_root()
{
  std::string pattern = (fs::temp_directory_path() / "bench-olvent-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder");
  return pattern;
}

void print_device(const Params& p)
{
  std::printf("device: %d jobs x %d flow rows, %d instances x %d records, %d power pins, "
              "%d patterns\n",
              p.jobs, p.rows, p.instances, p.records, p.pins, p.patterns);
}

// Generates the device `p` below `root` and checks it; returns the workbook and the time.
std::pair<std::string, Spent> generate_and_check(const fs::path& root, const Params& p)
{
  fs::path device = root / "device";
  fs::create_directories(root / "out");
  fs::create_directories(root / "temp");
  write_device(device, p);
  return run_check(device, root / "out", root / "temp");
}

// Part 1: the check against the writer alone.
void bench_against_writer(const fs::path& program, const Params& p)
{
  std::printf("== device check against the workbook writer alone\n");
  print_device(p);
  fs::path root = make_temp_root();
  auto [workbook, check] = generate_and_check(root, p);
  WriterAlone writer =
      write_alone_in_child(program, workbook, root / "out" / "writer_alone.xlsx");

  std::printf("cells written: %zu in %zu sheets\n", writer.cells, writer.sheets);
  std::printf("%-34s %9s %9s\n", "", "wall", "cpu");
  std::printf("%-34s %7.3f s %7.3f s (pattern tool: %.3f s cpu, %d runs)\n",
              "whole check (load and run):", check.wall, check.total_cpu(), check.tool, p.patterns);
  std::printf("%-34s %7.3f s %7.3f s (closing the workbook: %.3f s, of it reading the parts "
              "back: %.3f s)\n",
              "writer alone, same cells:", writer.spent.wall, writer.spent.cpu, writer.close_time,
              writer.check_time);
  std::printf("%-34s %9.2f %9.2f (target 1.5)\n", "ratio check / writer:",
              check.wall / writer.spent.wall, check.total_cpu() / writer.spent.cpu);
  std::printf("%-34s %9s %9.2f\n", "  without the pattern tool:", "",
              check.cpu / writer.spent.cpu);
  if (p.keep)
    std::printf("kept: %s\n", root.c_str());
  else
    fs::remove_all(root);
}

// Part 2: the same device grown ten times in flow rows and in test instances.
void bench_growth(const Params& p)
{
  std::printf("== growth: 10x flow rows and 10x test instances\n");
  Params base = p;
  base.jobs = 2;
  base.patterns = 20;
  Params grown = base;
  grown.rows *= 10;
  grown.instances *= 10;
  Spent spent[2];
  const Params* devices[2] = {&base, &grown};
  for (int i = 0; i < 2; ++i) {
    fs::path root = make_temp_root();
    spent[i] = generate_and_check(root, *devices[i]).second;
    fs::remove_all(root);
    print_device(*devices[i]);
    std::printf("  check: %7.3f s wall, %7.3f s cpu\n", spent[i].wall, spent[i].total_cpu());
  }
  std::printf("ratio grown / base: %.2f wall, %.2f cpu (target 11)\n",
              spent[1].wall / spent[0].wall, spent[1].total_cpu() / spent[0].total_cpu());
}

// Part 3: the clamp sheet alone, from a clamp table of `instances` x `pins`.
Spent bench_clamp_sheet(int instances, int pins)
{
  fs::path root = make_temp_root();
  tarnwick::olvent::Olvent engine((root / "temp").string());
  for (int i = 0; i < instances; ++i) {
    auto& clamps = engine.power_pin_clamp_dict["INST_" + num(i)];
    // Every tenth instance lacks the first pin, so the rows are not simply the map's order.
    for (int k = i % 10 == 0 ? 1 : 0; k < pins; ++k)
      clamps.insert_or_assign("VDD_" + num(k), 0.05 * (k + 1));
  }
  auto workbook = engine.create_check_workbook((root / "clamp.xlsm").string());
  auto& sheet = workbook->add_worksheet("PowerPinClampCheck");
  Stopwatch watch;
  engine.write_power_pin_clamp(sheet);
  Spent spent = watch.spent();
  workbook->close();
  fs::remove_all(root);
  return spent;
}

void bench_clamp()
{
  std::printf("== clamp sheet PowerPinClampCheck (the sheet's cells, without closing)\n");
  const int pins = 20;
  Spent small = bench_clamp_sheet(2500, pins);
  Spent large = bench_clamp_sheet(20000, pins);
  std::printf("2,500 instances x %d power pins:  %7.3f s wall, %7.3f s cpu\n", pins, small.wall,
              small.cpu);
  std::printf("20,000 instances x %d power pins: %7.3f s wall, %7.3f s cpu\n", pins, large.wall,
              large.cpu);
  std::printf("ratio for 8x the instances: %.2f cpu (linear: about 8)\n", large.cpu / small.cpu);
}

Params parse_args(int argc, char** argv)
{
  Params p;
  std::map<std::string, int*> options = {
      {"--jobs", &p.jobs},       {"--rows", &p.rows}, {"--instances", &p.instances},
      {"--records", &p.records}, {"--pins", &p.pins}, {"--patterns", &p.patterns},
      {"--part", &p.part}};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keep") {
      p.keep = true;
    } else if (options.contains(arg) && i + 1 < argc) {
      *options[arg] = std::stoi(argv[++i]);
    } else {
      throw std::runtime_error("usage: bench_olvent [--jobs N] [--rows N] [--instances N] "
                               "[--records N] [--pins N] [--patterns N] [--part 1|2|3] [--keep]");
    }
  }
  if (p.jobs < 1 || p.rows < 1 || p.instances < 1 || p.records < 1 || p.pins < 0 || p.patterns < 1)
    throw std::runtime_error("every count must be positive");
  if (p.part < 0 || p.part > 3)
    throw std::runtime_error("the parts are 1, 2 and 3");
  return p;
}

} // namespace

int main(int argc, char** argv)
{
  try {
    if (argc == 4 && std::string(argv[1]) == "--writer-alone")
      return writer_alone_main(argv[2], argv[3]);
    Params p = parse_args(argc, argv);

    // The stand-in pattern tool is built beside this program.
    const fs::path program = fs::read_symlink("/proc/self/exe");
    const fs::path self = program.parent_path();
    if (!fs::exists(self / "patinfo"))
      std::fprintf(stderr, "warning: no patinfo beside this program: patterns list no time sets\n");
    const char* path = std::getenv("PATH");
    setenv("PATH", (self.string() + ":" + (path ? path : "")).c_str(), 1);

    if (p.part == 0 || p.part == 1)
      bench_against_writer(program, p);
    if (p.part == 0 || p.part == 2)
      bench_growth(p);
    if (p.part == 0 || p.part == 3)
      bench_clamp();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "bench_olvent: " << e.what() << '\n';
    return 1;
  }
}
