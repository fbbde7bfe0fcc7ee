// What each word of a module is: procedures, declarations, parameters, members and the other
// roles the rename scope rules tell apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tarnwick/brimsel/module_model.hpp"

namespace tarnwick::brimsel {
namespace {

const char* role_text(Role role)
{
  switch (role) {
  case Role::use: return "use";
  case Role::member: return "member";
  case Role::named_argument: return "named_argument";
  case Role::statement_word: return "statement_word";
  case Role::type_name: return "type_name";
  case Role::declared: return "declared";
  case Role::parameter: return "parameter";
  case Role::foreign_parameter: return "foreign_parameter";
  case Role::procedure_name: return "procedure_name";
  case Role::block_name: return "block_name";
  case Role::type_member: return "type_member";
  case Role::enum_member: return "enum_member";
  case Role::label: return "label";
  case Role::directive: return "directive";
  case Role::comment: return "comment";
  case Role::control: return "control";
  }
  return "";
}

struct Scanned
{
  std::vector<std::string> words;      // "line role" of every word named `name`, from 1
  std::vector<std::string> procedures; // "first-last", from 1
};

SourceLines lines_of(const std::string& text)
{
  SourceLines lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

Scanned described(const FileScan& module)
{
  Scanned out;
  for (const Token& token : module.tokens) {
    std::string word = std::to_string(token.line + 1) + " " + role_text(token.role);
    if (token.is_public) {
      word += " public";
    }
    if (token.qualifier != k_none) {
      word += " of " + module.qualifiers[token.qualifier];
    }
    out.words.push_back(word);
  }
  for (const Extent& extent : module.procedures) {
    out.procedures.push_back(std::to_string(extent.first + 1) + "-" + std::to_string(extent.last + 1));
  }
  return out;
}

Scanned scan(const std::string& path, const std::string& text, const std::string& name)
{
  const SourceLines lines = lines_of(text);
  FileScan module;
  module.path = &path;
  module.lines = &lines;
  scan_module(module, NameSet{name});
  return described(module);
}

using List = std::vector<std::string>;

TEST(ModuleModel, RolesOfAWordInEveryPlaceItCanStand)
{
  struct Case
  {
    const char* text;
    List words; // of the name "total"
  };
  const Case cases[] = {
      {"Public total As Long\nPrivate Total As Long\nDim x As Long, total As Long\n",
       {"1 declared public", "2 declared", "3 declared"}},
      {"Sub Go(ByVal total As Long)\n    total = total + 1\nEnd Sub\n",
       {"1 parameter", "2 use", "2 use"}},
      {"Function total() As Long\nEnd Function\n", {"1 procedure_name"}},
      {"Function F(ByVal a As Double, _\n    total As String) As Double\n    F = total\nEnd Function\n",
       {"2 parameter", "3 use"}},
      {"Dim a As Long, _\n    total As Long\n", {"2 declared"}},
      {"Sub Go()\n    x.total = Mod1.total\n    f total:=1\nEnd Sub\n",
       {"2 member of x", "2 member of mod1", "3 named_argument"}},
      {"Private Declare Function GetTick Lib \"k\" (ByVal total As Long) As Long\n",
       {"1 foreign_parameter"}},
      {"Type T\n    total As Long\nEnd Type\nEnum E\n    total = 1\nEnd Enum\n",
       {"2 type_member", "5 enum_member"}},
      {"Public Type total\nEnd Type\n", {"1 block_name public"}},
      {"Dim x As total\n", {"1 type_name"}},
      {"#If total Then\n#End If\n", {"1 directive"}},
      {"Sub Go()\ntotal:\n    GoTo total\nEnd Sub\n", {"2 label", "3 label"}},
      {"' the total\nx = \"total\" ' total again\n", {"1 comment", "2 comment"}},
      {"Public total As Long\nAttribute total.VB_VarUserMemId = 0\n", {"1 declared public", "2 use"}},
      {"If a Then total = 1 Else x = total\n", {"1 use", "1 use"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scan("m.bas", c.text, "total").words, c.words) << c.text;
  }
}

// A class or form module's header (VERSION, designer block, Attribute lines) gives no word
// but the form's controls; the code after it is read as in a standard module.
const char* const k_class =
    "VERSION 1.0 CLASS\n"
    "BEGIN\n"
    "  MultiUse = -1  'True\n"
    "END\n"
    "Attribute VB_Name = \"Account\"\n"
    "Attribute VB_PredeclaredId = False\n"
    "Public total As Long\n"
    "Private Sub Class_Initialize()\n"
    "    total = 0\n"
    "End Sub\n";

const char* const k_form =
    "VERSION 5.00\n"
    "Object = \"{0ECD9B60-23AA-11D0-B351-00A0C9055D8E}#6.0#0\"; \"MSHFLXGD.OCX\"\n"
    "Begin VB.Form frmMain\n"
    "   Caption         =   \"total\"\n"
    "   Begin VB.TextBox total\n"
    "      BeginProperty Font\n"
    "         Name            =   \"total\"\n"
    "      EndProperty\n"
    "   End\n"
    "End\n"
    "Attribute VB_Name = \"frmMain\"\n"
    "Private Sub total_Change()\n"
    "    total.Text = \"\"\n"
    "End Sub\n";

const char* const k_user_form =
    "VERSION 5.00\n"
    "Begin {C62A69F0-16DC-11CE-9E98-00AA00574A4F} Entry\n"
    "   ClientHeight    =   3000\n"
    "End\n"
    "Attribute VB_Name = \"Entry\"\n"
    "Private Sub Total_AfterUpdate()\n"
    "    Debug.Print total\n"
    "End Sub\n"
    "Private Sub Sum_total()\n"
    "End Sub\n";

TEST(ModuleModel, KindsHeadersControlsAndModuleNames)
{
  struct Case
  {
    const char* path;
    const char* text;
    ModuleKind kind;
    std::uint32_t code_start; // from 1
    const char* module_name;
    List words; // of the name "total"
    List procedures;
  };
  const Case cases[] = {
      {"a/Main.bas", "Attribute VB_Name = \"Main\"\nSub A()\nEnd Sub\nSub B()\n", ModuleKind::standard,
       2, "main", {}, {"2-3", "4-4"}},
      {"a/modUsers.BAS", "Sub A()\n\nSub B()\nEnd Sub\n", ModuleKind::standard, 1, "modusers", {},
       {"1-2", "3-4"}},
      {"a.b/Acc.cls", k_class, ModuleKind::class_module, 7, "account",
       {"7 declared public", "9 use"}, {"8-10"}},
      {"Main.FRM", k_form, ModuleKind::form, 12, "frmmain",
       {"5 control", "12 control", "13 use"}, {"12-14"}},
      {"Entry.frm", k_user_form, ModuleKind::form, 6, "entry",
       {"6 control", "7 use"}, {"6-8", "9-10"}},
      {"p/Counter.bas",
       "Public Property Get P() As Long\nEnd Property\nPrivate Function F( _\n    a As Long)\nEnd Function\n",
       ModuleKind::standard, 1, "counter", {}, {"1-2", "3-5"}},
      // Two procedures never share a line, however ":" joins their headers and ends.
      {"p/Joined.bas", "Sub A(): Sub B(total)\n    total = 1\nEnd Sub: Sub C()\nEnd Sub\nSub D()\nEnd Sub\n",
       ModuleKind::standard, 1, "joined", {"1 parameter", "2 use"}, {"1-4", "5-6"}},
  };
  for (const Case& c : cases) {
    const std::string path = c.path;
    const SourceLines lines = lines_of(c.text);
    FileScan module;
    module.path = &path;
    module.lines = &lines;
    scan_module(module, NameSet{"total"});
    EXPECT_EQ(module.kind, c.kind) << c.path;
    EXPECT_EQ(module.code_start + 1, c.code_start) << c.path;
    EXPECT_EQ(module.module_name, c.module_name) << c.path;
    const Scanned scanned = described(module);
    EXPECT_EQ(scanned.words, c.words) << c.path;
    EXPECT_EQ(scanned.procedures, c.procedures) << c.path;
  }
}

} // namespace
} // namespace tarnwick::brimsel
