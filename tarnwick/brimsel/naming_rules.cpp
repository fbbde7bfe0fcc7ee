#include "tarnwick/brimsel/naming_rules.hpp"

#include "tarnwick/text/unicode.hpp"

namespace tarnwick::brimsel {

namespace {

bool is_ascii_alnum(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char ascii_upper(char c)
{
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char ascii_lower(char c)
{
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// First character upper-case, the rest lower-case; `word` is ASCII.
std::string capitalize_ascii(std::string_view word)
{
  std::string out;
  out.reserve(word.size());
  for (std::size_t i = 0; i < word.size(); ++i) {
    out += i == 0 ? ascii_upper(word[i]) : ascii_lower(word[i]);
  }
  return out;
}

// Letters A-Z, digits and "_" only, with at least one letter.
bool is_upper_snake(std::string_view text)
{
  bool has_letter = false;
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') {
      has_letter = true;
    } else if (!(c >= '0' && c <= '9') && c != '_') {
      return false;
    }
  }
  return has_letter;
}

std::string scope_prefix(VariableScope scope)
{
  auto it = VBTNamingRules::SCOPE_PREFIXES.find(scope);
  return it == VBTNamingRules::SCOPE_PREFIXES.end() ? std::string() : it->second;
}

// The text itself when it is PascalCase already, else its PascalCase form.
std::string pascal_form(std::string_view text)
{
  return VBTNamingRules::is_camel_style(text) ? std::string(text)
                                              : VBTNamingRules::to_camel_style(text);
}

std::string quoted_name(std::string_view name)
{
  std::string out;
  out.reserve(name.size() + 2);
  out += '\'';
  out += name;
  out += '\'';
  return out;
}

bool is_reserved(std::string_view name)
{
  return VBTNamingRules::RESERVED_VARS.contains(text::lower(name));
}

} // namespace

const std::set<std::string, std::less<>> VBTNamingRules::RESERVED_VARS = {"i", "j", "k",
                                                                          "m", "n", "site"};

const text::OrderedMap<VariableType, std::vector<std::string>> VBTNamingRules::TYPE_SUFFIXES = {
    {VariableType::INTEGER, {"_int", "_aint"}},
    {VariableType::LONG, {"_lng", "_alng"}},
    {VariableType::SINGLE, {"_sgl", "_asgl"}},
    {VariableType::DOUBLE, {"_dbl", "_adbl"}},
    {VariableType::STRING, {"_str", "_astr"}},
    {VariableType::BOOLEAN, {"_bool", "_abool"}},
    {VariableType::VARIANT, {"_var"}},
    {VariableType::SITELONG, {"_SLNG", "_aSLNG"}},
    {VariableType::SITEDOUBLE, {"_SDBL", "_aSDBL"}},
    {VariableType::SITEBOOLEAN, {"_SBOOL", "_aSBOOL"}},
    {VariableType::DSPWAVE, {"_DSP"}},
    {VariableType::ENUM, {"_enum"}},
    {VariableType::TYPE, {"_type"}},
    {VariableType::PINDATA, {"_PD"}},
    {VariableType::PINLISTDATA, {"_PLD"}},
    {VariableType::CSL, {"_CSL"}},
    {VariableType::PATTERN, {"_PT"}},
};

const text::OrderedMap<VariableScope, std::string> VBTNamingRules::SCOPE_PREFIXES = {
    {VariableScope::LOCAL, "i_"},        {VariableScope::MODULE_PRIVATE, "m_"},
    {VariableScope::GLOBAL, "g_"},       {VariableScope::CLASS_PRIVATE, "i_"},
    {VariableScope::CLASS_PUBLIC, "m_"}, {VariableScope::CLASS_EXTERNAL, "v_"},
};

std::string VBTNamingRules::get_type_suffix(VariableType var_type, bool is_array)
{
  auto it = TYPE_SUFFIXES.find(var_type);
  if (it == TYPE_SUFFIXES.end()) {
    return {};
  }
  const auto& suffixes = it->second;
  return is_array && suffixes.size() > 1 ? suffixes[1] : suffixes[0];
}

bool VBTNamingRules::is_camel_style(std::string_view name)
{
  if (name.empty()) {
    return false;
  }
  const std::u32string cps = text::to_u32(name);
  if (!text::is_upper(cps.front())) {
    return false;
  }
  for (char32_t cp : cps) {
    if (cp != U'_' && !text::is_alnum(cp)) {
      return false;
    }
  }
  return true;
}

std::string VBTNamingRules::to_camel_style(std::string_view name)
{
  if (name.empty()) {
    return {};
  }
  // Bytes of multi-byte UTF-8 sequences are never ASCII letters or digits, so a byte walk
  // separates words exactly where a walk over characters would.
  bool has_separator = false;
  for (char c : name) {
    if (!is_ascii_alnum(c)) {
      has_separator = true;
      break;
    }
  }
  if (!has_separator) {
    if (name[0] >= 'A' && name[0] <= 'Z') {
      return std::string(name);
    }
    return capitalize_ascii(name);
  }
  std::string out;
  std::size_t i = 0;
  while (i < name.size()) {
    while (i < name.size() && !is_ascii_alnum(name[i])) {
      ++i;
    }
    std::size_t start = i;
    while (i < name.size() && is_ascii_alnum(name[i])) {
      ++i;
    }
    if (i > start) {
      out += capitalize_ascii(name.substr(start, i - start));
    }
  }
  return out;
}

std::string VBTNamingRules::camel_to_snake_case(std::string_view camel_str)
{
  const std::u32string cps = text::to_u32(camel_str);
  std::string out;
  out.reserve(camel_str.size() + 8);
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const char32_t ch = cps[i];
    if (text::is_upper(ch) && i > 0) {
      const char32_t prev = cps[i - 1];
      if (text::is_lower(prev) || text::is_digit(prev)) {
        out += '_';
      } else if (i + 1 < cps.size() && text::is_lower(cps[i + 1])) {
        out += '_';
      }
    }
    text::append_utf8(out, ch);
  }
  return out;
}

std::string VBTNamingRules::strip_scope_prefix(std::string_view text)
{
  for (const auto& [scope, prefix] : SCOPE_PREFIXES) {
    if (text.starts_with(prefix)) {
      return std::string(text.substr(prefix.size()));
    }
  }
  return std::string(text);
}

std::string VBTNamingRules::strip_type_suffix(std::string_view text)
{
  std::string result(text);
  for (const auto& [type, suffixes] : TYPE_SUFFIXES) {
    for (const std::string& suffix : suffixes) {
      if (std::string_view(result).ends_with(suffix)) {
        result.resize(result.size() - suffix.size());
        break;
      }
    }
  }
  return result;
}

NameCheck VBTNamingRules::get_correct_variable_name(const VariableInfo& var_info)
{
  const std::string& name = var_info.name;
  if (var_info.is_const) {
    return get_correct_constant_name(var_info);
  }
  const bool local = var_info.scope == VariableScope::LOCAL;
  const std::string suffix = get_type_suffix(var_info.var_type, var_info.is_array);

  if (is_reserved(name)) {
    if (!local) {
      return {"g_" + name + suffix, "预留变量名 " + quoted_name(name) + " 不能在 "
                                        + std::string(to_string(var_info.scope)) + " 作用域使用"};
    }
    const std::string lowered = text::lower(name);
    if (lowered == "site") {
      if (var_info.var_type != VariableType::VARIANT) {
        return {name, "预留变量名 " + quoted_name(name) + " 必须为 Variant 类型"};
      }
    } else if (var_info.var_type != VariableType::LONG) {
      return {name, "预留变量名 " + quoted_name(name) + " 必须为 Long 类型"};
    }
    return {name, std::nullopt};
  }

  if (var_info.var_type == VariableType::USERCLASS || var_info.var_type == VariableType::PINLIST) {
    const std::string type_text(to_string(var_info.var_type));
    if (local) {
      const std::string_view base =
          std::string_view(name).starts_with("i_") ? std::string_view(name).substr(2) : name;
      const std::string pascal = pascal_form(base);
      if (name == "i_" + pascal || name == pascal) {
        return {name, std::nullopt};
      }
      return {pascal,
              type_text + " 类型变量名 " + quoted_name(name) + " 应为 PascalCaseStyle 格式"};
    }
    const std::string prefix = scope_prefix(var_info.scope);
    if (name.starts_with(prefix)) {
      return {name, std::nullopt};
    }
    return {prefix + name, type_text + " 类型变量需要作用域前缀 " + quoted_name(prefix)};
  }

  if (local) {
    const std::string_view base =
        std::string_view(name).starts_with("i_") ? std::string_view(name).substr(2) : name;
    const std::string pascal = pascal_form(strip_type_suffix(base));
    const std::string with_prefix = "i_" + pascal + suffix;
    const std::string without_prefix = pascal + suffix;
    if (name == with_prefix || name == without_prefix) {
      return {name, std::nullopt};
    }
    return {without_prefix, "变量命名不符合规范，建议使用 " + quoted_name(without_prefix) + " 或 "
                                + quoted_name(with_prefix)};
  }
  const std::string prefix = scope_prefix(var_info.scope);
  const std::string expected =
      prefix + pascal_form(strip_type_suffix(strip_scope_prefix(name))) + suffix;
  if (name == expected) {
    return {name, std::nullopt};
  }
  return {expected, "变量命名不符合规范，应为 " + quoted_name(expected)};
}

NameCheck VBTNamingRules::get_correct_constant_name(const VariableInfo& var_info)
{
  const std::string& name = var_info.name;
  const std::string prefix = scope_prefix(var_info.scope);
  const std::string suffix = get_type_suffix(var_info.var_type, var_info.is_array);

  if (name.starts_with(prefix)) {
    const std::string_view base = std::string_view(name).substr(prefix.size());
    if (!suffix.empty() && base.ends_with(suffix)) {
      if (is_upper_snake(base.substr(0, base.size() - suffix.size()))) {
        return {name, std::nullopt};
      }
    } else if (suffix.empty()) {
      if (is_upper_snake(base)) {
        return {name, std::nullopt};
      }
    } else {
      const std::string correct = prefix + camel_to_snake_case(text::upper(base)) + suffix;
      return {correct, "常量名 " + quoted_name(name) + " 应使用全大写和下划线格式，建议改为："
                           + quoted_name(correct)};
    }
  }
  const std::string base = strip_type_suffix(strip_scope_prefix(name));
  const std::string correct =
      prefix + text::upper(camel_to_snake_case(to_camel_style(base))) + suffix;
  return {correct, "常量名 " + quoted_name(name) + " 应使用下划线全大写格式，建议改为："
                       + quoted_name(correct)};
}

NameCheck VBTNamingRules::check_function_parameter(std::string_view param_name,
                                                   std::string_view /*param_type*/,
                                                   std::string_view byval_byref,
                                                   FunctionType func_type)
{
  const std::string name(param_name);
  static constexpr std::string_view k_prefixes[] = {"in_", "out_", "inout_"};

  switch (func_type) {
  case FunctionType::VBT: {
    for (std::string_view prefix : k_prefixes) {
      if (param_name.starts_with(prefix)) {
        const std::string correct = to_camel_style(param_name.substr(prefix.size()));
        return {correct, "VBT函数参数 " + quoted_name(name) + " 不应有前缀，应为PascalCase格式："
                             + quoted_name(correct)};
      }
    }
    if (!is_camel_style(param_name)) {
      const std::string correct = to_camel_style(param_name);
      return {correct,
              "VBT函数参数 " + quoted_name(name) + " 应为PascalCase格式：" + quoted_name(correct)};
    }
    return {name, std::nullopt};
  }
  case FunctionType::DSP:
  case FunctionType::OTHER: {
    if (byval_byref.empty()) {
      return {name, "DSP/非VBT函数参数 " + quoted_name(name) + " 必须指定ByVal或ByRef"};
    }
    for (std::string_view prefix : k_prefixes) {
      if (param_name.starts_with(prefix)) {
        const std::string_view base = param_name.substr(prefix.size());
        if (!is_camel_style(base)) {
          const std::string correct = std::string(prefix) + to_camel_style(base);
          return {correct, "DSP/非VBT函数参数 " + quoted_name(name)
                               + " 的基础名称应为PascalCase格式：" + quoted_name(correct)};
        }
        return {name, std::nullopt};
      }
    }
    const std::string correct = "in_" + to_camel_style(param_name);
    return {correct, "DSP/非VBT函数参数 " + quoted_name(name) + " 应有in_/out_/inout_前缀，建议："
                         + quoted_name(correct)};
  }
  case FunctionType::IP:
    return {name, std::nullopt};
  }
  return {name, std::nullopt};
}

} // namespace tarnwick::brimsel
