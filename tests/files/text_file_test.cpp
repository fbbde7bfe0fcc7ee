#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "tarnwick/files/regular_file.hpp"
#include "tarnwick/files/text_file.hpp"
#include "tarnwick/text/error.hpp"

namespace fs = std::filesystem;
using namespace tarnwick::files;
using tarnwick::text::Row;
using Lines = std::vector<std::string>;

namespace {

class TextFile : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::random_device random;
    m_dir = fs::temp_directory_path() / ("tarnwick-text-" + std::to_string(random()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  fs::path write(const std::string& name, std::string_view bytes)
  {
    const fs::path path = m_dir / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  fs::path m_dir;
};

// The text of the tarnwick::Error that `call` throws ("" when none).
std::string error_of(const std::function<void()>& call)
{
  try {
    call();
  } catch (const tarnwick::Error& e) {
    return e.what();
  }
  return "";
}

// Ends the test binary by SIGALRM should a read wait on a FIFO after all.
struct HangGuard
{
  HangGuard() { ::alarm(20); }
  ~HangGuard() { ::alarm(0); }
};

} // namespace

TEST_F(TextFile, NormalisesLineEndsAndDropsTheByteOrderMark)
{
  const auto path = write("sheet.txt", "\xEF\xBB\xBFh\tx\r\nCR only\rLF\n\r\nend");
  EXPECT_EQ(read_text_file(path), "h\tx\nCR only\nLF\n\nend");
  EXPECT_EQ(read_lines(path), (Lines{"h\tx\n", "CR only\n", "LF\n", "\n", "end"}));
  EXPECT_EQ(read_rows(path)[0], (Row{"h", "x\n"}));
}

TEST_F(TextFile, ReadsLargeFilesWholeWithEveryLineEnd)
{
  // Larger than any read block, with a CR LF pair at every possible offset of a block edge.
  std::string raw;
  std::string expected;
  for (int i = 0; raw.size() < 200000; ++i) {
    const std::string cells = "row" + std::to_string(i) + "\tvalue";
    raw += cells + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\r" : "\n");
    expected += cells + "\n";
  }
  raw += "\r";
  expected += "\n";
  EXPECT_EQ(read_text_file(write("large.txt", raw)), expected);
}

TEST_F(TextFile, EmptyFileHasNoLines)
{
  EXPECT_TRUE(read_lines(write("empty.txt", "")).empty());
  EXPECT_TRUE(read_lines(write("bom.txt", "\xEF\xBB\xBF")).empty());
}

TEST_F(TextFile, KeepsUtf8AndFallsBackToWindows1252)
{
  EXPECT_EQ(read_text_file(write("utf8.txt", "caf\xC3\xA9 \xE2\x82\xAC")), "café €");
  EXPECT_EQ(read_text_file(write("cp1252.txt", "caf\xE9 \x80\r\n")), "café €\n");
  // The five bytes Windows-1252 leaves undefined still come through as their C1 code points.
  EXPECT_EQ(read_text_file(write("undefined.txt", "\x81\x8D\x8F\x90\x9D")),
            "\u0081\u008D\u008F\u0090\u009D");
}

TEST_F(TextFile, ReadsNonAsciiPaths)
{
  EXPECT_EQ(read_lines(write("规格 Spec.txt", "a\n")), (Lines{"a\n"}));
}

TEST_F(TextFile, MissingFileRaisesFileNotFoundNamingThePath)
{
  const fs::path missing = m_dir / "missing.txt";
  try {
    read_text_file(missing);
    FAIL() << "no error";
  } catch (const tarnwick::FileNotFoundError& e) {
    EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();
  }
  EXPECT_THROW(read_rows(""), tarnwick::FileNotFoundError);
}

TEST_F(TextFile, FolderRaisesErrorButNotFileNotFound)
{
  try {
    read_lines(m_dir);
    FAIL() << "no error";
  } catch (const tarnwick::FileNotFoundError&) {
    FAIL() << "a folder exists";
  } catch (const tarnwick::Error& e) {
    EXPECT_NE(std::string(e.what()).find(m_dir.string()), std::string::npos) << e.what();
  }
}

TEST_F(TextFile, RefusesAnythingButARegularFileWithoutWaitingOnIt)
{
  const HangGuard guard;
  const fs::path fifo = m_dir / "Job List.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // no writer: a blocking open would wait forever
  const fs::path zero = m_dir / "Flow Table.txt";
  fs::create_symlink("/dev/zero", zero);
  EXPECT_EQ(error_of([&] { read_text_file(fifo); }), "Is a FIFO: '" + fifo.string() + "'");
  EXPECT_EQ(error_of([&] { read_sheet_export(zero); }),
            "Is a character device: '" + zero.string() + "'");

  // Opening for writing (created when missing) refuses the same, telling it apart from a
  // failed open.
  for (const auto mode : {OpenFor::reading, OpenFor::writing}) {
    FileProblem problem;
    EXPECT_FALSE(open_regular_file(fifo, mode, problem));
    EXPECT_EQ(problem.error, 0);
    EXPECT_EQ(problem.reason, "Is a FIFO");
    EXPECT_FALSE(open_regular_file(m_dir / "none" / "x", mode, problem));
    EXPECT_TRUE(problem.missing());
  }
  // A link to a regular file is followed.
  fs::create_symlink(write("target.txt", "x\n"), m_dir / "link.txt");
  EXPECT_EQ(read_sheet_export(m_dir / "link.txt"), "x\n");
}

TEST_F(TextFile, ReadsAFileOnlyUpToTheCap)
{
  const fs::path six = write("six.txt", "123456");
  EXPECT_EQ(read_regular_file(six, 6), "123456");
  EXPECT_EQ(error_of([&] { read_regular_file(six, 5); }),
            "File too large: '" + six.string() + "' holds 6 bytes, more than 5");
  // The size is not trusted: a file that says it holds nothing is cut off at the cap as well.
  EXPECT_EQ(error_of([] { read_regular_file("/proc/self/maps", 5); }),
            "File too large: '/proc/self/maps' holds more than 5 bytes");
  // A sheet export past the cap is refused on its size, before a byte of it is read (the file
  // is sparse: it takes no room).
  const fs::path large = write("large.txt", "");
  fs::resize_file(large, k_max_sheet_export + 1);
  EXPECT_EQ(error_of([&] { read_text_file(large); }),
            "File too large: '" + large.string() + "' holds 268435457 bytes, more than 268435456");
}

// The same refusals by value, for callers that word them in their own messages.
TEST_F(TextFile, ReadProblemsAreGivenByValue)
{
  const HangGuard guard;
  const fs::path fifo = m_dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path six = write("six.txt", "123456");
  struct Case
  {
    fs::path path;
    std::uint64_t cap;
    ReadFailure failure;
    int error;
    std::optional<std::uint64_t> size;
  };
  const Case cases[] = {
    {m_dir / "missing", 10, ReadFailure::cannot_open, ENOENT, std::nullopt},
    {fifo, 10, ReadFailure::cannot_open, 0, std::nullopt},
    {m_dir, 10, ReadFailure::cannot_open, 0, std::nullopt},
    {six, 5, ReadFailure::too_large, 0, 6},
    {"/proc/self/maps", 5, ReadFailure::too_large, 0, std::nullopt}, // grows past the cap
  };
  for (const Case& c : cases) {
    ReadProblem problem;
    EXPECT_FALSE(read_regular_file(c.path, c.cap, problem)) << c.path;
    EXPECT_EQ(problem.failure, c.failure) << c.path;
    EXPECT_EQ(problem.file.error, c.error) << c.path;
    EXPECT_EQ(problem.size, c.size) << c.path;
  }
  ReadProblem problem;
  const std::optional<FileContent> content = read_regular_file(six, 6, problem);
  ASSERT_TRUE(content);
  EXPECT_EQ(content->bytes, "123456");
  EXPECT_TRUE(S_ISREG(content->status.st_mode));
  EXPECT_EQ(content->status.st_size, 6);
}

TEST_F(TextFile, SheetExportOfNothingButBlanksIsAnErrorNamingTheFile)
{
  for (const std::string empty : {"", "\xEF\xBB\xBF"}) {
    const fs::path path = write("empty.txt", empty);
    EXPECT_EQ(read_text_file(path), ""); // any other text file may be empty
    EXPECT_EQ(error_of([&] { read_sheet_export(path); }),
              "Empty sheet export: '" + path.string() + "'");
  }
  // Blank lines, lines of tabs and other white space are no rows either.
  const fs::path blank = write("blank.txt", "\r\n\t\t\t\n \u3000\n\n");
  EXPECT_EQ(error_of([&] { read_sheet_export(blank); }),
            "Empty sheet export: '" + blank.string() + "' holds only blank lines");
  // A header row without data rows is a sheet.
  EXPECT_EQ(read_sheet_export(write("header.txt", "\n\tSymbol\r\n")), "\n\tSymbol\n");
  // A "Unicode text" export is refused by its byte-order mark, not read as cells of NULs.
  for (const auto& [bytes, encoding] :
       {std::pair<std::string, std::string>{std::string("\xFF\xFEJ\0o\0b\0", 8), "UTF-16LE"},
        {std::string("\xFE\xFF\0J\0o\0b", 8), "UTF-16BE"}}) {
    const fs::path utf16 = write("unicode.txt", bytes);
    EXPECT_EQ(error_of([&] { read_sheet_export(utf16); }),
              "UTF-16 sheet export: '" + utf16.string() + "' is " + encoding
                  + " text; export the sheet as tab-separated text in UTF-8 or the ANSI code page");
  }
}

// Exports in the real layouts (CR LF, tab-padded rows); the folder is optional.
TEST(RealExports, ReadAsLfRowsOnePerLineEnd)
{
  const fs::path root = fs::path(TARNWICK_SOURCE_DIR) / "../shared/realdata";
  if (!fs::is_directory(root)) {
    GTEST_SKIP() << "no real exports at " << root;
  }
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".txt") {
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto rows = read_rows(entry.path());
    std::size_t line_ends = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      line_ends += raw[i] == '\n' || (raw[i] == '\r' && (i + 1 == raw.size() || raw[i + 1] != '\n'));
    }
    const bool unterminated = !raw.empty() && raw.back() != '\n' && raw.back() != '\r';
    EXPECT_EQ(rows.size(), line_ends + (unterminated ? 1 : 0)) << entry.path();
    for (const auto& row : rows) {
      for (const auto& cell : row) {
        EXPECT_EQ(cell.find('\r'), std::string::npos) << entry.path();
      }
    }
    ++files;
  }
  EXPECT_GT(files, 0u);
}
