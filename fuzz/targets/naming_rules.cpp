// The VBT naming rules on one name. Byte 0 picks the scope, byte 1 the type, byte 2 the
// flags (array, constant, procedure kind, passing keyword); the rest is the name.
#include "fuzz/support.hpp"
#include "tarnwick/brimsel/naming_rules.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  using namespace tarnwick::brimsel;
  if (size < 3) {
    return 0;
  }
  const std::string name(fuzz::as_text(data + 3, size - 3));
  VariableInfo info;
  info.name = name;
  info.original_name = name;
  info.scope = static_cast<VariableScope>(data[0] % 6);
  info.var_type = static_cast<VariableType>(data[1] % 19);
  info.is_array = (data[2] & 1) != 0;
  info.is_const = (data[2] & 2) != 0;
  const auto func_type = static_cast<FunctionType>((data[2] >> 2) % 4);
  static constexpr std::string_view passing[] = {"", "ByVal", "ByRef", "byval"};
  fuzz::run_guarded([&] {
    const NameCheck variable = info.is_const ? VBTNamingRules::get_correct_constant_name(info)
                                             : VBTNamingRules::get_correct_variable_name(info);
    fuzz::check(variable.issue.has_value() || variable.correct_name == name,
                "no issue, yet a name other than the present one");
    const NameCheck parameter = VBTNamingRules::check_function_parameter(
        name, "Long", passing[(data[2] >> 4) % 4], func_type);
    fuzz::check(parameter.issue.has_value() || parameter.correct_name == name,
                "no parameter issue, yet another name");
    (void)VBTNamingRules::to_camel_style(name);
    (void)VBTNamingRules::is_camel_style(name);
    (void)VBTNamingRules::camel_to_snake_case(name);
    (void)VBTNamingRules::strip_scope_prefix(name);
    (void)VBTNamingRules::strip_type_suffix(name);
    (void)VBTNamingRules::get_type_suffix(info.var_type, info.is_array);
  });
  return 0;
}
