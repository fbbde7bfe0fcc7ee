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

TEST(ReplaceWholeWord, MatchesLiteralWholeWordsOfAnyScript)
{
  EXPECT_EQ(replace_whole_word("计total = total + total_max + mytotal + Total", "total", "x"),
            "计total = x + total_max + mytotal + Total");
  EXPECT_EQ(replace_whole_word("t(1), t.Value, o.t ' t \"t\" té t", "t", "u"),
            "u(1), u.Value, o.u ' u \"u\" té u");
  // The name is no pattern: "(" and ")" mean themselves, and a name that ends in ")" needs a
  // word character after it.
  EXPECT_EQ(replace_whole_word("arr3 arr(3)x arr(3) ", "arr(3)", "y"), "arr3 yx arr(3) ");
  // The new name is no replacement template.
  EXPECT_EQ(replace_whole_word("a = b", "b", "$&\\1"), "a = $&\\1");
  EXPECT_EQ(replace_whole_word("aa aa aaa", "aa", "b"), "b b aaa");
  EXPECT_EQ(replace_whole_word("a b", "", "x"), "a b");
}

TEST(ReferencePass, SkipsHeadersDeclarationsAndBlockStartsOnly)
{
  VBAParser parser;
  parser.functions["a.bas:cnt"] = FunctionInfo{"cnt", "cnt", FunctionType::OTHER, "b.bas", 1, 2};
  parser.functions["a.bas:Go"] = FunctionInfo{"Go", "Go", FunctionType::OTHER, "a.bas", 3, 4};
  const VBTRefactorer refactorer(parser);
  SourceLines lines{"Static Sub Run(cnt)\n",      "Property Get Size(): Size = cnt\n",
                    "ReDim cnt(3): x = cnt_max\n", "End If ' cnt\n",
                    "Exit Function ' cnt\n",       "End Type ' cnt\n",
                    "End Function ' cnt\n",        "  End Sub ' cnt\n",
                    "Type cntType ' cnt\n",        "Enum E ' cnt\n",
                    "Private Function F(cnt)\n",   "Sub S(cnt)\n",
                    "dim y: y = cnt\n",            "Const K = cnt\n",
                    "Me.Go cnt, Go, Me\n"};
  // A procedure name of another file is renamed; one of this file and a keyword are not.
  refactorer.apply_variable_references_to_file(
      lines, NameMapping{{"cnt", "m_Cnt"}, {"Go", "GoOn"}, {"Me", "Myself"}}, "a.bas");
  EXPECT_EQ(lines, (SourceLines{"Static Sub Run(m_Cnt)\n",         "Property Get Size(): Size = m_Cnt\n",
                                "ReDim m_Cnt(3): x = cnt_max\n",   "End If ' m_Cnt\n",
                                "Exit Function ' m_Cnt\n",         "End Type ' m_Cnt\n",
                                "End Function ' cnt\n",            "  End Sub ' cnt\n",
                                "Type cntType ' cnt\n",            "Enum E ' cnt\n",
                                "Private Function F(cnt)\n",       "Sub S(cnt)\n",
                                "dim y: y = cnt\n",                "Const K = cnt\n",
                                "Me.Go m_Cnt, Go, Me\n"}));
}

// The reference pass as first built: every entry of the mapping tried on every line, each on
// the text the entries before it left. Procedure names as in RenamesLikeEntryByEntry below.
SourceLines rename_entry_by_entry(SourceLines lines, const NameMapping& mapping)
{
  for (std::string& line : lines) {
    const std::string stripped = text::strip(line);
    if (VBTRefactorer::is_function_definition(stripped)
        || VBTRefactorer::is_variable_declaration(stripped) || stripped.starts_with("Type ")
        || stripped.starts_with("Enum ") || stripped.starts_with("End Function")
        || stripped.starts_with("End Sub")) {
      continue;
    }
    for (const auto& [old_name, new_name] : mapping) {
      if (!VBAParser::vba_keywords.contains(old_name) && old_name != "Go") {
        line = replace_whole_word(line, old_name, new_name);
      }
    }
  }
  return lines;
}

TEST(ReferencePass, RenamesLikeEntryByEntry)
{
  VBAParser parser;
  parser.functions["a.bas:Go"] = FunctionInfo{"Go", "Go", FunctionType::OTHER, "a.bas", 3, 4};
  parser.functions["b.bas:cnt"] = FunctionInfo{"cnt", "cnt", FunctionType::OTHER, "b.bas", 1, 2};
  const VBTRefactorer refactorer(parser);
  const auto renamed = [&](const SourceLines& lines, const NameMapping& mapping) {
    SourceLines result = lines;
    refactorer.apply_variable_references_to_file(result, mapping, "a.bas");
    EXPECT_EQ(result, rename_entry_by_entry(lines, mapping));
    return result;
  };
  using Lines = SourceLines;
  // Chains follow the mapping's order, also round a cycle.
  EXPECT_EQ(renamed({"x = p1 + p2 + p3\n"}, {{"p1", "p2"}, {"p2", "p3"}}),
            Lines{"x = p3 + p3 + p3\n"});
  EXPECT_EQ(renamed({"x = p1 + p2 + p3\n"}, {{"p2", "p3"}, {"p1", "p2"}}),
            Lines{"x = p2 + p3 + p3\n"});
  EXPECT_EQ(renamed({"a = b\n"}, {{"a", "b"}, {"b", "a"}}), Lines{"a = a\n"});
  // Keywords and procedure names of the file stay; a procedure name of another file does not.
  EXPECT_EQ(renamed({"Me.Go cnt, Me\n"}, {{"Me", "x"}, {"Go", "y"}, {"cnt", "z"}}),
            Lines{"Me.Go z, Me\n"});
  // An old name that ends in a non-word character needs a word character after it, and the
  // word renames around it keep their order with it.
  EXPECT_EQ(renamed({"x(3)y x(3) arr(3)\n"}, {{"x", "arr"}, {"arr(3)", "z"}, {"z", "w"}}),
            Lines{"zy arr(3) arr(3)\n"});
  // A blank joins the words around it, before or after the word renames.
  EXPECT_EQ(renamed({"Call Foo cnt\n"}, {{" ", "N"}, {"cnt", "c2"}}), Lines{"CallNFooNcnt\n"});
  EXPECT_EQ(renamed({"Call Foo cnt\n"}, {{"cnt", "c2"}, {" ", "N"}}), Lines{"CallNFooNc2\n"});
  // Letters of any script belong to the word; a new name with a dot makes two words.
  EXPECT_EQ(renamed({"计total total té\n"}, {{"total", "t"}, {"t", "u"}}),
            Lines{"计total u té\n"});
  EXPECT_EQ(renamed({"a c\n"}, {{"a", "b.c"}, {"c", "d"}}), Lines{"b.d d\n"});

  // Random lines and mappings over a small vocabulary that makes every kind above collide; a
  // new name with a byte that is no UTF-8 now and then.
  const std::vector<std::string> words{"p1", "p2", "p3", "cnt", "Me", "Go", "arr", "x", "计",
                                       "total", "é", "_", "9"};
  const std::vector<std::string> gaps{" ", ".", "(", ")", "(3)", "'", "\"", ", ", ""};
  const std::vector<std::string> olds{"p1", "p2", "p3", "cnt", "Me", "Go", "arr(3)", " ",
                                      "x", "计", "total", ".x", "p1.p2"};
  const std::vector<std::string> news{"p1", "p2", "p3", "cnt", "x", "q", "Me", "a.b", "", "b\xff"};
  std::mt19937 random(12);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  for (int round = 0; round < 400; ++round) {
    SourceLines lines;
    for (int l = 0; l < 4; ++l) {
      std::string line = round % 7 == 0 ? "Dim " : "";
      for (int w = 0; w < 6; ++w) {
        line += pick(words) + (random() % 8 == 0 ? pick(gaps) : " ");
      }
      lines.push_back(line + "\n");
    }
    NameMapping mapping;
    for (int e = 0; e < 5; ++e) {
      mapping.insert_or_assign(pick(olds), pick(news));
    }
    SourceLines fast = lines;
    refactorer.apply_variable_references_to_file(fast, mapping, "a.bas");
    ASSERT_EQ(fast, rename_entry_by_entry(lines, mapping)) << "round " << round;
  }
}

TEST(ReferencePass, DeclarationTestSeesTheLineWithoutItsComment)
{
  // Outside procedure headers the refactorer's declaration test agrees with the parser's.
  for (const char* line : {"Dim ' x\n", "Dim x As Long ' y\n", "  Const K = \"it's\"\n",
                           "Public Const P = 1\n", "x = 1 ' Dim y\n", "' Dim x\n"}) {
    EXPECT_EQ(VBTRefactorer::is_variable_declaration(line), VBAParser::is_variable_declaration(line))
        << line;
  }
  // A header is a declaration to the refactorer only.
  EXPECT_TRUE(VBTRefactorer::is_variable_declaration("Private Sub S()\n"));
  EXPECT_FALSE(VBAParser::is_variable_declaration("Private Sub S()\n"));
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
  // Renames chain in their order; each record's own line gets its own new name; a procedure
  // name of the file and a keyword stay elsewhere.
  EXPECT_EQ(read(file), "\xEF\xBB\xBF"
                        "Attribute VB_Name = \"Mod\"\r\n"
                        "Public p2 As Long\r\n"
                        "Public p3 As Long\r\n"
                        "Sub DoWork()\r\n"
                        "    p3 = p3 + 1 ' p3 here\r"
                        "    total = 计p1 + p1x + Me\n"
                        "End Sub\r\n"
                        "x = p3 + Work");
  const std::vector<std::string> names = entries(path("src"));
  ASSERT_EQ(names.size(), 2U);
  const std::string backup = path("src/" + names[1]);
  EXPECT_EQ(read(backup), original);
  EXPECT_EQ(out, "已备份文件: " + backup + "\n已修改文件: " + file
                     + "\n  - 更新了 4 个变量名的所有引用\n");
  // The keyword's rename changed nothing and is not listed as applied.
  const std::vector<RenameChange>& made = refactorer.changes_of("global_variable");
  EXPECT_EQ(refactorer.applied_changes().at("global_variable"),
            std::vector<RenameChange>(made.begin(), made.begin() + 3));
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
      refactorer.add_change("module_variable", change(b, 1, "gone", "m_Gone"));
      refactorer.add_change("module_variable", change(a, 1, "cnt", "m_Cnt"));
      // Only referenced, on a line that is no record's own; the second rename changes the
      // first one's result.
      refactorer.add_change("module_variable", change(a, 99, "tot", "m_Tot"));
      refactorer.add_change("module_variable", change(a, 99, "m_Tot", "m_TotLng"));
      // A procedure name of the file is renamed on its record's line only; here none.
      refactorer.add_change("local_variable", change(a, 1, "Go", "GoOn"));
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
  EXPECT_EQ(applied, (std::vector<std::string>{"module_variable:cnt", "module_variable:tot",
                                               "module_variable:m_Tot"}));
  EXPECT_EQ(read(a), "Dim m_Cnt As Long\nSub Go()\n  m_Cnt = m_TotLng + 1\nEnd Sub\n");
  EXPECT_EQ(read(b), b_text);
  const std::vector<std::string> names = entries(m_dir);
  ASSERT_EQ(names.size(), 3U) << "one backup, of a.bas only";
  EXPECT_TRUE(names[1].starts_with("a.bas.backup_")) << names[1];
  EXPECT_EQ(out, "未修改文件（没有名称需要重命名）: " + b + "\n已备份文件: " + path(names[1])
                     + "\n已修改文件: " + a + "\n  - 更新了 4 个变量名的所有引用\n");

  // The same renames again over the renamed sources: nothing changes, and the run says so.
  std::tie(rewritten, applied) = run(out);
  EXPECT_EQ(rewritten, ApplyResult{});
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(out, "未修改文件（没有名称需要重命名）: " + b
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

} // namespace
} // namespace tarnwick::brimsel::testing
