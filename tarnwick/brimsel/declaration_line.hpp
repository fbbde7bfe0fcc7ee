#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "tarnwick/brimsel/export.hpp"

namespace tarnwick::brimsel {

// The parts of a declaration line, as views into the line.
struct DeclarationParts
{
  std::string_view keyword; // Public, Private, Global, Dim or Const, as written
  bool const_word = false;  // a second word "Const" follows the keyword
  std::string_view names;   // the text before the first " As <type>" that ends the line well
  std::string_view type;    // the type word after that "As" (and an optional "New")
};

// Reads `line` (a stripped declaration without its comment) as the pattern
// "^\s*(Public|Private|Global|Dim|Const)\s+(?:(Const)\s+)?(?P<names>.+?)\s+As\s+(?:New\s+)?
// (?P<type>\w+)(?:\s*\([^)]*\))?\s*(?:=\s*.+)?$" reads it (caseless, Unicode classes), with
// the same result, but in one pass: the work grows linearly with the line, where the pattern
// tries every end of the names against the rest of the line. `steps`, when given, receives the
// number of characters looked at. Nothing when the line is no such declaration.
TARNWICK_BRIMSEL_EXPORT std::optional<DeclarationParts>
match_declaration(std::string_view line, std::size_t* steps = nullptr);

} // namespace tarnwick::brimsel
