// Time of the whole device check (load and run) on a generated device, against the time the
// workbook writer alone takes to write the same cells. Prints both times and their ratio.
//
//   bench_olvent [--jobs N] [--rows N] [--instances N] [--records N] [--pins N] [--patterns N]
//                [--keep]
//
// Defaults: 20 jobs of 2,000 flow rows each over 500 test instances of 2 records, 8 power pins,
// 200 patterns. The stand-in pattern tool `patinfo` is taken from the folder of this program.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tarnwick/olvent/olvent.hpp"
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

// Loads the device and checks every job; returns the check workbook's path and the time taken.
std::pair<std::string, double> run_check(const fs::path& device, const fs::path& work_dir,
                                         const fs::path& temp_dir)
{
  std::size_t lines = 0;
  auto start = Clock::now();
  tarnwick::olvent::Olvent engine(temp_dir.string());
  engine.read_device(
      device.string(), "", (device / "Patterns").string(), "UltraFLEX",
      [&](const std::string&) { ++lines; }, "Period", "", 0, nullptr);
  std::vector<std::string> jobs;
  for (const auto& [name, entry] : *engine.get_job_list())
    jobs.push_back(name);
  std::vector<std::string> written = engine.run(jobs, work_dir.string() + "/");
  double elapsed = seconds_since(start);
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
std::pair<double, double> write_alone(const std::vector<SheetCells>& sheets, const fs::path& path)
{
  using tarnwick::xlsx::CellKind;
  auto start = Clock::now();
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
  return {seconds_since(start), seconds_since(closing)};
}

Params parse_args(int argc, char** argv)
{
  Params p;
  std::map<std::string, int*> options = {
      {"--jobs", &p.jobs},       {"--rows", &p.rows}, {"--instances", &p.instances},
      {"--records", &p.records}, {"--pins", &p.pins}, {"--patterns", &p.patterns}};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keep") {
      p.keep = true;
    } else if (options.contains(arg) && i + 1 < argc) {
      *options[arg] = std::stoi(argv[++i]);
    } else {
      throw std::runtime_error("usage: bench_olvent [--jobs N] [--rows N] [--instances N] "
                               "[--records N] [--pins N] [--patterns N] [--keep]");
    }
  }
  if (p.jobs < 1 || p.rows < 1 || p.instances < 1 || p.records < 1 || p.pins < 0 || p.patterns < 1)
    throw std::runtime_error("every count must be positive");
  return p;
}

} // namespace

int main(int argc, char** argv)
{
  try {
    Params p = parse_args(argc, argv);

    // The stand-in pattern tool is built beside this program.
    fs::path self = fs::read_symlink("/proc/self/exe").parent_path();
    if (!fs::exists(self / "patinfo"))
      std::fprintf(stderr, "warning: no patinfo beside this program: patterns list no time sets\n");
    const char* path = std::getenv("PATH");
    setenv("PATH", (self.string() + ":" + (path ? path : "")).c_str(), 1);

    std::string pattern = (fs::temp_directory_path() / "bench-olvent-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder");
    fs::path root = pattern;
    fs::path device = root / "device";
    fs::create_directories(root / "out");
    fs::create_directories(root / "temp");

    auto start = Clock::now();
    write_device(device, p);
    std::printf("device: %d jobs x %d flow rows, %d instances x %d records, %d power pins, "
                "%d patterns (generated in %.2f s)\n",
                p.jobs, p.rows, p.instances, p.records, p.pins, p.patterns, seconds_since(start));

    auto [workbook, check_time] = run_check(device, root / "out", root / "temp");
    std::size_t cells = 0;
    std::vector<SheetCells> sheets = read_cells(workbook, cells);
    auto [writer_time, close_time] = write_alone(sheets, root / "out" / "writer_alone.xlsx");

    std::printf("cells written: %zu in %zu sheets\n", cells, sheets.size());
    std::printf("whole check (load and run): %8.3f s\n", check_time);
    std::printf("writer alone, same cells:   %8.3f s (closing the workbook: %.3f s)\n", writer_time,
                close_time);
    std::printf("ratio check / writer:       %8.2f (target 1.5)\n", check_time / writer_time);

    if (p.keep)
      std::printf("kept: %s\n", root.c_str());
    else
      fs::remove_all(root);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "bench_olvent: " << e.what() << '\n';
    return 1;
  }
}
