#include <gtest/gtest.h>

#include "tarnwick/brimsel/naming_rules.hpp"

namespace tarnwick::brimsel {
namespace {

using S = VariableScope;
using T = VariableType;
using R = VBTNamingRules;

constexpr const char* k_accepted = "";

struct RuleCase
{
  S scope;
  T type;
  bool is_array;
  const char* name;
  const char* correct;
  const char* issue; // k_accepted: no issue
};

VariableInfo record(const RuleCase& c, bool is_const)
{
  return VariableInfo{.name = c.name,
                      .original_name = c.name,
                      .scope = c.scope,
                      .var_type = c.type,
                      .is_array = c.is_array,
                      .file_path = "m.bas",
                      .line_number = 1,
                      .is_const = is_const};
}

void expect_rule(const std::vector<RuleCase>& cases, bool is_const)
{
  for (const RuleCase& c : cases) {
    const NameCheck got = R::get_correct_variable_name(record(c, is_const));
    EXPECT_EQ(got.correct_name, c.correct) << c.name;
    if (*c.issue == '\0') {
      EXPECT_EQ(got.issue, std::nullopt) << c.name;
    } else {
      EXPECT_EQ(got.issue, std::optional<std::string>(c.issue)) << c.name;
    }
  }
}

// The text values reach messages and report cells, so every letter counts.
TEST(VBTRecords, EnumerationTextsInMemberOrder)
{
  std::string types;
  for (int i = 0; i <= static_cast<int>(T::PATTERN); ++i) {
    types += std::string(to_string(static_cast<T>(i))) + " ";
  }
  EXPECT_EQ(types, "Integer Long Single Double String Boolean Variant SiteLong SiteDouble "
                   "SiteBoolean DspWave Enum Type PinData PinListData CSL UserClass PinList "
                   "Pattern ");
  std::string scopes;
  for (int i = 0; i <= static_cast<int>(S::CLASS_EXTERNAL); ++i) {
    scopes += std::string(to_string(static_cast<S>(i))) + " ";
  }
  EXPECT_EQ(scopes, "local module_private global class_private class_public class_external ");
  EXPECT_EQ(to_string(FunctionType::VBT), "VBT");
  EXPECT_EQ(to_string(FunctionType::DSP), "DSP");
  EXPECT_EQ(to_string(FunctionType::IP), "IP");
  EXPECT_EQ(to_string(FunctionType::OTHER), "OTHER");
}

// The tables once; the suffixes here are those the rule cases below do not reach.
TEST(VBTNamingRules, TablesKeepTheirOrderAndExactLetters)
{
  EXPECT_EQ(R::RESERVED_VARS,
            (std::set<std::string, std::less<>>{"i", "j", "k", "m", "n", "site"}));
  ASSERT_EQ(R::TYPE_SUFFIXES.size(), 17u);
  EXPECT_EQ(R::TYPE_SUFFIXES.begin()->first, T::INTEGER);
  EXPECT_EQ((R::TYPE_SUFFIXES.end() - 1)->first, T::PATTERN);
  EXPECT_EQ(R::TYPE_SUFFIXES.at(T::SITELONG), (std::vector<std::string>{"_SLNG", "_aSLNG"}));
  std::string prefixes;
  for (const auto& [scope, prefix] : R::SCOPE_PREFIXES) {
    prefixes += prefix;
  }
  EXPECT_EQ(prefixes, "i_m_g_i_m_v_");
  EXPECT_EQ(R::get_type_suffix(T::SITEDOUBLE, true), "_aSDBL");
  EXPECT_EQ(R::get_type_suffix(T::VARIANT, true), "_var");
  EXPECT_EQ(R::get_type_suffix(T::PATTERN, true), "_PT");
  EXPECT_EQ(R::get_type_suffix(T::USERCLASS, false), "");
  EXPECT_EQ(R::get_type_suffix(T::PINLIST, true), "");
}

TEST(VBTNamingRules, CamelStyleTestUsesUnicodeProperties)
{
  for (const char* yes :
       {"MyVar", "MyVar2", "My_Var", "MY_VAR", "A", "A_", "Äpfel", "Größe", "Ω数値", "Ⅻ_Ⅰ"}) {
    EXPECT_TRUE(R::is_camel_style(yes)) << yes;
  }
  for (const char* no : {"", "myVar", "_MyVar", "1Var", "My-Var", "My Var", "数値", "My$"}) {
    EXPECT_FALSE(R::is_camel_style(no)) << no;
  }
}

TEST(VBTNamingRules, CamelConversionIsAscii)
{
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"", ""}, {"my_var_name", "MyVarName"}, {"MY_VAR", "MyVar"}, {"i_Count", "ICount"},
      {"in_DataValue", "InDatavalue"}, {"MyVar_", "Myvar"}, {"x__y", "XY"}, {"___", ""},
      {"ab cd-ef", "AbCdEf"}, {"myVar", "Myvar"}, {"MyVar", "MyVar"}, {"MYVAR", "MYVAR"},
      {"x1", "X1"}, {"2ND", "2nd"}, {"Größe", "GrE"}, {"变量", ""}
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(R::to_camel_style(in), out) << in;
  }
}

TEST(VBTNamingRules, SnakeCaseInsertsAtWordBoundaries)
{
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"", ""}, {"MyVarName", "My_Var_Name"}, {"ABCDef", "ABC_Def"}, {"ABC", "ABC"},
      {"ABc", "A_Bc"}, {"Var2Name", "Var2_Name"}, {"aB", "a_B"}, {"A_B", "A_B"}, {"_Abc", "__Abc"},
      {"Maxvalue", "Maxvalue"}, {"größeWert", "größe_Wert"}, {"٣X", "٣_X"}
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(R::camel_to_snake_case(in), out) << in;
  }
}

TEST(VBTNamingRules, VariableRule)
{
  expect_rule(
      {
          {S::LOCAL, T::INTEGER, false, "i", "i", "预留变量名 'i' 必须为 Long 类型"},
          {S::LOCAL, T::LONG, false, "K", "K", k_accepted},
          {S::LOCAL, T::INTEGER, false, "I", "I", "预留变量名 'I' 必须为 Long 类型"},
          {S::LOCAL, T::LONG, false, "m", "m", k_accepted},
          {S::LOCAL, T::LONG, false, "n", "n", k_accepted},
          {S::LOCAL, T::LONG, false, "l", "L_lng", // "l" is not reserved
           "变量命名不符合规范，建议使用 'L_lng' 或 'i_L_lng'"},
          {S::LOCAL, T::LONG, false, "SITE", "SITE", "预留变量名 'SITE' 必须为 Variant 类型"},
          {S::LOCAL, T::LONG, false, "\u212A", "\u212A",
           k_accepted}, // Kelvin sign lower-cases to k
          {S::LOCAL, T::VARIANT, false, "site", "site", k_accepted},
          {S::LOCAL, T::LONG, false, "Site", "Site", "预留变量名 'Site' 必须为 Variant 类型"},
          {S::GLOBAL, T::LONG, false, "k", "g_k_lng", "预留变量名 'k' 不能在 global 作用域使用"},
          {S::MODULE_PRIVATE, T::LONG, true, "n", "g_n_alng",
           "预留变量名 'n' 不能在 module_private 作用域使用"},
          {S::GLOBAL, T::VARIANT, false, "SITE", "g_SITE_var",
           "预留变量名 'SITE' 不能在 global 作用域使用"},
          {S::LOCAL, T::PINLIST, false, "my_pins", "MyPins",
           "PinList 类型变量名 'my_pins' 应为 PascalCaseStyle 格式"},
          {S::LOCAL, T::PINLIST, false, "myPins", "Mypins",
           "PinList 类型变量名 'myPins' 应为 PascalCaseStyle 格式"},
          {S::LOCAL, T::PINLIST, false, "i_MyPins", "i_MyPins", k_accepted},
          {S::GLOBAL, T::PINLIST, false, "pinsAll", "g_pinsAll",
           "PinList 类型变量需要作用域前缀 'g_'"},
          {S::MODULE_PRIVATE, T::USERCLASS, false, "g_Meter", "m_g_Meter",
           "UserClass 类型变量需要作用域前缀 'm_'"},
          {S::LOCAL, T::USERCLASS, false, "i_meter", "Meter",
           "UserClass 类型变量名 'i_meter' 应为 PascalCaseStyle 格式"},
          {S::GLOBAL, T::PINLIST, false, "m_pins", "g_m_pins",
           "PinList 类型变量需要作用域前缀 'g_'"},
          {S::GLOBAL, T::PINLIST, false, "g_x", "g_x", k_accepted},
          {S::LOCAL, T::LONG, false, "count", "Count_lng",
           "变量命名不符合规范，建议使用 'Count_lng' 或 'i_Count_lng'"},
          {S::LOCAL, T::LONG, false, "Count_lng", "Count_lng", k_accepted},
          {S::LOCAL, T::LONG, false, "i_Count_lng", "i_Count_lng", k_accepted},
          {S::LOCAL, T::INTEGER, false, "i_loop_count", "LoopCount_int",
           "变量命名不符合规范，建议使用 'LoopCount_int' 或 'i_LoopCount_int'"},
          {S::LOCAL, T::DOUBLE, true, "resultValues", "Resultvalues_adbl",
           "变量命名不符合规范，建议使用 'Resultvalues_adbl' 或 'i_Resultvalues_adbl'"},
          {S::LOCAL, T::INTEGER, false, "Count_lng_int", "Count_int",
           "变量命名不符合规范，建议使用 'Count_int' 或 'i_Count_int'"},
          {S::LOCAL, T::LONG, false, "m_Count", "MCount_lng",
           "变量命名不符合规范，建议使用 'MCount_lng' 或 'i_MCount_lng'"},
          {S::LOCAL, T::VARIANT, false, "Value_str_var", "Value_str_var", k_accepted},
          {S::LOCAL, T::LONG, false, "Value_str_var", "Value_str_lng", // "_str" not retried
           "变量命名不符合规范，建议使用 'Value_str_lng' 或 'i_Value_str_lng'"},
          {S::LOCAL, T::VARIANT, false, "i_Value_str", "Value_var",
           "变量命名不符合规范，建议使用 'Value_var' 或 'i_Value_var'"},
          {S::LOCAL, T::LONG, false, "Größe_lng", "Größe_lng", k_accepted},
          {S::GLOBAL, T::LONG, false, "m_total_count_lng", "g_TotalCount_lng",
           "变量命名不符合规范，应为 'g_TotalCount_lng'"},
          {S::GLOBAL, T::LONG, false, "m_g_Count", "g_GCount_lng",
           "变量命名不符合规范，应为 'g_GCount_lng'"},
          {S::MODULE_PRIVATE, T::DOUBLE, true, "i_Data_adbl", "m_Data_adbl",
           "变量命名不符合规范，应为 'm_Data_adbl'"},
          {S::MODULE_PRIVATE, T::PINLISTDATA, false, "vdd_pins", "m_VddPins_PLD",
           "变量命名不符合规范，应为 'm_VddPins_PLD'"},
          {S::GLOBAL, T::SITELONG, true, "g_Sites_SLNG", "g_Sites_aSLNG",
           "变量命名不符合规范，应为 'g_Sites_aSLNG'"},
          {S::GLOBAL, T::BOOLEAN, true, "g_Flag_bool", "g_Flag_abool",
           "变量命名不符合规范，应为 'g_Flag_abool'"},
          {S::GLOBAL, T::LONG, false, "g_Count_LNG", "g_Count_LNG_lng",
           "变量命名不符合规范，应为 'g_Count_LNG_lng'"},
          {S::GLOBAL, T::LONG, false, "g_TotalCount_lng", "g_TotalCount_lng", k_accepted},
      },
      false);
}

TEST(VBTNamingRules, ConstantRule)
{
  expect_rule(
      {
          {S::GLOBAL, T::LONG, false, "g_MAX_COUNT_lng", "g_MAX_COUNT_lng", k_accepted},
          {S::MODULE_PRIVATE, T::DOUBLE, false, "m_PI_dbl", "m_PI_dbl", k_accepted},
          {S::MODULE_PRIVATE, T::PINLIST, false, "m_PIN_NAMES", "m_PIN_NAMES", k_accepted},
          {S::LOCAL, T::INTEGER, false, "i_PIN_COUNT_int", "i_PIN_COUNT_int", k_accepted},
          {S::LOCAL, T::LONG, false, "i", "i_I_lng", // reserved names follow the constant rule
           "常量名 'i' 应使用下划线全大写格式，建议改为：'i_I_lng'"},
          {S::GLOBAL, T::LONG, false, "g_MaxCount_lng", "g_MAX_COUNT_lng",
           "常量名 'g_MaxCount_lng' 应使用下划线全大写格式，建议改为：'g_MAX_COUNT_lng'"},
          {S::GLOBAL, T::LONG, false, "g_MaxCount", "g_MAXCOUNT_lng",
           "常量名 'g_MaxCount' 应使用全大写和下划线格式，建议改为：'g_MAXCOUNT_lng'"},
          {S::GLOBAL, T::DOUBLE, false, "g_Vdd2Level", "g_VDD2_LEVEL_dbl",
           "常量名 'g_Vdd2Level' 应使用全大写和下划线格式，建议改为：'g_VDD2_LEVEL_dbl'"},
          {S::GLOBAL, T::LONG, true, "g_MAX_lng", "g_MAX_LNG_alng",
           "常量名 'g_MAX_lng' 应使用全大写和下划线格式，建议改为：'g_MAX_LNG_alng'"},
          {S::GLOBAL, T::LONG, false, "g_MAX_COUNT_int", "g_MAX_COUNT_INT_lng",
           "常量名 'g_MAX_COUNT_int' 应使用全大写和下划线格式，建议改为：'g_MAX_COUNT_INT_lng'"},
          {S::GLOBAL, T::DOUBLE, false, "g_ADCRange_dbl", "g_ADC_RANGE_dbl",
           "常量名 'g_ADCRange_dbl' 应使用下划线全大写格式，建议改为：'g_ADC_RANGE_dbl'"},
          {S::MODULE_PRIVATE, T::LONG, false, "MAX_COUNT", "m_MAX_COUNT_lng",
           "常量名 'MAX_COUNT' 应使用下划线全大写格式，建议改为：'m_MAX_COUNT_lng'"},
          {S::MODULE_PRIVATE, T::DOUBLE, false, "maxVoltage", "m_MAXVOLTAGE_dbl",
           "常量名 'maxVoltage' 应使用下划线全大写格式，建议改为：'m_MAXVOLTAGE_dbl'"},
          {S::GLOBAL, T::LONG, false, "g_Straße", "g_STRASSE_lng", // full upper-case mapping
           "常量名 'g_Straße' 应使用全大写和下划线格式，建议改为：'g_STRASSE_lng'"},
          {S::GLOBAL, T::LONG, false, "g_12_lng", "g_12_lng", // no letter: not upper snake
           "常量名 'g_12_lng' 应使用下划线全大写格式，建议改为：'g_12_lng'"},
          {S::LOCAL, T::INTEGER, false, "PinCount", "i_PIN_COUNT_int",
           "常量名 'PinCount' 应使用下划线全大写格式，建议改为：'i_PIN_COUNT_int'"},
      },
      true);
}

TEST(VBTNamingRules, ParameterRule)
{
  struct Case
  {
    FunctionType kind;
    const char* keyword;
    const char* name;
    const char* correct;
    const char* issue;
  };
  const std::vector<Case> cases = {
      {FunctionType::VBT, "ByVal", "in_data", "Data",
       "VBT函数参数 'in_data' 不应有前缀，应为PascalCase格式：'Data'"},
      {FunctionType::VBT, "", "inout_Value", "Value",
       "VBT函数参数 'inout_Value' 不应有前缀，应为PascalCase格式：'Value'"},
      {FunctionType::VBT, "", "out_x", "X",
       "VBT函数参数 'out_x' 不应有前缀，应为PascalCase格式：'X'"},
      {FunctionType::VBT, "", "pin_name", "PinName",
       "VBT函数参数 'pin_name' 应为PascalCase格式：'PinName'"},
      {FunctionType::VBT, "", "PinName", "PinName", k_accepted},
      {FunctionType::VBT, "", "pinName", "Pinname",
       "VBT函数参数 'pinName' 应为PascalCase格式：'Pinname'"},
      {FunctionType::VBT, "", "In_Data", "In_Data", k_accepted},
      {FunctionType::DSP, "", "in_Data", "in_Data",
       "DSP/非VBT函数参数 'in_Data' 必须指定ByVal或ByRef"},
      {FunctionType::DSP, "ByVal", "in_Data", "in_Data", k_accepted},
      {FunctionType::OTHER, "", "data", "data",
       "DSP/非VBT函数参数 'data' 必须指定ByVal或ByRef"}, // only the keyword is reported
      {FunctionType::OTHER, "ByRef", "data", "in_Data",
       "DSP/非VBT函数参数 'data' 应有in_/out_/inout_前缀，建议：'in_Data'"},
      {FunctionType::DSP, "ByVal", "In_Data", "in_InData",
       "DSP/非VBT函数参数 'In_Data' 应有in_/out_/inout_前缀，建议：'in_InData'"},
      {FunctionType::DSP, "ByRef", "out_result_value", "out_ResultValue",
       "DSP/非VBT函数参数 'out_result_value' 的基础名称应为PascalCase格式：'out_ResultValue'"},
      {FunctionType::OTHER, "byref", "inout_Buf", "inout_Buf", k_accepted},
      {FunctionType::IP, "", "x", "x", k_accepted},
      {FunctionType::IP, "ByVal", "in_bad name", "in_bad name", k_accepted},
  };
  for (const Case& c : cases) {
    const NameCheck got = R::check_function_parameter(c.name, "Long", c.keyword, c.kind);
    EXPECT_EQ(got.correct_name, c.correct) << c.name;
    EXPECT_EQ(got.issue.value_or(""), c.issue) << c.name;
  }
}

} // namespace
} // namespace tarnwick::brimsel
