#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/brimsel/export.hpp"
#include "tarnwick/brimsel/records.hpp"
#include "tarnwick/text/ordered_map.hpp"

namespace tarnwick::brimsel {

// Outcome of a naming rule: the name the rules require and, when the present name breaks them,
// the reason. Without an issue `correct_name` is the present name.
struct NameCheck
{
  std::string correct_name;
  std::optional<std::string> issue;

  bool operator==(const NameCheck&) const = default;
};

// The VBT naming rules: constant tables and stateless operations.
class TARNWICK_BRIMSEL_EXPORT VBTNamingRules
{
public:
  VBTNamingRules() = delete;

  // Lower-case names reserved for loop counters and the site variable: i j k m n site.
  static const std::set<std::string, std::less<>> RESERVED_VARS;
  // Type suffixes per type, in scan order: the scalar suffix, then the array suffix if any.
  // USERCLASS and PINLIST have no entry.
  static const text::OrderedMap<VariableType, std::vector<std::string>> TYPE_SUFFIXES;
  // Name prefix per scope, in scan order.
  static const text::OrderedMap<VariableScope, std::string> SCOPE_PREFIXES;

  // The suffix a variable of `var_type` carries ("" for a type without an entry); the array
  // suffix when `is_array` and the type has one.
  static std::string get_type_suffix(VariableType var_type, bool is_array);

  // Whether `name` counts as PascalCase: an upper-case first letter and, underscores aside,
  // only letters and numerals of any script.
  static bool is_camel_style(std::string_view name);

  // `name` in PascalCase built from its ASCII letters and digits: every other character
  // separates words ("my_var" -> "MyVar", "Größe" -> "GrE").
  static std::string to_camel_style(std::string_view name);

  // `camel_str` with "_" inserted at word boundaries ("ABCDef" -> "ABC_Def"); case unchanged.
  static std::string camel_to_snake_case(std::string_view camel_str);

  // `text` without the first scope prefix (in table order) it starts with.
  static std::string strip_scope_prefix(std::string_view text);

  // `text` with every type suffix cut that it ends with while the table is walked once.
  static std::string strip_type_suffix(std::string_view text);

  // The variable rule: reserved names, object types, prefix, suffix and PascalCase. Constants
  // go to get_correct_constant_name.
  static NameCheck get_correct_variable_name(const VariableInfo& var_info);

  // The constant rule: prefix, upper snake case, suffix.
  static NameCheck get_correct_constant_name(const VariableInfo& var_info);

  // The parameter rule for one parameter of a procedure of kind `func_type`; `param_type`
  // plays no part.
  static NameCheck check_function_parameter(std::string_view param_name,
                                            std::string_view param_type,
                                            std::string_view byval_byref, FunctionType func_type);
};

} // namespace tarnwick::brimsel
