#pragma once

#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

// The temp folder, file and console helpers of the parser tests.
#include "../brimsel/parser_test_util.hpp"

namespace tarnwick::parvine::test {

using brimsel::testing::captured;
using brimsel::testing::read_file;
using brimsel::testing::TempDir;
using brimsel::testing::write_file;

// `text` quoted for the shell.
inline std::string shell_quoted(const std::string& text)
{
  std::string result = "'";
  for (const char c : text) {
    result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return result + "'";
}

// Exit status and the two output streams of a run of the built program.
struct Outcome
{
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built `brimsel` with `args` in `cwd` (the test's own when empty), with `input` on
// standard input (closed when there is none) and `environment` ("NAME=value") in front.
inline Outcome run_brimsel(const std::vector<std::string>& args,
                           const std::optional<std::string>& input = "",
                           const std::filesystem::path& cwd = {},
                           const std::string& environment = "")
{
  TempDir io;
  std::string command;
  if (!cwd.empty()) {
    command = "cd " + shell_quoted(cwd) + " && ";
  }
  command += environment + " "
             + shell_quoted((std::filesystem::path(TARNWICK_BUILD_DIR) / "bin" / "brimsel").string());
  for (const auto& arg : args) {
    command += " " + shell_quoted(arg);
  }
  if (input) {
    write_file(io.path() / "in", *input);
    command += " < " + shell_quoted(io.path() / "in");
  } else {
    command += " 0<&-";
  }
  command += " > " + shell_quoted(io.path() / "out") + " 2> " + shell_quoted(io.path() / "err");
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(io.path() / "out"),
          read_file(io.path() / "err")};
}

// A workbook as openpyxl reads it: sheet order; per sheet the set column widths and the cells
// as "type:value" ("s" text, "n" number) by reference.
struct ReadWorkbook
{
  std::vector<std::string> order;
  std::map<std::string, std::map<std::string, double>> widths;
  std::map<std::string, std::map<std::string, std::string>> cells;

  // The cell at `ref` of `sheet`, or "(none)".
  std::string cell(const std::string& sheet, const std::string& ref) const
  {
    const auto& sheet_cells = cells.at(sheet);
    const auto found = sheet_cells.find(ref);
    return found == sheet_cells.end() ? "(none)" : found->second;
  }
};

// Reads the workbook at `path` with openpyxl (through dump_workbook.py).
inline ReadWorkbook read_with_openpyxl(const std::filesystem::path& path)
{
  TempDir io;
  const auto script = std::filesystem::path(TARNWICK_SOURCE_DIR) / "tests" / "parvine" / "dump_workbook.py";
  const std::string command = "/usr/bin/python3 " + shell_quoted(script) + " "
                              + shell_quoted(path) + " > " + shell_quoted(io.path() / "dump");
  if (std::system(command.c_str()) != 0) {
    throw std::runtime_error("openpyxl could not read " + path.string());
  }
  ReadWorkbook book;
  std::istringstream dump(read_file(io.path() / "dump"));
  for (std::string line; std::getline(dump, line);) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, '\t');) {
      fields.push_back(field);
    }
    if (fields.at(0) == "sheet") {
      book.order.push_back(fields.at(1));
      book.cells[fields[1]];
    } else if (fields[0] == "width") {
      book.widths[book.order.back()][fields.at(1)] = std::stod(fields.at(2));
    } else {
      book.cells[book.order.back()][fields.at(1)] = fields.at(2) + ":" + fields.at(3);
    }
  }
  return book;
}

} // namespace tarnwick::parvine::test
