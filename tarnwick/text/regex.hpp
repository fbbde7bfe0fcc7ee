#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarnwick/text/export.hpp"

namespace tarnwick::text {

struct RegexOptions
{
  bool caseless = false; // ignore case
  bool unicode = false;  // PCRE2_UCP: Unicode-aware \w \s \d \b and POSIX classes
  // Most backtracking steps one match may take before it fails with an error; 0 keeps
  // PCRE2's own limit.
  std::uint32_t match_limit = 0;
};

// One match: group 0 is the whole match. A group that did not take part is absent, which is not
// the same as a group that matched the empty text.
class TARNWICK_TEXT_EXPORT Match
{
public:
  // Number of groups including group 0.
  std::size_t size() const;
  // Whether group `i` took part.
  bool matched(std::size_t i) const;
  // Text of group `i`; std::nullopt when it did not take part or does not exist.
  std::optional<std::string> group(std::size_t i = 0) const;
  // Text of the named group `name`; std::nullopt when it did not take part.
  // Throws tarnwick::Error when the pattern has no group of that name.
  std::optional<std::string> group(std::string_view name) const;
  // Text of group `i`, or "" when it did not take part.
  std::string str(std::size_t i = 0) const;
  // Byte offsets of group `i` in the subject; only for groups that took part.
  std::size_t start(std::size_t i = 0) const;
  std::size_t end(std::size_t i = 0) const;

private:
  friend class Regex;
  std::vector<std::optional<std::pair<std::size_t, std::size_t>>> m_spans;
  std::vector<std::optional<std::string>> m_groups;
  std::shared_ptr<const void> m_names; // name table of the pattern
};

// A PCRE2 pattern compiled once, always in UTF mode with LF as the newline. Patterns are
// written in Perl syntax and may use (?P<name>...). Every PCRE2 error other than "no match"
// (bad pattern, match or depth limit, bad UTF subject) throws tarnwick::Error.
class TARNWICK_TEXT_EXPORT Regex
{
public:
  // Throws tarnwick::Error naming the pattern and PCRE2's message when it does not compile.
  explicit Regex(std::string_view pattern, RegexOptions options = {});
  ~Regex();
  Regex(Regex&&) noexcept;
  Regex& operator=(Regex&&) noexcept;
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // First match anywhere in `subject` at or after byte `start`.
  std::optional<Match> search(std::string_view subject, std::size_t start = 0) const;
  // A match that begins at the start of `subject` (Python's re.match).
  std::optional<Match> match_at_start(std::string_view subject) const;
  // A match of the whole of `subject` (Python's re.fullmatch).
  std::optional<Match> full_match(std::string_view subject) const;
  // Every non-overlapping match left to right; yields group 1 when the pattern has groups
  // (an absent group gives ""), else the whole match (Python's re.findall with one group).
  std::vector<std::string> find_all(std::string_view subject) const;
  // Every non-overlapping match left to right, as Match objects.
  std::vector<Match> find_iter(std::string_view subject) const;
  // Cuts `subject` at every match (Python's re.split without groups in the pattern).
  std::vector<std::string> split(std::string_view subject) const;
  // Replaces every match (or the first `count` when count > 0) by `replacement`, taken
  // literally: "$" and "\" in it mean themselves.
  std::string sub(std::string_view subject, std::string_view replacement,
                  std::size_t count = 0) const;

  const std::string& pattern() const;

private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// `text` with every regex metacharacter escaped, for building a pattern from a literal.
TARNWICK_TEXT_EXPORT std::string regex_escape(std::string_view text);

} // namespace tarnwick::text
