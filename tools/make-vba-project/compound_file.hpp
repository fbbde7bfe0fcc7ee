#pragma once

#include <string>
#include <vector>

namespace tarnwick::tools {

// One storage or stream of a compound file. Names are ASCII (at most 31 characters).
struct CompoundNode
{
  std::string name;
  bool is_storage = false;
  std::string data;                  // streams only
  std::vector<CompoundNode> children; // storages only

  static CompoundNode storage(std::string name, std::vector<CompoundNode> children)
  {
    return {std::move(name), true, {}, std::move(children)};
  }
  static CompoundNode stream(std::string name, std::string data)
  {
    return {std::move(name), false, std::move(data), {}};
  }
};

// Writes the children of `root` as a version 3 compound file (512-byte sectors): streams
// shorter than 4096 bytes go to the mini stream. Every time stamp and class id is zero, so
// the same tree always gives the same bytes. Throws std::runtime_error for a name that does not
// fit or a tree too large for a file without DIFAT sectors.
std::string write_compound_file(const std::vector<CompoundNode>& root_children);

} // namespace tarnwick::tools
