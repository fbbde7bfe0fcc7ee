#pragma once

// Small text helpers shared by the power-pin and the pattern columns of a job sheet. Internal to
// the engine library; not installed.

#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/kenmoor/kenmoor.hpp"
#include "tarnwick/sarnet/sarnet.hpp"

namespace tarnwick::olvent::columns {

// `file` in the folder `directory`, joined the way the host joins paths: an absolute `file`
// stands alone, and no "/" is added after an empty folder or one that ends in "/".
inline std::string join_path(const std::string& directory, const std::string& file)
{
  if (!file.empty() && file.front() == '/')
    return file;
  if (directory.empty() || directory.back() == '/')
    return directory + file;
  return directory + "/" + file;
}

// A category that begins with "::" gets the context environment `context_env` put directly in
// front of it, unless that is empty ("::Slow" with "Ctx" gives "Ctx::Slow").
inline std::string with_context(const std::string& context_env, const std::string& category)
{
  if (!context_env.empty() && category.starts_with("::"))
    return context_env + category;
  return category;
}

// `text` cut at every ",", empty items kept ("a,,b" gives "a", "", "b").
inline std::vector<std::string> split_commas(std::string_view text)
{
  std::vector<std::string> items;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      items.emplace_back(text.substr(start));
      return items;
    }
    items.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

// `items` joined by ",".
inline std::string join_commas(const std::vector<std::string>& items)
{
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      text += ',';
    text += items[i];
  }
  return text;
}

// Writes `line` and a line feed to standard output.
inline void print_line(const std::string& line)
{
  std::cout << line << '\n';
}

// The table `table` points to, or an empty one.
inline const sarnet::SpecDict& spec_table(const std::shared_ptr<const sarnet::SpecDict>& table)
{
  static const sarnet::SpecDict empty;
  return table ? *table : empty;
}
inline const kenmoor::TestInstanceDict&
instance_table(const std::shared_ptr<kenmoor::TestInstanceDict>& table)
{
  static const kenmoor::TestInstanceDict empty;
  return table ? *table : empty;
}

} // namespace tarnwick::olvent::columns
