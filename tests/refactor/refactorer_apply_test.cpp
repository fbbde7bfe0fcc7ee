#include <unistd.h>

#include <map>
#include <random>
#include <regex>

#include "refactorer_test_util.hpp"
#include "tarnwick/text/unicode.hpp"

namespace tarnwick::brimsel::testing {
namespace {

RenameChange change(const std::string& file, int line, const std::string& from,
                    const std::string& to)
{
  return {file, line, from, to, "", ""};
}

using RefactorerTest = RefactorTest;

TEST_F(RefactorerTest, RefusesRenamesThatCannotBeAppliedSafely)
{
  VBAParser parser;
  VBTRefactorer refactorer(parser);
  const std::string out = captured([&] {
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, "", "x")));
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, "x", "1x")));
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, "x", "a\nb")));
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, "x", "")));
    // The old name too must be one identifier: a header the declaration rules list as a
    // variable, blanks, a name with its bounds.
    EXPECT_FALSE(refactorer.add_change("global_variable",
                                       change("a.bas", 1, "Property Get Value", "g_Value")));
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, " ", "x")));
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, "arr(10)", "x")));
    EXPECT_FALSE(refactorer.add_change("global_variable", change("a.bas", 1, "_x", "x")));
    EXPECT_TRUE(refactorer.add_change("local_variable", change("a.bas", 1, "x", "i_X")));
  });
  EXPECT_EQ(out, "跳过无效的重命名: '' -> 'x' (a.bas)\n"
                 "跳过无效的重命名: 'x' -> '1x' (a.bas)\n"
                 "跳过无效的重命名: 'x' -> 'a\\nb' (a.bas)\n"
                 "跳过无效的重命名: 'x' -> '' (a.bas)\n"
                 "跳过无效的重命名: 'Property Get Value' -> 'g_Value' (a.bas)\n"
                 "跳过无效的重命名: ' ' -> 'x' (a.bas)\n"
                 "跳过无效的重命名: 'arr(10)' -> 'x' (a.bas)\n"
                 "跳过无效的重命名: '_x' -> 'x' (a.bas)\n");
  EXPECT_TRUE(refactorer.changes_of("global_variable").empty());
  EXPECT_EQ(refactorer.changes_made().size(), 1U);
  EXPECT_EQ(refactorer.changes_of("local_variable").size(), 1U);
}

TEST_F(RefactorerTest, RewritesKeepingLineEndsAndBackupIsByteExact)
{
  const std::string original = "\xEF\xBB\xBF"
                               "Attribute VB_Name = \"Mod\"\r\n"
                               "Public p1 As Long\r\n"
                               "Public p2 As Long\r\n"
                               "Sub Work()\r\n"
                               "    p1 = p2 + 1 ' p1 here\r"
                               "    total = 计p1 + p1x + Me\n"
                               "End Sub\r\n"
                               "x = p1 + Work";
  const std::string file = write("src/a.bas", original);
  VBAParser parser;
  parse(parser, path("src"));
  VBTRefactorer refactorer(parser, fixed_clock());
  captured([&] {
    refactorer.add_change("global_variable", change(file, 2, "p1", "p2"));
    refactorer.add_change("global_variable", change(file, 3, "p2", "p3"));
    refactorer.add_change("global_variable", change(file, 4, "Work", "DoWork"));
    refactorer.add_change("global_variable", change(file, 99, "Me", "You"));
  });

  ApplyResult result;
  const std::string out = captured([&] { result = refactorer.apply_all_changes(); });
  ASSERT_EQ(result, (ApplyResult{1, 0, 0}));
  // Renames are made at once, each on its variable's uses (a comment too); a procedure header
  // and a line past the end declare nothing, so those renames change nothing.
  EXPECT_EQ(read(file), "\xEF\xBB\xBF"
                        "Attribute VB_Name = \"Mod\"\r\n"
                        "Public p2 As Long\r\n"
                        "Public p3 As Long\r\n"
                        "Sub Work()\r\n"
                        "    p2 = p3 + 1 ' p2 here\r"
                        "    total = 计p1 + p1x + Me\n"
                        "End Sub\r\n"
                        "x = p2 + Work");
  const std::vector<std::string> names = entries(path("src"));
  ASSERT_EQ(names.size(), 2U);
  const std::string backup = path("src/" + names[1]);
  EXPECT_EQ(read(backup), original);
  EXPECT_EQ(out, "跳过无法安全应用的重命名: 'Work' -> 'DoWork' (" + file + "): 第 4 行没有 'Work' 的声明\n"
                 "跳过无法安全应用的重命名: 'Me' -> 'You' (" + file + "): 第 99 行没有 'Me' 的声明\n"
                 "已备份文件: " + backup + "\n已修改文件: " + file
                     + "\n  - 更新了 2 个变量名的所有引用\n");
  // Only the renames that were made are listed as applied.
  const std::vector<RenameChange>& made = refactorer.changes_of("global_variable");
  EXPECT_EQ(refactorer.applied_changes().at("global_variable"),
            std::vector<RenameChange>(made.begin(), made.begin() + 2));
}

TEST_F(RefactorerTest, FileNoRenameChangesIsLeftAloneAndOnlyRenamesThatChangedAreApplied)
{
  const std::string a_text = "Dim cnt As Long\nSub Go()\n  cnt = tot + 1\nEnd Sub\n";
  const std::string b_text = "Dim other As Long\n";
  const std::string a = write("a.bas", a_text);
  const std::string b = write("b.bas", b_text);
  const auto run = [&](std::string& out) {
    VBAParser parser;
    parse(parser, m_dir);
    VBTRefactorer refactorer(parser, fixed_clock());
    ApplyResult rewritten;
    out = captured([&] {
      // A rename to the same name changes no text.
      refactorer.add_change("module_variable", change(b, 1, "other", "other"));
      refactorer.add_change("module_variable", change(a, 1, "cnt", "m_Cnt"));
      // Only used, never declared: no declaration to rename.
      refactorer.add_change("module_variable", change(a, 3, "tot", "m_Tot"));
      rewritten = refactorer.apply_all_changes();
    });
    std::vector<std::string> applied;
    for (const auto& [type, changes] : refactorer.applied_changes()) {
      for (const RenameChange& applied_change : changes) {
        applied.push_back(type + ":" + applied_change.original_name);
      }
    }
    return std::pair(rewritten, applied);
  };

  std::string out;
  auto [rewritten, applied] = run(out);
  EXPECT_EQ(rewritten, (ApplyResult{1, 0, 0}));
  EXPECT_EQ(applied, std::vector<std::string>{"module_variable:cnt"});
  EXPECT_EQ(read(a), "Dim m_Cnt As Long\nSub Go()\n  m_Cnt = tot + 1\nEnd Sub\n");
  EXPECT_EQ(read(b), b_text);
  const std::vector<std::string> names = entries(m_dir);
  ASSERT_EQ(names.size(), 3U) << "one backup, of a.bas only";
  EXPECT_TRUE(names[1].starts_with("a.bas.backup_")) << names[1];
  const std::string refused = "跳过无法安全应用的重命名: 'tot' -> 'm_Tot' (" + a + "): 第 3 行没有 'tot' 的声明\n";
  EXPECT_EQ(out, refused + "未修改文件（没有名称需要重命名）: " + b + "\n已备份文件: " + path(names[1])
                     + "\n已修改文件: " + a + "\n  - 更新了 1 个变量名的所有引用\n");

  // The same renames again over the renamed sources: nothing changes, and the run says so.
  std::tie(rewritten, applied) = run(out);
  EXPECT_EQ(rewritten, ApplyResult{});
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(out, "跳过无法安全应用的重命名: 'cnt' -> 'm_Cnt' (" + a + "): 第 1 行没有 'cnt' 的声明\n"
                     + refused + "未修改文件（没有名称需要重命名）: " + b
                     + "\n未修改文件（没有名称需要重命名）: " + a + "\n");
  EXPECT_EQ(entries(m_dir), names);
}

TEST_F(RefactorerTest, NeverOverwritesBackupsNorFilesChangedAfterTheParse)
{
  const std::string original = "Dim cnt As Long\ncnt = 1\n";
  const std::string file = write("a.bas", original);
  VBAParser first_parse;
  parse(first_parse, m_dir);
  VBTRefactorer first(first_parse, fixed_clock());
  captured([&] {
    first.add_change("module_variable", change(file, 1, "cnt", "m_Cnt"));
    ASSERT_EQ(first.apply_all_changes().rewritten, 1U);
  });
  const std::string renamed = "Dim m_Cnt As Long\nm_Cnt = 1\n";
  ASSERT_EQ(read(file), renamed);

  // The file on disk is no longer what the first parse read.
  std::string out =
      captured([&] { EXPECT_EQ(first.apply_all_changes(), (ApplyResult{0, 1, 0})); });
  EXPECT_EQ(out, "文件在解析后已被修改，跳过 " + file + "\n");
  EXPECT_TRUE(first.applied_changes().empty());

  // A second run in the same second gets a backup of its own.
  VBAParser second_parse;
  parse(second_parse, m_dir);
  VBTRefactorer second(second_parse, fixed_clock());
  out = captured([&] {
    second.add_change("module_variable", change(file, 1, "m_Cnt", "m_CntLng"));
    EXPECT_EQ(second.apply_all_changes().rewritten, 1U);
  });
  const std::vector<std::string> names = entries(m_dir);
  ASSERT_EQ(names.size(), 3U);
  EXPECT_EQ(names[2], names[1] + "_1");
  EXPECT_EQ(read(path(names[1])), original);
  EXPECT_EQ(read(path(names[2])), renamed);
  EXPECT_EQ(read(file), "Dim m_CntLng As Long\nm_CntLng = 1\n");
  EXPECT_EQ(out.substr(0, out.find('\n')), "已备份文件: " + path(names[2]));
}

TEST_F(RefactorerTest, MatchesOtherSpellingsOfParsedFilesAndSkipsTheRest)
{
  const std::string file = write("src/a.bas", "Dim cnt As Long\r\ncnt = 2\r\n");
  const std::string notes = write("src/notes.txt", "cnt\n");
  VBAParser parser;
  parse(parser, path("src"));
  VBTRefactorer refactorer(parser, fixed_clock());
  const std::string other_spelling = m_dir + "/./src/a.bas";
  const std::string missing = path("gone/b.bas");
  ApplyResult result;
  const std::string out = captured([&] {
    refactorer.add_change("module_variable", change(missing, 1, "x", "m_X"));
    refactorer.add_change("module_variable", change(other_spelling, 1, "cnt", "m_Cnt"));
    refactorer.add_change("local_variable", change(notes, 1, "cnt", "i_Cnt"));
    result = refactorer.apply_all_changes();
  });
  EXPECT_EQ(result, (ApplyResult{1, 0, 2}));
  EXPECT_EQ(read(file), "Dim m_Cnt As Long\r\nm_Cnt = 2\r\n");
  EXPECT_EQ(read(notes), "cnt\n");
  EXPECT_TRUE(out.starts_with("跳过未解析的文件: " + missing + "\n已备份文件: " + file));
  EXPECT_TRUE(out.ends_with("已修改文件: " + file + "\n  - 更新了 1 个变量名的所有引用\n"
                            + "跳过未解析的文件: " + notes + "\n"));
  // Only the record of the rewritten file counts as applied.
  ASSERT_EQ(refactorer.applied_changes().size(), 1U);
  ASSERT_EQ(refactorer.applied_changes().at("module_variable").size(), 1U);
  EXPECT_EQ(refactorer.applied_changes().at("module_variable")[0].file_path, other_spelling);

  VBTRefactorer unmatched(parser);
  captured([&] {
    unmatched.add_change("module_variable", change(missing, 1, "x", "m_X"));
    EXPECT_EQ(unmatched.apply_all_changes(), (ApplyResult{0, 0, 1}));
  });
}

// The disk "fills up" at 40 bytes a file: a's backup and new text fit; b's backup fits, its
// longer new text does not; c's backup does not. Each failed file is left as it was, with no
// temporary file and no partial backup, and the files after it are still tried.
TEST_F(RefactorerTest, FullDiskLeavesEachFailedFileAsItWasAndCountsIt)
{
  const std::string a = write("a.bas", "Dim a As Long\na = 1\n");
  const std::string b = write("b.bas", "Dim b As Long\nb = 1\nb = 2\nb = 3\n");
  const std::string c = write("c.bas", "Dim c As Long\nc = 1\nc = 2\nc = 3\nc = 4\nc = 5\n");
  const auto originals = std::map<std::string, std::string>{{a, read(a)}, {b, read(b)}, {c, read(c)}};
  VBAParser parser;
  parse(parser, m_dir);
  VBTRefactorer refactorer(parser);
  captured([&] {
    refactorer.add_change("module_variable", change(a, 1, "a", "m_A"));
    refactorer.add_change("module_variable", change(b, 1, "b", "m_BLong"));
    refactorer.add_change("module_variable", change(c, 1, "c", "m_C"));
  });

  ApplyResult result;
  const std::string out = captured([&] {
    const FileSizeLimit full_disk(40);
    result = refactorer.apply_all_changes();
  });

  EXPECT_EQ(result, (ApplyResult{1, 2, 0}));
  EXPECT_EQ(read(a), "Dim m_A As Long\nm_A = 1\n");
  EXPECT_EQ(read(b), originals.at(b));
  EXPECT_EQ(read(c), originals.at(c));
  const std::vector<std::string> names = entries(m_dir);
  ASSERT_EQ(names.size(), 5U);
  EXPECT_EQ(read(path(names[1])), originals.at(a));
  EXPECT_EQ(read(path(names[3])), originals.at(b));
  EXPECT_EQ(names[4], "c.bas");
  const std::string temp = "[Errno 27] File too large: '" + m_dir;
  EXPECT_EQ(std::regex_replace(out, std::regex(R"(\.[0-9a-f]{16}\.tmp)"), ".X.tmp"),
            "已备份文件: " + path(names[1]) + "\n已修改文件: " + a
                + "\n  - 更新了 1 个变量名的所有引用\n已备份文件: " + path(names[3])
                + "\n写入文件失败 " + b + ": " + temp + "/.b.bas.X.tmp'\n备份文件失败 " + c + ": "
                + temp + "/.c.bas.X.tmp'\n");
  ASSERT_EQ(refactorer.applied_changes().at("module_variable").size(), 1U);
  EXPECT_EQ(refactorer.applied_changes().at("module_variable")[0].file_path, a);
}

TEST_F(RefactorerTest, ReadOnlySourceIsNotRewritten)
{
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root may write any file";
  }
  const std::string original = "Dim a As Long\na = 1\n";
  const std::string file = write("a.bas", original);
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  VBAParser parser;
  parse(parser, m_dir);
  VBTRefactorer refactorer(parser);
  const std::string out = captured([&] {
    refactorer.add_change("module_variable", change(file, 1, "a", "m_A"));
    EXPECT_EQ(refactorer.apply_all_changes(), (ApplyResult{0, 1, 0}));
  });
  EXPECT_EQ(read(file), original);
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::group_read);
  // The backup is made first and stays; nothing else is left behind.
  const std::vector<std::string> names = entries(m_dir);
  ASSERT_EQ(names.size(), 2U);
  EXPECT_TRUE(out.ends_with("\n写入文件失败 " + file + ": [Errno 13] Permission denied: '" + file
                            + "'\n"))
      << out;
}

TEST_F(RefactorerTest, InvalidUtf8SourceIsNotRewritten)
{
  const std::string original = "Dim a As Long ' caf\xE9\na = 1\n";
  const std::string file = write("a.bas", original);
  VBAParser parser;
  parse(parser, m_dir);
  VBTRefactorer refactorer(parser);
  const std::string out = captured([&] {
    refactorer.add_change("module_variable", change(file, 1, "a", "m_A"));
    EXPECT_EQ(refactorer.apply_all_changes(), (ApplyResult{0, 1, 0}));
  });
  EXPECT_EQ(out, "备份文件失败 " + file + ": not valid UTF-8, the file is not rewritten\n");
  EXPECT_EQ(read(file), original);
  EXPECT_EQ(entries(m_dir).size(), 1U);
}

TEST_F(RefactorerTest, ReplacesTheTargetOfALinkAndKeepsItsMode)
{
  const std::string target = write("real/a.bas", "Dim a As Long\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_directories(path("src"));
  const std::string link = path("src/a.bas");
  fs::create_symlink("../real/a.bas", link);
  VBAParser parser;
  parser.files.insert({link, {"Dim a As Long\n"}});
  VBTRefactorer refactorer(parser);
  captured([&] {
    refactorer.add_change("module_variable", change(link, 1, "a", "m_A"));
    EXPECT_EQ(refactorer.apply_all_changes().rewritten, 1U);
  });
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(read(target), "Dim m_A As Long\n");
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(entries(path("real")), std::vector<std::string>{"a.bas"});
}

// A global follows into the class and form modules under the parsed folder: each changed one is
// backed up, rewritten, named in the lines and listed by a record of its own. One that cannot be
// rewritten (bytes that are not UTF-8, UTF-16 text) holds the rename back everywhere.
TEST_F(RefactorerTest, ClassAndFormModulesAreRewrittenLikeStandardOnesOrHoldTheRenameBack)
{
  const std::string class_text = "VERSION 1.0 CLASS\nBEGIN\n  MultiUse = -1  'True\nEND\n"
                                 "Attribute VB_Name = \"Meter\"\n"
                                 "Function Scaled(x As Double) As Double\n"
                                 "    Scaled = x * rate\nEnd Function\n";
  const std::string form_text = "VERSION 5.00\nBegin VB.Form View\n   Tag = rate\nEnd\n"
                                "Attribute VB_Name = \"View\"\nSub Show()\n    MsgBox rate\nEnd Sub\n";
  struct Case
  {
    const char* name;
    std::string class_bytes; // Meter.cls as written
    const char* refusal;     // why the rename is held back, or none
  };
  const Case cases[] = {
      {"rewritten", class_text, nullptr},
      {"not UTF-8", class_text + "' caf\xE9\n", "not valid UTF-8"},
      {"UTF-16", std::string("\xFF\xFE", 2) + "V\0", "UTF-16 text (byte-order mark FF FE)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path("src"));
    const std::string globals = write("src/g.bas", "Public rate As Double\n");
    const std::string meter = write("src/cls/Meter.cls", c.class_bytes);
    const std::string view = write("src/View.frm", form_text);
    VBAParser parser;
    parse(parser, path("src"));
    VBTRefactorer refactorer(parser, fixed_clock());
    ApplyResult result;
    const std::string out = captured([&] {
      refactorer.add_change("global_variable", {globals, 1, "rate", "g_Rate_dbl",
                                                "全局变量 'rate' 重命名为 'g_Rate_dbl'", ""});
      result = refactorer.apply_all_changes();
    });
    if (c.refusal != nullptr) {
      EXPECT_EQ(result, (ApplyResult{0, 0, 0})) << out;
      EXPECT_NE(out.find("跳过无法安全应用的重命名: 'rate' -> 'g_Rate_dbl' (" + globals + "): 文件 "
                         + meter + " 不能修改 (" + c.refusal + ")\n"),
                std::string::npos)
          << out;
      EXPECT_EQ(read(meter), c.class_bytes);
      EXPECT_EQ(read(view), form_text);
      EXPECT_EQ(entries(path("src")), (std::vector<std::string>{"View.frm", "cls", "g.bas"}));
      EXPECT_TRUE(refactorer.applied_changes().empty());
      continue;
    }
    EXPECT_EQ(result, (ApplyResult{3, 0, 0})) << out;
    EXPECT_EQ(read(meter),
              std::regex_replace(class_text, std::regex("x \\* rate"), "x * g_Rate_dbl"));
    EXPECT_EQ(read(view),
              std::regex_replace(form_text, std::regex("MsgBox rate"), "MsgBox g_Rate_dbl"));
    const std::vector<std::string> names = entries(path("src/cls"));
    ASSERT_EQ(names.size(), 2U);
    EXPECT_EQ(read(path("src/cls/" + names[1])), class_text);
    EXPECT_NE(out.find("已备份文件: " + path("src/cls/" + names[1]) + "\n已修改文件: " + meter
                       + "\n  - 更新了 1 个变量名的所有引用\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n已修改文件: " + view + "\n"), std::string::npos) << out;
    const std::vector<RenameChange>& applied = refactorer.applied_changes().at("global_variable");
    ASSERT_EQ(applied.size(), 3U);
    EXPECT_EQ(applied[0], refactorer.changes_of("global_variable")[0]);
    // The other modules in the order they were read: the folder's files before its subfolders.
    EXPECT_EQ(applied[1].file_path, view);
    EXPECT_EQ(applied[1].line_number, 7);
    EXPECT_EQ(applied[1].description, "全局变量 'rate' 重命名为 'g_Rate_dbl'（窗体模块中的引用）");
    EXPECT_EQ(applied[2].file_path, meter);
    EXPECT_EQ(applied[2].line_number, 7);
    EXPECT_EQ(applied[2].description, "全局变量 'rate' 重命名为 'g_Rate_dbl'（类模块中的引用）");
  }
}

} // namespace
} // namespace tarnwick::brimsel::testing
