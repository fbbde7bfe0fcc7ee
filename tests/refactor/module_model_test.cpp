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
  }
  return "";
}

struct Scanned
{
  std::vector<std::string> words;      // "line role" of every word named `name`, from 1
  std::vector<std::string> procedures; // "first-last", from 1
  std::string module_name;
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

Scanned scan(const std::string& path, const std::string& text, const std::string& name)
{
  const SourceLines lines = lines_of(text);
  FileScan module;
  module.path = &path;
  module.lines = &lines;
  scan_module(module, NameSet{name});
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
  out.module_name = module.module_name;
  return out;
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
      {"Attribute total.VB_VarUserMemId = 0\n", {"1 use"}},
      {"If a Then total = 1 Else x = total\n", {"1 use", "1 use"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scan("m.bas", c.text, "total").words, c.words) << c.text;
  }
}

TEST(ModuleModel, ProceduresAndModuleName)
{
  struct Case
  {
    const char* text;
    List procedures;
    const char* module_name;
  };
  const Case cases[] = {
      {"Attribute VB_Name = \"Main\"\nSub A()\nEnd Sub\nSub B()\n", {"2-3", "4-4"}, "main"},
      {"Sub A()\n\nSub B()\nEnd Sub\n", {"1-2", "3-4"}, ""},
      {"Public Property Get P() As Long\nEnd Property\nPrivate Function F( _\n    a As Long)\nEnd Function\n",
       {"1-2", "3-5"}, ""},
  };
  for (const Case& c : cases) {
    const Scanned scanned = scan("m.bas", c.text, "x");
    EXPECT_EQ(scanned.procedures, c.procedures) << c.text;
    EXPECT_EQ(scanned.module_name, c.module_name) << c.text;
  }
}

} // namespace
} // namespace tarnwick::brimsel
