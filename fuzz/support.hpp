// Shared pieces of the fuzz targets: a scratch folder per process, splitting one input into
// several texts, and the rule for what counts as a finding.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/text/error.hpp"

namespace tarnwick::fuzz {

// The folder of fresh_dir: made below the temporary folder on first use, removed with all it
// holds by `remove` or at the latest when the process exits.
class ScratchRoot
{
public:
  ScratchRoot() = default;
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;
  ~ScratchRoot() { remove(); }

  const std::filesystem::path& path()
  {
    if (m_path.empty()) {
      std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnwick-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
      }
      m_path = pattern;
    }
    return m_path;
  }

  void remove()
  {
    if (!m_path.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(m_path, ec);
      m_path.clear();
    }
  }

private:
  std::filesystem::path m_path;
};

inline ScratchRoot& scratch_root()
{
  static ScratchRoot root;
  return root;
}

// A folder of this process under the temporary folder, emptied on every call.
inline std::filesystem::path fresh_dir()
{
  const std::filesystem::path& root = scratch_root().path();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
  return root;
}

inline void write_file(const std::filesystem::path& path, std::string_view data)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

inline std::string read_file(const std::filesystem::path& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `data` cut at every occurrence of `separator`, at most `max_parts` parts (the last keeps
// the rest).
inline std::vector<std::string_view> split(std::string_view data, std::string_view separator,
                                           std::size_t max_parts)
{
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    const std::size_t hit = data.find(separator);
    if (hit == std::string_view::npos) {
      break;
    }
    parts.push_back(data.substr(0, hit));
    data.remove_prefix(hit + separator.size());
  }
  parts.push_back(data);
  return parts;
}

// A broken promise of the code under test: report and abort (the fuzzer keeps the input).
[[noreturn]] inline void finding(const std::string& what)
{
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

inline void check(bool condition, const std::string& what)
{
  if (!condition) {
    finding(what);
  }
}

// Runs `step`. A project error (tarnwick::Error) is the answer to a bad input; any other
// exception (std::bad_alloc, std::out_of_range, a filesystem error ...) is a finding.
template <typename Step>
bool run_guarded(Step&& step)
{
  try {
    step();
    return true;
  } catch (const Error&) {
    return false;
  } catch (const std::exception& error) {
    finding(std::string("exception other than a project error: ") + error.what());
  } catch (...) {
    finding("exception that is no std::exception");
  }
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size)
{
  return {reinterpret_cast<const char*>(data), size};
}

// Platform texts the readers know: the UltraFLEX family and the J750 layouts.
inline constexpr std::string_view k_platforms[] = {"UltraFLEX", "UltraFLEXplus", "J750"};

} // namespace tarnwick::fuzz
