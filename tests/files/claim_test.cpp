#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "tarnwick/files/claim.hpp"
#include "tarnwick/files/temporary.hpp"
#include "tarnwick/text/error.hpp"
#include "test_util.hpp"

namespace tarnwick::files {
namespace {

namespace fs = std::filesystem;
using test::entries;
using test::read_file;
using test::TempDirTest;
using test::write_file;

TEST(NumberedPath, NumberGoesBeforeTheExtension)
{
  EXPECT_EQ(numbered_path("out/a.xlsx", 1), fs::path("out/a.xlsx"));
  EXPECT_EQ(numbered_path("out/a.xlsx", 3), fs::path("out/a_3.xlsx"));
  EXPECT_EQ(numbered_path("Olvent_2026-03-07__953.xlsm", 2),
            fs::path("Olvent_2026-03-07__953_2.xlsm"));
  EXPECT_EQ(numbered_path("plain", 12), fs::path("plain_12"));
}

class ClaimOutputFile : public TempDirTest, public ::testing::WithParamInterface<ClaimMethod>
{
};

// Many writers claim names of one sequence at once: each gets its own name, every content is
// kept once, no name is skipped and nothing that stood there is touched.
TEST_P(ClaimOutputFile, ConcurrentClaimsEachGetTheirOwnName)
{
  const fs::path base = m_dir / "Report.xlsx";
  fs::create_directory(numbered_path(base, 2));
  write_file(numbered_path(base, 2) / "inside", "kept");
  fs::create_symlink("nowhere", numbered_path(base, 5));

  constexpr int k_threads = 8;
  constexpr int k_claims = 6;
  std::vector<std::vector<fs::path>> claimed(k_threads);
  std::vector<std::string> errors(k_threads);
  std::latch start(k_threads);
  std::vector<std::thread> threads;
  for (int t = 0; t < k_threads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      try {
        for (int i = 0; i < k_claims; ++i) {
          TemporaryFile temp(base, "report");
          const std::string content = std::to_string(t) + "/" + std::to_string(i);
          ASSERT_EQ(::write(temp.fd(), content.data(), content.size()),
                    static_cast<ssize_t>(content.size()));
          temp.sync_and_close();
          claimed[t].push_back(claim_output_file(temp.path(), base, 1, "report", GetParam()));
          temp.release();
        }
      } catch (const std::exception& e) {
        errors[t] = e.what();
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }

  std::set<std::string> names;
  std::set<std::string> contents;
  for (int t = 0; t < k_threads; ++t) {
    EXPECT_EQ(errors[t], "");
    for (const auto& name : claimed[t]) {
      names.insert(name.filename().string());
      contents.insert(read_file(name));
    }
  }
  ASSERT_EQ(names.size(), std::size_t{k_threads * k_claims});
  EXPECT_EQ(contents.size(), names.size());
  // The first free numbers, in order: 1, 3, 4, 6, 7, ...
  std::set<std::string> expected;
  for (unsigned n = 1; expected.size() < names.size(); ++n) {
    if (n != 2 && n != 5) {
      expected.insert(numbered_path(base, n).filename().string());
    }
  }
  EXPECT_EQ(names, expected);
  // Nothing else: no temporary file stays behind.
  expected.insert({"Report_2.xlsx", "Report_5.xlsx"});
  EXPECT_EQ(entries(m_dir), expected);
  EXPECT_EQ(read_file(numbered_path(base, 2) / "inside"), "kept");
  EXPECT_EQ(fs::read_symlink(numbered_path(base, 5)), fs::path("nowhere"));
}

INSTANTIATE_TEST_SUITE_P(Methods, ClaimOutputFile,
                         ::testing::Values(ClaimMethod::automatic, ClaimMethod::rename_noreplace,
                                           ClaimMethod::hard_link, ClaimMethod::placeholder,
                                           ClaimMethod::complete_only),
                         [](const auto& info) { return to_string(info.param); });

// A sequence of names of the caller's own: taken names are passed over, and the error of a
// claim into a missing folder names the first of them.
using ClaimNamed = TempDirTest;

TEST_F(ClaimNamed, ClaimsTheFirstFreeNameOfAGivenSequence)
{
  const std::string base = (m_dir / "a.bas.backup_20260101_000000").string();
  const NameSequence names = [&](unsigned n) {
    return fs::path(n == 0 ? base : base + "_" + std::to_string(n));
  };
  write_file(base, "older");
  TemporaryFile temp(m_dir / "a.bas", "backup");
  temp.sync_and_close();
  EXPECT_EQ(claim_output_file(temp.path(), names, 0, "backup", ClaimMethod::complete_only),
            fs::path(base + "_1"));
  temp.release();
  EXPECT_EQ(read_file(base), "older");

  const NameSequence nowhere = [&](unsigned n) { return m_dir / "missing" / std::to_string(n); };
  TemporaryFile other(m_dir / "b.bas", "backup");
  try {
    claim_output_file(other.path(), nowhere, 0, "backup", ClaimMethod::complete_only);
    ADD_FAILURE() << "claimed a name in a missing folder";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "cannot write backup '" + (m_dir / "missing" / "0").string()
                                             + "': No such file or directory");
  }
}

} // namespace
} // namespace tarnwick::files
