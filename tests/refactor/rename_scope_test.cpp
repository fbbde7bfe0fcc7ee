// The scope rules of a rename: which words of which modules it changes, on small modules whose
// whole rewritten text is compared.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tarnwick/brimsel/parser.hpp"
#include "tarnwick/brimsel/rename_scope.hpp"

namespace tarnwick::brimsel {
namespace {

using Modules = std::map<std::string, std::string>; // path -> text

// Runs `renames` over `modules` (".bas" ones parsed in path order, class and form modules read
// beside them); `out` gets each module's text after.
ScopedRewrite run(const Modules& modules, const std::vector<ScopedRename>& renames, Modules& out,
                  const RewriteCheck& cannot_rewrite = {})
{
  VBAParser parser;
  ClassAndFormModules class_and_form;
  for (const auto& [path, text] : modules) {
    SourceLines lines;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
      lines.push_back(text.substr(start, end - start));
      start = end;
    }
    if (module_kind_of(path) != ModuleKind::standard) {
      class_and_form.files.insert_or_assign(path, lines);
      continue;
    }
    parser.files.insert_or_assign(path, lines);
    parser.parse_file(path, parser.files.at(path));
  }
  ScopedRewrite rewrite = rename_in_scope(parser, renames, cannot_rewrite, class_and_form);
  out = modules;
  for (const ScopedFile& file : rewrite.files) {
    std::string text;
    for (const std::string& line : file.lines()) {
      text += line;
    }
    out[file.path] = text;
  }
  return rewrite;
}

ScopedRename local(const std::string& file, int line, const std::string& from, const std::string& to)
{
  return {"local_variable", file, line, from, to};
}

ScopedRename global(const std::string& file, int line, const std::string& from, const std::string& to)
{
  return {"global_variable", file, line, from, to};
}

std::vector<RenameOutcome> outcomes(const ScopedRewrite& rewrite)
{
  std::vector<RenameOutcome> list;
  for (const RenameResult& result : rewrite.results) {
    list.push_back(result.outcome);
  }
  return list;
}

constexpr auto renamed = RenameOutcome::renamed;
constexpr auto refused = RenameOutcome::refused;

// A global is renamed in all its modules or in none; a rename inside the module that cannot be
// rewritten is left to the rewrite, and only the files of multi-file renames are asked about.
TEST(RenameScope, GlobalUsedInAModuleThatCannotBeRewrittenIsRefusedAsAWhole)
{
  const Modules modules{{"a.bas", "Public counter As Long\nPublic total As Long\n"},
                        {"b.bas", "Sub Go()\n    Dim n As Long\n    n = counter\nEnd Sub\n"}};
  std::vector<std::string> asked;
  const auto cannot_rewrite = [&](const std::string& path) -> std::optional<std::string> {
    asked.push_back(path);
    return path == "b.bas" ? std::optional<std::string>("not valid UTF-8") : std::nullopt;
  };
  Modules out;
  const ScopedRewrite rewrite = run(modules,
                                    {global("a.bas", 1, "counter", "g_Counter"),
                                     global("a.bas", 2, "total", "g_Total"),
                                     local("b.bas", 2, "n", "N_lng")},
                                    out, cannot_rewrite);
  EXPECT_EQ(outcomes(rewrite), (std::vector{refused, renamed, renamed}));
  EXPECT_EQ(rewrite.results[0].reason, "文件 b.bas 不能修改 (not valid UTF-8)");
  EXPECT_EQ(out.at("a.bas"), "Public counter As Long\nPublic g_Total As Long\n");
  EXPECT_EQ(out.at("b.bas"), "Sub Go()\n    Dim N_lng As Long\n    N_lng = counter\nEnd Sub\n");
  EXPECT_EQ(asked, (std::vector<std::string>{"a.bas", "b.bas"}));
}

TEST(RenameScope, LocalsChangeOnlyInTheirOwnProcedure)
{
  const Modules modules{{"a.bas", "Attribute VB_Name = \"Web\"\n"
                                  "Sub A()\n"
                                  "    Dim web_Key As String\n"
                                  "    web_Key = \"a\" ' web_Key of A\n"
                                  "End Sub\n"
                                  "' web_Key between\n"
                                  "Property Get B() As Long\n"
                                  "    Dim web_Key As Long\n"
                                  "    WEB_KEY = 1: B = web_Key\n"
                                  "End Property\n"}};
  Modules out;
  // Same-named locals of two procedures, one a Property block, each by its own row; a use
  // written in another case is the same variable, a comment is renamed as written.
  const ScopedRewrite rewrite =
      run(modules, {local("a.bas", 3, "web_Key", "WebKey_str"), local("a.bas", 8, "web_Key", "WebKey_lng")},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{renamed, renamed}));
  EXPECT_EQ(out.at("a.bas"), "Attribute VB_Name = \"Web\"\n"
                             "Sub A()\n"
                             "    Dim WebKey_str As String\n"
                             "    WebKey_str = \"a\" ' WebKey_str of A\n"
                             "End Sub\n"
                             "' web_Key between\n"
                             "Property Get B() As Long\n"
                             "    Dim WebKey_lng As Long\n"
                             "    WebKey_lng = 1: B = WebKey_lng\n"
                             "End Property\n");

  // Renames of one run do not chain: p1 -> p2 and p2 -> p3 give p2 and p3.
  run({{"b.bas", "Sub S()\n  Dim p1 As Long, p2 As Long\n  p1 = p2 + 计p1\nEnd Sub\n"}},
      {local("b.bas", 2, "p1", "p2"), local("b.bas", 2, "p2", "p3")}, out);
  EXPECT_EQ(out.at("b.bas"), "Sub S()\n  Dim p2 As Long, p3 As Long\n  p2 = p3 + 计p1\nEnd Sub\n");
}

TEST(RenameScope, MemberAccessStringsNamedArgumentsAndStatementWordsStay)
{
  const Modules modules{{"t.bas", "Attribute VB_Name = \"Tests\"\n"
                                  "Sub T(Request As Object)\n"
                                  "    Dim Body As String, Headers As Object, Username As String\n"
                                  "    Body = Request.Body: Request.Body = \"Howdy!\"\n"
                                  "    Debug.Print Response.Headers.Count, Headers.Count, Headers!Body\n"
                                  "    With Request\n"
                                  "        .Body = Body & \"Body \"\"Body\"\" \" & Body\n"
                                  "    End With\n"
                                  "    Specs.It(\"Body should be set\").Login Username:=Username\n"
                                  "    If Body = \"\" Then Exit Sub Else Body = Tests.Body\n"
                                  "End Sub\n"}};
  Modules out;
  const ScopedRewrite rewrite =
      run(modules,
          {local("t.bas", 3, "Body", "Body_str"), local("t.bas", 3, "Headers", "Headers_var"),
           local("t.bas", 3, "Username", "Username_str")},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{renamed, renamed, renamed}));
  EXPECT_EQ(out.at("t.bas"),
            "Attribute VB_Name = \"Tests\"\n"
            "Sub T(Request As Object)\n"
            "    Dim Body_str As String, Headers_var As Object, Username_str As String\n"
            "    Body_str = Request.Body: Request.Body = \"Howdy!\"\n"
            "    Debug.Print Response.Headers.Count, Headers_var.Count, Headers_var!Body\n"
            "    With Request\n"
            "        .Body = Body_str & \"Body \"\"Body\"\" \" & Body_str\n"
            "    End With\n"
            "    Specs.It(\"Body should be set\").Login Username:=Username_str\n"
            "    If Body_str = \"\" Then Exit Sub Else Body_str = Tests.Body\n"
            "End Sub\n");
}

TEST(RenameScope, FileStatementsKeepTheirWordsAndANameUsedAsOneIsRefused)
{
  const Modules modules{{"f.bas", "Sub ReadAll(path As String)\n"
                                  "    Dim Line As String, fileNo As Integer, textLine As String\n"
                                  "    Open path For Input As #fileNo Len = fileNo\n"
                                  "    Line Input #fileNo, textLine: Line Input #fileNo, Line\n"
                                  "    Print #fileNo, textLine; Write #fileNo, textLine, #1/2/2024#\n"
                                  "    Name textLine As Line\n"
                                  "    Close #fileNo\n"
                                  "End Sub\n"}};
  Modules out;
  const ScopedRewrite rewrite =
      run(modules,
          {local("f.bas", 2, "Line", "Line_str"), local("f.bas", 2, "fileNo", "FileNo_int"),
           local("f.bas", 2, "textLine", "TextLine_str")},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{refused, renamed, renamed}));
  EXPECT_EQ(rewrite.results[0].reason, "'Line' 在第 4 行是 VBA 语句的一部分");
  EXPECT_EQ(out.at("f.bas"), "Sub ReadAll(path As String)\n"
                             "    Dim Line As String, FileNo_int As Integer, TextLine_str As String\n"
                             "    Open path For Input As #FileNo_int Len = FileNo_int\n"
                             "    Line Input #FileNo_int, TextLine_str: Line Input #FileNo_int, Line\n"
                             "    Print #FileNo_int, TextLine_str; Write #FileNo_int, TextLine_str, #1/2/2024#\n"
                             "    Name TextLine_str As Line\n"
                             "    Close #FileNo_int\n"
                             "End Sub\n");
}

TEST(RenameScope, ModuleVariablesSkipShadowingProceduresAndRenameUsesOnDeclarationLines)
{
  const Modules modules{
      {"m.bas", "Attribute VB_Name = \"Mod1\"\n"
                "Private Const SIZE As Long = 4\n"
                "Private Const TWICE As Long = SIZE * 2, app As Long = SIZE\n"
                "Dim buffer(1 To SIZE) As Double\n"
                "Private Type Rec\n"
                "    app As Long\n"
                "    cells(SIZE) As Long\n"
                "End Type\n"
                "Private Declare Function GetSize Lib \"k\" (ByVal app As Long) As Long\n"
                "Sub Run(ByVal size As Long)\n"
                "    Dim b: b = app + size + Mod1.SIZE\n"
                "End Sub\n"
                "Private Function Calc(n As Long) As Long\n"
                "    Calc = n * SIZE + app ' SIZE twice\n"
                "End Function\n"}};
  Modules out;
  // The constant renamed in another constant's value, an array bound, a Type member's bound
  // and after the module's own name even where a parameter shadows it; the parameter, the
  // Type member and the Declare parameter named app keep their names.
  const ScopedRewrite rewrite =
      run(modules,
          {{"module_variable", "m.bas", 2, "SIZE", "m_SIZE_lng"},
           {"module_variable", "m.bas", 3, "app", "m_App_lng"}},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{renamed, renamed}));
  EXPECT_EQ(out.at("m.bas"), "Attribute VB_Name = \"Mod1\"\n"
                             "Private Const m_SIZE_lng As Long = 4\n"
                             "Private Const TWICE As Long = m_SIZE_lng * 2, m_App_lng As Long = m_SIZE_lng\n"
                             "Dim buffer(1 To m_SIZE_lng) As Double\n"
                             "Private Type Rec\n"
                             "    app As Long\n"
                             "    cells(m_SIZE_lng) As Long\n"
                             "End Type\n"
                             "Private Declare Function GetSize Lib \"k\" (ByVal app As Long) As Long\n"
                             "Sub Run(ByVal size As Long)\n"
                             "    Dim b: b = m_App_lng + size + Mod1.m_SIZE_lng\n"
                             "End Sub\n"
                             "Private Function Calc(n As Long) As Long\n"
                             "    Calc = n * m_SIZE_lng + m_App_lng ' m_SIZE_lng twice\n"
                             "End Function\n");
}

TEST(RenameScope, ProcedureHeadersParametersAndBlocks)
{
  const Modules modules{{"a.bas", "Dim cnt As Long\n"
                                  "Static Sub Run(cnt)\n"
                                  "    cnt = 1\n"
                                  "End Sub\n"
                                  "Property Get Size(): Size = cnt: End Property\n"
                                  "Sub Grow()\n"
                                  "    ReDim cnt(3): x = cnt_max + Cnt\n"
                                  "    If cnt Then\n"
                                  "    End If ' cnt, Cnt\n"
                                  "    Me.Go cnt, Go, Me\n"
                                  "End Sub\n"
                                  "Private Function F(ByVal n As Long, Optional k As Long = cnt) As Long\n"
                                  "End Function\n"
                                  "Type T\n    cnt As Long\nEnd Type\n"}};
  Modules out;
  // The parameter of a Static Sub shadows the variable; a Property block and the default of a
  // parameter use it; the Type member keeps its name; comments change as written.
  const ScopedRewrite rewrite = run(modules, {{"module_variable", "a.bas", 1, "cnt", "m_Cnt"}}, out);
  EXPECT_EQ(outcomes(rewrite), std::vector{renamed});
  EXPECT_EQ(out.at("a.bas"), "Dim m_Cnt As Long\n"
                             "Static Sub Run(cnt)\n"
                             "    cnt = 1\n"
                             "End Sub\n"
                             "Property Get Size(): Size = m_Cnt: End Property\n"
                             "Sub Grow()\n"
                             "    ReDim m_Cnt(3): x = cnt_max + m_Cnt\n"
                             "    If m_Cnt Then\n"
                             "    End If ' m_Cnt, Cnt\n"
                             "    Me.Go m_Cnt, Go, Me\n"
                             "End Sub\n"
                             "Private Function F(ByVal n As Long, Optional k As Long = m_Cnt) As Long\n"
                             "End Function\n"
                             "Type T\n    cnt As Long\nEnd Type\n");
}

TEST(RenameScope, GlobalsFollowIntoOtherModulesUnlessTheyDeclareTheNameThemselves)
{
  const Modules modules{
      {"1.bas", "Attribute VB_Name = \"Globals\"\n"
                "Public counter As Long\n"
                "Public Sub Reset()\n"
                "    counter = 0\n"
                "End Sub\n"},
      {"2.bas", "Attribute VB_Name = \"Flow\"\n"
                "Sub Go()\n"
                "    counter = counter + 1: Globals.counter = 2: Other.counter = 3\n"
                "End Sub\n"
                "Sub Shadow(counter As Long)\n"
                "    counter = 1: Globals.counter = 1\n"
                "End Sub\n"},
      {"3.bas", "Attribute VB_Name = \"Other\"\n"
                "Private counter As Long\n"
                "Sub Count()\n"
                "    counter = 5: Globals.counter = 6\n"
                "End Sub\n"},
      {"4.bas", "Attribute VB_Name = \"Quiet\"\n"
                "Sub Nothing_Here()\n"
                "End Sub\n"}};
  Modules out;
  const ScopedRewrite rewrite = run(modules, {global("1.bas", 2, "counter", "g_Counter_lng")}, out);
  EXPECT_EQ(outcomes(rewrite), std::vector{renamed});
  EXPECT_EQ(out.at("1.bas"), "Attribute VB_Name = \"Globals\"\n"
                             "Public g_Counter_lng As Long\n"
                             "Public Sub Reset()\n"
                             "    g_Counter_lng = 0\n"
                             "End Sub\n");
  EXPECT_EQ(out.at("2.bas"), "Attribute VB_Name = \"Flow\"\n"
                             "Sub Go()\n"
                             "    g_Counter_lng = g_Counter_lng + 1: Globals.g_Counter_lng = 2: "
                             "Other.counter = 3\n"
                             "End Sub\n"
                             "Sub Shadow(counter As Long)\n"
                             "    counter = 1: Globals.g_Counter_lng = 1\n"
                             "End Sub\n");
  EXPECT_EQ(out.at("3.bas"), "Attribute VB_Name = \"Other\"\n"
                             "Private counter As Long\n"
                             "Sub Count()\n"
                             "    counter = 5: Globals.g_Counter_lng = 6\n"
                             "End Sub\n");
  EXPECT_EQ(out.at("4.bas"), modules.at("4.bas"));
  // The declaring file first, then the others it changed, in parse order.
  ASSERT_EQ(rewrite.files.size(), 3U);
  EXPECT_EQ(rewrite.files[1].path, "2.bas");
  EXPECT_EQ(rewrite.files[2].path, "3.bas");
  EXPECT_EQ(rewrite.results[0].files, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(rewrite.files[2].renames, std::vector<std::size_t>{0});

  // A second Public declaration elsewhere makes an unqualified use in a third module ambiguous.
  Modules twice = modules;
  twice["3.bas"] = "Attribute VB_Name = \"Other\"\nPublic counter As Long\n";
  const ScopedRewrite ambiguous = run(twice, {global("1.bas", 2, "counter", "g_Counter_lng")}, out);
  EXPECT_EQ(outcomes(ambiguous), std::vector{refused});
  EXPECT_EQ(ambiguous.results[0].reason,
            "'counter' 在 3.bas 中也声明为全局变量，其他模块中不带模块名的引用有歧义");
  EXPECT_EQ(out, twice);
}

TEST(RenameScope, OneVariableDeclaredInTwoIfBranchesGetsOneName)
{
  const Modules modules{{"w.bas", "Sub Fetch()\n"
                                  "#If VBA7 Then\n"
                                  "    Dim WebFile As LongPtr\n"
                                  "#Else\n"
                                  "    Dim WebFile As Long\n"
                                  "#End If\n"
                                  "    WebFile = 1\n"
                                  "End Sub\n"}};
  Modules out;
  const ScopedRewrite rewrite =
      run(modules, {local("w.bas", 3, "WebFile", "WebFile_var"), local("w.bas", 5, "WebFile", "WebFile_lng")},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{renamed, RenameOutcome::merged}));
  EXPECT_EQ(rewrite.results[1].reason, "与第 3 行的声明是同一变量，统一改为 'WebFile_var'");
  EXPECT_EQ(out.at("w.bas"), "Sub Fetch()\n"
                             "#If VBA7 Then\n"
                             "    Dim WebFile_var As LongPtr\n"
                             "#Else\n"
                             "    Dim WebFile_var As Long\n"
                             "#End If\n"
                             "    WebFile_var = 1\n"
                             "End Sub\n");
}

TEST(RenameScope, RefusesWhatCannotBeRenamedSafelyAndChangesNothingForIt)
{
  const Modules modules{{"r.bas", "Attribute VB_Name = \"R\"\n"
                                  "Dim Tally As Long\n"
                                  "Dim total As Long, other As Long\n"
                                  "Sub Tally_It()\n"
                                  "    Dim n As Long, m_N As Long\n"
                                  "    total = other + n + m_N\n"
                                  "End Sub\n"
                                  "Function Tally() As Long\n"
                                  "End Function\n"}};
  Modules out;
  const ScopedRewrite rewrite =
      run(modules,
          {{"module_variable", "r.bas", 2, "Tally", "m_Tally"},
           {"module_variable", "r.bas", 3, "total", "other"},
           local("r.bas", 5, "n", "m_N"),
           local("r.bas", 5, "n", "For"),
           {"module_variable", "r.bas", 4, "Tally_It", "x"},
           {"module_variable", "r.bas", 3, "other", "m_Other"}},
          out);
  // total may take the name other gives up; n may not take m_N, and the second rename of n,
  // though it names the same variable, goes with the first.
  EXPECT_EQ(outcomes(rewrite), (std::vector{refused, renamed, refused, refused, refused, renamed}));
  EXPECT_EQ(rewrite.results[0].reason, "'Tally' 也是过程名 (第 8 行)");
  EXPECT_EQ(rewrite.results[2].reason, "新名称 'm_N' 在第 5 行已有同名的标识符");
  EXPECT_EQ(rewrite.results[3].reason, rewrite.results[2].reason);
  EXPECT_EQ(rewrite.results[4].reason, "第 4 行没有 'Tally_It' 的声明");
  EXPECT_EQ(out.at("r.bas"), "Attribute VB_Name = \"R\"\n"
                             "Dim Tally As Long\n"
                             "Dim other As Long, m_Other As Long\n"
                             "Sub Tally_It()\n"
                             "    Dim n As Long, m_N As Long\n"
                             "    other = m_Other + n + m_N\n"
                             "End Sub\n"
                             "Function Tally() As Long\n"
                             "End Function\n");
  // A new name that is a keyword is refused.
  const ScopedRewrite keyword = run(modules, {local("r.bas", 5, "n", "For")}, out);
  EXPECT_EQ(keyword.results[0].reason, "新名称 'For' 是 VBA 关键字");
  EXPECT_EQ(out, modules);
}

TEST(RenameScope, PublicTypesFollowIntoOtherModulesPrivateOnesStay)
{
  const Modules modules{
      {"a.bas", "Public Type Point\n    X As Long\nEnd Type\n"
                "Private Enum Color\n    Red = 1\nEnd Enum\n"
                "Dim p As Point, c As Color ' a Point\n"},
      {"b.bas", "Sub Draw(ByVal at As Point)\n    Dim q As Point: q.X = at.X: Debug.Print \"Point\"\nEnd Sub\n"
                "Private Enum Color\n    Blue = 2\nEnd Enum\n"}};
  Modules out;
  const ScopedRewrite rewrite =
      run(modules,
          {{"type_definition", "a.bas", 1, "Point", "type_Point"},
           {"enum_definition", "a.bas", 4, "Color", "enum_Color"}},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{renamed, renamed}));
  EXPECT_EQ(out.at("a.bas"), "Public Type type_Point\n    X As Long\nEnd Type\n"
                             "Private Enum enum_Color\n    Red = 1\nEnd Enum\n"
                             "Dim p As type_Point, c As enum_Color ' a type_Point\n");
  EXPECT_EQ(out.at("b.bas"),
            "Sub Draw(ByVal at As type_Point)\n    Dim q As type_Point: q.X = at.X: Debug.Print \"Point\"\nEnd Sub\n"
            "Private Enum Color\n    Blue = 2\nEnd Enum\n");
}

// Class and form modules follow a global like standard modules do, with what they declare
// themselves shadowing it: a class's member, a form's control (from its designer block or from
// an event procedure). Their headers never change.
TEST(RenameScope, GlobalsFollowIntoClassAndFormModulesWhereTheyDoNotDeclareTheName)
{
  const std::string form_header = "VERSION 5.00\n"
                                  "Begin VB.Form Setup\n"
                                  "   Caption = \"Rate\"\n"
                                  "   Tag = Rate\n"
                                  "End\n"
                                  "Attribute VB_Name = \"Setup\"\n";
  const std::string class_header = "VERSION 1.0 CLASS\nBEGIN\n  MultiUse = -1  'True\nEND\n"
                                   "Attribute VB_Name = \"Meter\"\n"
                                   "Attribute Rate.VB_VarUserMemId = 0\n";
  const Modules modules{
      {"Globals.bas", "Public Const Rate As Double = 2\n"},
      {"Meter.cls", class_header + "Public Function Scaled(x As Double) As Double\n"
                                   "    Scaled = x * Rate ' by Rate\n"
                                   "End Function\n"},
      {"Tariff.cls", "VERSION 1.0 CLASS\nAttribute VB_Name = \"Tariff\"\n"
                     "Public Rate As Double\n"
                     "Sub Reset()\n    Rate = Globals.Rate\nEnd Sub\n"},
      {"Setup.frm", form_header + "Private Sub Apply_Click()\n"
                                  "    Err.Raise 5, , CStr(Rate)\n"
                                  "End Sub\n"},
      {"Entry.frm", "VERSION 5.00\nBegin VB.Form Entry\n   Begin VB.TextBox Rate\n   End\nEnd\n"
                    "Attribute VB_Name = \"Entry\"\n"
                    "Private Sub Ok_Click()\n    Rate.Text = \"\"\nEnd Sub\n"},
      {"Sheet.frm", "VERSION 5.00\nBegin {C62A69F0-16DC-11CE-9E98-00AA00574A4F} Sheet\nEnd\n"
                    "Attribute VB_Name = \"Sheet\"\n"
                    "Private Sub Rate_Change()\n    Rate.Value = Globals.Rate\nEnd Sub\n"}};
  Modules out;
  const ScopedRewrite rewrite = run(modules, {global("Globals.bas", 1, "Rate", "G_RATE_DBL")}, out);
  EXPECT_EQ(outcomes(rewrite), std::vector{renamed});
  EXPECT_EQ(out.at("Meter.cls"), class_header + "Public Function Scaled(x As Double) As Double\n"
                                                "    Scaled = x * G_RATE_DBL ' by Rate\n"
                                                "End Function\n");
  EXPECT_EQ(out.at("Tariff.cls"), "VERSION 1.0 CLASS\nAttribute VB_Name = \"Tariff\"\n"
                                  "Public Rate As Double\n"
                                  "Sub Reset()\n    Rate = Globals.G_RATE_DBL\nEnd Sub\n");
  EXPECT_EQ(out.at("Setup.frm"), form_header + "Private Sub Apply_Click()\n"
                                               "    Err.Raise 5, , CStr(G_RATE_DBL)\n"
                                               "End Sub\n");
  EXPECT_EQ(out.at("Entry.frm"), modules.at("Entry.frm"));
  EXPECT_EQ(out.at("Sheet.frm"), "VERSION 5.00\nBegin {C62A69F0-16DC-11CE-9E98-00AA00574A4F} Sheet\nEnd\n"
                                 "Attribute VB_Name = \"Sheet\"\n"
                                 "Private Sub Rate_Change()\n    Rate.Value = Globals.G_RATE_DBL\nEnd Sub\n");
  // A class's Public member is no global: uses elsewhere are not ambiguous.
  ASSERT_EQ(rewrite.files.size(), 5U);
  EXPECT_EQ(rewrite.files[1].path, "Meter.cls");

  // A class or form module that cannot be rewritten or read refuses the rename as a whole.
  const auto cannot_rewrite = [](const std::string& path) -> std::optional<std::string> {
    return path == "Setup.frm" ? std::optional<std::string>("not valid UTF-8") : std::nullopt;
  };
  const ScopedRewrite refusal =
      run(modules, {global("Globals.bas", 1, "Rate", "G_RATE_DBL")}, out, cannot_rewrite);
  EXPECT_EQ(refusal.results[0].reason, "文件 Setup.frm 不能修改 (not valid UTF-8)");
  EXPECT_EQ(out, modules);
}

// A module without VB_Name is named by its file; a header on two lines declares parameters on
// both; one variable declared in two "#If" branches with two types takes one name.
TEST(RenameScope, FileNamedModulesContinuedHeadersAndIfTwins)
{
  const Modules modules{
      {"x/modUsers.bas", "Option Explicit\n"
                         "Public mcolUsers As Object\n"
                         "#If Win64 Then\n"
                         "Public ptr As LongPtr\n"
                         "#Else\n"
                         "Public ptr As Long\n"
                         "#End If\n"},
      {"x/modMain.bas", "Function LossFactor(ByVal a As Double, _\n"
                        "    mcolUsers As String) As Double\n"
                        "    LossFactor = Len(mcolUsers) + ptr\n"
                        "End Function\n"
                        "Sub Go()\n"
                        "    If modUsers.mcolUsers Is Nothing Then Set mcolUsers = Nothing\n"
                        "    x = LossFactor(1, mcolUsers:=\"\")\n"
                        "End Sub\n"}};
  Modules out;
  const ScopedRewrite rewrite =
      run(modules,
          {global("x/modUsers.bas", 2, "mcolUsers", "g_Users_obj"),
           global("x/modUsers.bas", 4, "ptr", "g_Ptr_var"), global("x/modUsers.bas", 6, "ptr", "g_Ptr_lng")},
          out);
  EXPECT_EQ(outcomes(rewrite), (std::vector{renamed, renamed, RenameOutcome::merged}));
  EXPECT_EQ(out.at("x/modUsers.bas"), "Option Explicit\n"
                                      "Public g_Users_obj As Object\n"
                                      "#If Win64 Then\n"
                                      "Public g_Ptr_var As LongPtr\n"
                                      "#Else\n"
                                      "Public g_Ptr_var As Long\n"
                                      "#End If\n");
  EXPECT_EQ(out.at("x/modMain.bas"), "Function LossFactor(ByVal a As Double, _\n"
                                     "    mcolUsers As String) As Double\n"
                                     "    LossFactor = Len(mcolUsers) + g_Ptr_var\n"
                                     "End Function\n"
                                     "Sub Go()\n"
                                     "    If modUsers.g_Users_obj Is Nothing Then Set g_Users_obj = Nothing\n"
                                     "    x = LossFactor(1, mcolUsers:=\"\")\n"
                                     "End Sub\n");
}

} // namespace
} // namespace tarnwick::brimsel
