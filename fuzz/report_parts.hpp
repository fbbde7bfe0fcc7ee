// A real dry-run report, made once per process, taken apart into its zip entries, and put
// together again with one entry replaced: the way to reach the XML readers of a workbook
// without the fuzzer having to find its way through the zip format first.
#pragma once

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

#include "fuzz/support.hpp"
#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/report_loader.hpp"

namespace tarnwick::fuzz {

using ZipParts = std::vector<std::pair<std::string, std::string>>;

inline ZipParts read_zip(const std::filesystem::path& path)
{
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
  check(archive != nullptr, "cannot open the report template " + path.string());
  ZipParts parts;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
    std::string bytes(stat.size, '\0');
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
    check(file != nullptr && zip_fread(file, bytes.data(), stat.size) == zip_int64_t(stat.size),
          std::string("cannot read the template entry ") + stat.name);
    zip_fclose(file);
    parts.emplace_back(stat.name, std::move(bytes));
  }
  zip_close(archive);
  return parts;
}

inline void write_zip(const std::filesystem::path& path, const ZipParts& parts)
{
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  check(archive != nullptr, "cannot create " + path.string());
  for (const auto& [name, bytes] : parts) {
    zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    check(source != nullptr && zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0,
          "cannot add " + name);
  }
  check(zip_close(archive) == 0, "cannot write " + path.string());
}

// The entries of a dry-run report over a small module with issues of every kind.
inline const ZipParts& report_parts()
{
  static const ZipParts parts = [] {
    const auto dir = std::filesystem::temp_directory_path()
                     / ("tarnwick-fuzz-report-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "src");
    write_file(dir / "src" / "Module1.bas",
               "Attribute VB_Name = \"Module1\"\n"
               "Public gCount As Long\n"
               "Private Const maxItems As Integer = 5\n"
               "Private Type pinRecord\n  Name As String\nEnd Type\n"
               "Public Enum modeKind\n  fast = 1\nEnd Enum\n"
               "Public Function Measure_VBT(argc As Long, ByVal names As String) As Long\n"
               "  Dim tmp As Double, list() As String\n"
               "  tmp = gCount + maxItems\n  Measure_VBT = tmp\n"
               "End Function\n");
    brimsel::VBAParser parser;
    parser.parse_files((dir / "src").string());
    const std::string report = brimsel::ReportLibrary::load().generate_dry_run_report(
        [](int) {}, parser, dir.string());
    ZipParts read = read_zip(report);
    std::filesystem::remove_all(dir);
    return read;
  }();
  return parts;
}

// The report with the entry picked by the first byte of `data` (among its XML entries)
// replaced by the rest of `data`, written to `path`.
inline void write_report_with_part(const std::filesystem::path& path, std::string_view data)
{
  ZipParts parts = report_parts();
  std::vector<std::size_t> xml;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].first.ends_with(".xml") || parts[i].first.ends_with(".rels")) {
      xml.push_back(i);
    }
  }
  if (!data.empty()) {
    const std::size_t pick = xml[static_cast<unsigned char>(data[0]) % xml.size()];
    parts[pick].second.assign(data.substr(1));
  }
  write_zip(path, parts);
}

} // namespace tarnwick::fuzz
