#include "parser_test_util.hpp"

namespace tarnwick::brimsel {
namespace {

using testing::captured;
using T = VariableType;

// Every record one declaration line stores, in table order, as "name:Type:scope[:const][:array]".
std::string declare(const std::string& line, std::optional<std::string> function_name = {})
{
  VBAParser parser;
  parser.parse_variable_declaration(line, "m.bas", 7, function_name);
  std::string out;
  auto add = [&](const VariableList& list, const char* table) {
    for (const VariableInfo& v : list) {
      EXPECT_EQ(v.name, v.original_name);
      EXPECT_EQ(v.function_name, function_name);
      out += (out.empty() ? "" : "; ") + v.name + ":" + std::string(to_string(v.var_type)) + ":"
             + std::string(to_string(v.scope)) + (v.is_const ? ":const" : "")
             + (v.is_array ? ":array" : "") + "@" + table;
    }
  };
  add(parser.global_variables, "g");
  for (const auto& [key, list] : parser.module_variables) {
    EXPECT_EQ(key, "m.bas");
    add(list, "m");
  }
  for (const auto& [key, list] : parser.local_variables) {
    EXPECT_EQ(key, "m.bas:" + function_name.value_or(""));
    add(list, "l");
  }
  return out;
}

TEST(VBAParserDeclarations, ScopeTypeAndFlags)
{
  EXPECT_EQ(declare("Dim i As Long", "Main"), "i:Long:local@l");
  EXPECT_EQ(declare("dim x as integer"), "x:Integer:module_private@m");
  EXPECT_EQ(declare("Public g_Total As Double"), "g_Total:Double:global@g");
  EXPECT_EQ(declare("Global g_Flag As BOOLEAN"), "g_Flag:Boolean:global@g");
  EXPECT_EQ(declare("Public Const MAX_SITE As Long = 4"), "MAX_SITE:Long:global:const@g");
  EXPECT_EQ(declare("Const LIMIT As Integer = 10"), "LIMIT:Integer:module_private:const@m");
  EXPECT_EQ(declare("Const LIMIT As Integer = 10", "Main"), "LIMIT:Integer:local:const@l");
  EXPECT_EQ(declare("Private Const m_A As Long = 1", "Main"), "m_A:Long:local:const@l");
  EXPECT_EQ(declare("dim const K As Long = 1"), "K:Long:module_private:const@m");
  EXPECT_EQ(declare("Public Dim Count As Long", "Main"), "Dim Count:Long:local@l");
  EXPECT_EQ(declare("Dim obj As New Collection"), "obj:Variant:module_private@m");
  EXPECT_EQ(declare("Dim s As sitedouble"), "s:SiteDouble:module_private@m");
  EXPECT_EQ(declare("Dim pins As PinList", "Main"), "pins:PinList:local@l");
  EXPECT_EQ(declare("Dim w As DSPWave", "Main"), "w:DspWave:local@l");
  EXPECT_EQ(declare("Dim t As MyType"), "t:Variant:module_private@m");
  EXPECT_EQ(declare("Dim x As Variant = 5"), "x:Variant:module_private@m");
  EXPECT_EQ(declare("DIM n AS NEW LONG"), "n:Long:module_private@m");
  EXPECT_EQ(declare("Dim 变量 As Long"), "变量:Long:module_private@m");
  EXPECT_EQ(declare("Dim a, , b As Long"),
            "a:Long:module_private@m; :Long:module_private@m; b:Long:module_private@m");
  for (const char* nothing : {"Dim x", "Dim s As String * 10", "Dim x As Long: x = 5",
                              "Dim x As Long, _", "Const A = 5", "Public Type MyType"}) {
    EXPECT_EQ(declare(nothing), "") << nothing;
  }
}

TEST(VBAParserDeclarations, NamesSplitOutsideBracketsWithTheirOwnTypesAndBounds)
{
  EXPECT_EQ(declare("Dim m(2, 3) As Double"), "m:Double:module_private:array@m");
  EXPECT_EQ(declare("Dim arr(1 To 5) As Long"), "arr:Long:module_private:array@m");
  EXPECT_EQ(declare("Dim arr(10) As Double"), "arr:Double:module_private:array@m");
  EXPECT_EQ(declare("Dim grid (2) As Long"), "grid:Long:module_private:array@m");
  EXPECT_EQ(declare("Private Const PI_VAL As Double = (3.14)"),
            "PI_VAL:Double:module_private:const@m");
  EXPECT_EQ(declare("Dim arr() As String, n As Long"),
            "arr:String:module_private:array@m; n:Long:module_private@m");
  EXPECT_EQ(declare("Dim a As Integer, b As Long"),
            "a:Integer:module_private@m; b:Long:module_private@m");
  EXPECT_EQ(declare("Dim a, b, c As Long"),
            "a:Long:module_private@m; b:Long:module_private@m; c:Long:module_private@m");
  EXPECT_EQ(declare("Dim q(1 To 2) As Integer, r As Long"),
            "q:Integer:module_private:array@m; r:Long:module_private@m");
}

// A Declare statement, a Property header or a Static procedure header declares a procedure:
// no variable record, whatever its modifiers, case or parameters.
TEST(VBAParserDeclarations, DeclareStatementsAndPropertyHeadersAreNoVariables)
{
  for (const char* line :
       {"Public Property Get Count() As Long", "Public Property Get Count(ByVal i As Integer) As Long",
        "private property let Count(ByVal v As Long)", "Public Property Set Item(ByVal o As Object)",
        R"(Private Declare Function F Lib "k32" () As Long)",
        R"(Private Declare PtrSafe Function GetTicks Lib "kernel32" Alias "GetTickCount" () As Long)",
        R"(Public Declare PtrSafe Function H Lib "u" (ByVal s As String, n As Long) As LongPtr)",
        R"(Public DECLARE Sub Sleep Lib "kernel32" (ByVal ms As Long))",
        "Public Static Function Tally() As Long", "Private  static  Property Get P() As Long"}) {
    EXPECT_EQ(declare(line), "") << line;
    EXPECT_EQ(declare(line, "Main"), "") << line;
  }
  // Names that only begin like those words are variables.
  EXPECT_EQ(declare("Public Declared As Long"), "Declared:Long:global@g");
  EXPECT_EQ(declare("Private PropertyName As String"), "PropertyName:String:module_private@m");
  EXPECT_EQ(declare("Public Static Functions As Long"), "Static Functions:Long:global@g");
}

TEST(VBAParserDeclarations, TrailingCommentIsNotPartOfTheDeclaration)
{
  EXPECT_EQ(strip_trailing_comment(R"(Const A As String = "it's" ' x)"),
            R"(Const A As String = "it's")");
  EXPECT_EQ(strip_trailing_comment(R"(Const Q As String = "say ""hi'"" now")"),
            R"(Const Q As String = "say ""hi'"" now")");
  EXPECT_EQ(strip_trailing_comment("Dim x As Long"), "Dim x As Long");
  EXPECT_EQ(strip_trailing_comment("Dim nCount As Long ' loop counter"), "Dim nCount As Long");
  EXPECT_EQ(declare("Dim nCount As Long ' loop counter"), "nCount:Long:module_private@m");
  EXPECT_EQ(declare("Dim x As Long ' used as counter"), "x:Long:module_private@m");
  EXPECT_EQ(declare(R"(Const A As String = "it's" ' note)"), "A:String:module_private:const@m");
}

TEST(VBAParserDeclarations, RuleResultIsKeptOnlyWithAnIssue)
{
  VBAParser parser;
  parser.parse_variable_declaration("Dim i As Long, x As Integer", "m.bas", 3, "Main");
  const VariableList& locals = parser.local_variables.at("m.bas:Main");
  EXPECT_EQ(locals[0].correct_name, std::nullopt);
  EXPECT_EQ(locals[0].issue_description, std::nullopt);
  EXPECT_EQ(locals[1].correct_name, "X_int");
  EXPECT_EQ(locals[1].issue_description, "变量命名不符合规范，建议使用 'X_int' 或 'i_X_int'");
  EXPECT_EQ(locals[1].line_number, 3);
}

TEST(VBAParserDeclarations, RegexFailureIsReportedForTheLine)
{
  VBAParser parser;
  const std::string line = "Dim \xFF As Long";
  const std::string out =
      captured([&] { parser.parse_variable_declaration(line, "m.bas", 12, std::nullopt); });
  EXPECT_EQ(out.rfind("解析变量声明时出错 (行 12): " + line + " - ", 0), 0u) << out;
  EXPECT_NE(out.find("UTF-8 error"), std::string::npos) << out;
  EXPECT_TRUE(parser.module_variables.empty());
}

TEST(VBAParserHeaders, ProcedureHeadersAndParameters)
{
  struct Case
  {
    const char* line;
    const char* name;
    FunctionType kind;
    std::vector<FunctionParameter> parameters;
  };
  const std::vector<Case> cases = {
      {"Public Function Calc_VBT(ByVal argc As Long, ByRef argv() As String) As Long", "Calc_VBT",
       FunctionType::VBT, {{"argc", "Long", "ByVal"}, {"argv", "Variant", "ByRef"}}},
      {"Sub Init", "Init", FunctionType::OTHER, {}},
      {"Sub Init()", "Init", FunctionType::OTHER, {}},
      {"Sub Blank_VBT(  )", "Blank_VBT", FunctionType::VBT, {}},
      {"Sub Init ' (a, b)", "Init", FunctionType::OTHER, {}},
      {"Sub Foo(a As Long", "Foo", FunctionType::OTHER, {}},
      {"Function F(a As Long, b As Long) As Variant()", "F", FunctionType::OTHER,
       {{"a", "Long", ""}, {"b", "Long", ""}}},
      {"Sub S(x As Integer) ' note (a, b)", "S", FunctionType::OTHER, {{"x", "Integer", ""}}},
      {"Private Sub T(Optional n As Long = 5, ParamArray rest() As Variant)", "T",
       FunctionType::OTHER, {{"n", "Long", ""}, {"rest", "Variant", ""}}},
      {"sub lower_dsp(byval mask as long)", "lower_dsp", FunctionType::OTHER,
       {{"mask", "long", "byval"}}},
      {"Sub P_DSP(ByValue As Long, Optional ByVal z As Double, c As New Collection)", "P_DSP",
       FunctionType::DSP, {{"ByValue", "Long", ""}, {"z", "Double", "ByVal"}, {"c", "New", ""}}},
      {"Friend Function Q_IP(arr(1 To 3, 2) As Double, , z)", "Q_IP", FunctionType::IP,
       {{"arr", "Variant", ""}, {"z", "Variant", ""}}},
      {"Sub K([x] As Long, y)", "K", FunctionType::OTHER, {{"y", "Variant", ""}}},
      {"PublicSub X_vbt(a)", "X_vbt", FunctionType::OTHER, {{"a", "Variant", ""}}},
      {"Function 计算_VBT(值 As Long)", "计算_VBT", FunctionType::VBT, {{"值", "Long", ""}}},
      {"Function = 5", "unknown", FunctionType::OTHER, {}},
  };
  for (const Case& c : cases) {
    const FunctionInfo f = VBAParser::parse_function_definition(c.line, "m.bas", 4);
    EXPECT_EQ(f, (FunctionInfo{c.name, c.name, c.kind, "m.bas", 4, 0, c.parameters, {}})) << c.line;
  }
}

TEST(VBAParserHeaders, TypeAndEnumHeadersCarryThePrefixRule)
{
  VBAParser parser;
  const SourceLines lines;
  parser.parse_type_definition("Private Type Point", lines, 2, "a.bas");
  parser.parse_type_definition("Type type_Point", lines, 5, "a.bas");
  parser.parse_type_definition("Public Type Type_Point", lines, 8, "a.bas");
  parser.parse_type_definition("Public Type Point", lines, 9, "a.bas"); // replaces line 2
  parser.parse_enum_definition("Public Enum enum_Color", lines, 11, "a.bas");
  parser.parse_enum_definition("Enum Color", lines, 12, "a.bas");
  parser.parse_enum_definition("Enum", lines, 13, "a.bas");

  ASSERT_EQ(parser.types.size(), 3u);
  const TypeInfo& point = parser.types.begin()->second;
  EXPECT_EQ(point, (TypeInfo{"Point", "Point", "Type", "a.bas", 9, "public", "type_Point",
                             "Type定义应以 'type_' 为前缀"}));
  EXPECT_EQ(parser.types.at("a.bas:type_Point").issue_description, std::nullopt);
  EXPECT_EQ(parser.types.at("a.bas:Type_Point").correct_name, "type_Type_Point");
  ASSERT_EQ(parser.enums.size(), 2u);
  EXPECT_EQ(parser.enums.at("a.bas:enum_Color").issue_description, std::nullopt);
  EXPECT_EQ(parser.enums.at("a.bas:Color").correct_name, "enum_Color");
  EXPECT_EQ(parser.enums.at("a.bas:Color").issue_description, "Enum定义应以 'enum_' 为前缀");

  VBAParser scoped;
  scoped.parse_type_definition("PRIVATE Type type_P", lines, 1, "b.bas");
  EXPECT_EQ(scoped.types.begin()->second.scope, "private");
}

TEST(VBAParserHeaders, ParameterIssueTexts)
{
  VBAParser parser;
  FunctionInfo f = VBAParser::parse_function_definition(
      "Sub S_DSP(x As Long, ByVal data As Long, ByRef out_Ok As Long)", "m.bas", 1);
  parser.functions.insert_or_assign("m.bas:S_DSP", f);
  parser.functions.insert_or_assign(
      "m.bas:Empty_VBT", VBAParser::parse_function_definition("Sub Empty_VBT()", "m.bas", 9));
  parser.check_function_parameters();
  EXPECT_EQ(parser.functions.at("m.bas:S_DSP").issues,
            (std::vector<std::string>{
                "参数 'x': DSP/非VBT函数参数 'x' 必须指定ByVal或ByRef",
                "参数 'data': DSP/非VBT函数参数 'data' 应有in_/out_/inout_前缀，建议：'in_Data' "
                "(建议改为: 'in_Data')"}));
  EXPECT_TRUE(parser.functions.at("m.bas:Empty_VBT").issues.empty());
}

} // namespace
} // namespace tarnwick::brimsel
