#include <gtest/gtest.h>

#include "tarnwick/brimsel/records.hpp"

namespace tarnwick::brimsel {
namespace {

// The text values reach messages and report cells, so every letter counts.
TEST(VBTRecords, EnumerationTextsInMemberOrder)
{
  std::string types;
  for (int i = 0; i <= static_cast<int>(VariableType::PATTERN); ++i) {
    types += std::string(to_string(static_cast<VariableType>(i))) + " ";
  }
  EXPECT_EQ(types, "Integer Long Single Double String Boolean Variant SiteLong SiteDouble "
                   "SiteBoolean DspWave Enum Type PinData PinListData CSL UserClass PinList "
                   "Pattern ");
  std::string scopes;
  for (int i = 0; i <= static_cast<int>(VariableScope::CLASS_EXTERNAL); ++i) {
    scopes += std::string(to_string(static_cast<VariableScope>(i))) + " ";
  }
  EXPECT_EQ(scopes, "local module_private global class_private class_public class_external ");
  EXPECT_EQ(to_string(FunctionType::VBT), "VBT");
  EXPECT_EQ(to_string(FunctionType::DSP), "DSP");
  EXPECT_EQ(to_string(FunctionType::IP), "IP");
  EXPECT_EQ(to_string(FunctionType::OTHER), "OTHER");
}

TEST(VBTRecords, OptionalFieldsStartAbsent)
{
  const VariableInfo v{.name = "x",
                       .original_name = "x",
                       .scope = VariableScope::GLOBAL,
                       .var_type = VariableType::LONG,
                       .is_array = false,
                       .file_path = "m.bas",
                       .line_number = 3};
  EXPECT_EQ(v.function_name, std::nullopt);
  EXPECT_FALSE(v.is_const);
  EXPECT_EQ(v.correct_name, std::nullopt);
  EXPECT_EQ(v.issue_description, std::nullopt);

  const TypeInfo t{.name = "P", .original_name = "P", .info_type = "Type", .file_path = "m.bas"};
  EXPECT_EQ(t.scope, "public");
  EXPECT_EQ(t.correct_name, std::nullopt);
  EXPECT_EQ(t.issue_description, std::nullopt);
  EXPECT_EQ(t.reference_count, 0);
  EXPECT_TRUE(t.referenced_files.empty());

  const VariableReference r{.var_name = "x", .file_path = "m.bas", .line_number = 4};
  EXPECT_EQ(r.function_name, std::nullopt);
  EXPECT_EQ(r.context, "");
}

} // namespace
} // namespace tarnwick::brimsel
