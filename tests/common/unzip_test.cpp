#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include "tarnwick/common/common.hpp"
#include "tarnwick/text/error.hpp"
#include "temp_dir.hpp"

namespace fs = std::filesystem;
using tarnwick::common::unzip;

namespace {

enum class Kind { file, folder, symlink, encrypted };

struct ZipEntry
{
  std::string name;
  std::string data;
  Kind kind = Kind::file;
};

// Writes a zip archive holding `entries` in order.
void make_zip(const fs::path& path, const std::vector<ZipEntry>& entries)
{
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const ZipEntry& entry : entries) {
    zip_int64_t index = -1;
    if (entry.kind == Kind::folder) {
      index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* source =
        zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
      ASSERT_NE(source, nullptr);
      index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    }
    ASSERT_GE(index, 0) << zip_strerror(archive);
    const auto i = static_cast<zip_uint64_t>(index);
    if (entry.kind == Kind::symlink) {
      ASSERT_EQ(zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_UNIX,
                                                 (S_IFLNK | 0777u) << 16),
                0);
    }
    if (entry.kind == Kind::encrypted) {
      ASSERT_EQ(zip_file_set_encryption(archive, i, ZIP_EM_AES_256, "secret"), 0)
        << zip_strerror(archive);
    }
  }
  ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
}

std::string unzip_error(const fs::path& archive, const fs::path& target)
{
  try {
    unzip(archive.string(), target.string());
  } catch (const tarnwick::Error& e) {
    return e.what();
  }
  return "no error";
}

bool is_empty_dir(const fs::path& path)
{
  return fs::is_directory(path) && fs::is_empty(path);
}

class Unzip : public tarnwick::test::TempDirTest
{
protected:
  fs::path archive() const { return dir() / "dev.igxl"; }
  fs::path target() const { return dir() / "out"; }
};

} // namespace

TEST_F(Unzip, UnpacksFilesAndFolders)
{
  make_zip(archive(), {{"Jobs.txt", "a\tb\n"},
                       {"dev/", "", Kind::folder},
                       {"dev/flow.txt", "flow"},
                       {"sub\\win.txt", "win"},
                       {"./deep//x/y.txt", "deep"},
                       {"empty/", "", Kind::folder},
                       {"Änderung.txt", "ü"}});
  unzip(archive().string(), target().string());
  EXPECT_EQ(read_file(target() / "Jobs.txt"), "a\tb\n");
  EXPECT_EQ(read_file(target() / "dev" / "flow.txt"), "flow");
  EXPECT_EQ(read_file(target() / "sub" / "win.txt"), "win");
  EXPECT_EQ(read_file(target() / "deep" / "x" / "y.txt"), "deep");
  EXPECT_EQ(read_file(target() / "Änderung.txt"), "ü");
  EXPECT_TRUE(is_empty_dir(target() / "empty"));
}

TEST_F(Unzip, ReplacesExistingFilesWithoutTouchingTheirHardLinks)
{
  fs::create_directories(target());
  write_file(dir() / "elsewhere.txt", "keep");
  fs::create_hard_link(dir() / "elsewhere.txt", target() / "Jobs.txt");
  make_zip(archive(), {{"Jobs.txt", "new"}});
  unzip(archive().string(), target().string());
  EXPECT_EQ(read_file(target() / "Jobs.txt"), "new");
  EXPECT_EQ(read_file(dir() / "elsewhere.txt"), "keep");
}

TEST_F(Unzip, RefusesNamesThatLeaveTheTarget)
{
  for (const std::string name : {"../evil", "/abs", "C:/x", "c:x", "a\\..\\..\\b", "x/../../y"}) {
    SCOPED_TRACE(name);
    fs::remove_all(target());
    make_zip(archive(), {{"ok.txt", "ok"}, {name, "bad"}});
    const std::string message = unzip_error(archive(), target());
    EXPECT_NE(message.find("entry \"" + name + "\" refused"), std::string::npos) << message;
    // Nothing is written once any entry is refused.
    EXPECT_FALSE(fs::exists(target() / "ok.txt"));
  }
  EXPECT_FALSE(fs::exists(dir() / "evil"));
  EXPECT_FALSE(fs::exists(dir() / "b"));
  EXPECT_FALSE(fs::exists(dir() / "y"));

  make_zip(archive(), {{"../evil", "bad"}});
  EXPECT_EQ(unzip_error(archive(), target()),
            archive().string() + ": entry \"../evil\" refused: \"..\" in the path");
}

TEST_F(Unzip, RefusesSymbolicLinkAndEncryptedEntries)
{
  make_zip(archive(), {{"link", "/etc/passwd", Kind::symlink}});
  EXPECT_EQ(unzip_error(archive(), target()),
            archive().string() + ": entry \"link\" refused: symbolic link");
  EXPECT_FALSE(fs::exists(fs::symlink_status(target() / "link")));

  if (zip_encryption_method_supported(ZIP_EM_AES_256, 1) == 0) {
    GTEST_SKIP() << "this libzip cannot write encrypted entries";
  }
  make_zip(archive(), {{"secret.txt", "data", Kind::encrypted}});
  EXPECT_EQ(unzip_error(archive(), target()),
            archive().string() + ": entry \"secret.txt\" refused: encrypted");
}

TEST_F(Unzip, NeverWritesThroughSymbolicLinksInTheTarget)
{
  const fs::path outside = dir() / "outside";
  fs::create_directories(outside);
  fs::create_directories(target());
  fs::create_directory_symlink(outside, target() / "sub");
  write_file(outside / "file.txt", "keep");
  fs::create_symlink(outside / "file.txt", target() / "file.txt");

  make_zip(archive(), {{"sub/x.txt", "bad"}});
  EXPECT_EQ(unzip_error(archive(), target()),
            "Refusing to write through the symbolic link " + (target() / "sub").string());
  make_zip(archive(), {{"file.txt", "bad"}});
  EXPECT_EQ(unzip_error(archive(), target()),
            "Refusing to write through the symbolic link " + (target() / "file.txt").string());

  EXPECT_EQ(read_file(outside / "file.txt"), "keep");
  EXPECT_FALSE(fs::exists(outside / "x.txt"));
}

TEST_F(Unzip, ReportsMissingAndDamagedArchives)
{
  EXPECT_THROW(unzip((dir() / "missing.igxl").string(), target().string()),
               tarnwick::FileNotFoundError);
  EXPECT_THROW(unzip("", target().string()), tarnwick::FileNotFoundError);

  write_file(archive(), "this is not a zip archive");
  try {
    unzip(archive().string(), target().string());
    FAIL() << "no error";
  } catch (const tarnwick::FileNotFoundError&) {
    FAIL() << "a damaged archive is not a missing one";
  } catch (const tarnwick::Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open archive " + archive().string(), 0), 0u);
  }
}
