#include "tarnwick/text/regex.hpp"

#include <pcre2.h>

#include "tarnwick/text/error.hpp"

namespace tarnwick::text {

namespace {

std::string pcre2_message(int code)
{
  PCRE2_UCHAR buffer[256];
  const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (length < 0) {
    return "PCRE2 error " + std::to_string(code);
  }
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

using MatchData = std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)>;

// Span of group `i` in the last match, std::nullopt when the group did not take part.
std::optional<std::pair<std::size_t, std::size_t>> span(const PCRE2_SIZE* ovector, int rc,
                                                        std::size_t i)
{
  if (static_cast<int>(i) >= rc || ovector[2 * i] == PCRE2_UNSET) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<std::size_t>(ovector[2 * i]),
                        static_cast<std::size_t>(ovector[2 * i + 1]));
}

// Text of `subject` between `begin` and `end`; empty when \K put the end before the start.
std::string slice(std::string_view subject, std::size_t begin, std::size_t end)
{
  return end > begin ? std::string(subject.substr(begin, end - begin)) : std::string();
}

} // namespace

// ---- Match -------------------------------------------------------------------------------------

std::size_t Match::size() const
{
  return m_spans.size();
}

bool Match::matched(std::size_t i) const
{
  return i < m_spans.size() && m_spans[i].has_value();
}

std::optional<std::string> Match::group(std::size_t i) const
{
  return i < m_groups.size() ? m_groups[i] : std::nullopt;
}

std::optional<std::string> Match::group(std::string_view name) const
{
  const auto* code = static_cast<const pcre2_code*>(m_names.get());
  const std::string key(name);
  const int number =
      code ? pcre2_substring_number_from_name(code, reinterpret_cast<PCRE2_SPTR>(key.c_str()))
           : PCRE2_ERROR_NOSUBSTRING;
  if (number < 0) {
    throw Error("No group named '" + key + "' in the regular expression");
  }
  return group(static_cast<std::size_t>(number));
}

std::string Match::str(std::size_t i) const
{
  return i < m_groups.size() && m_groups[i] ? *m_groups[i] : std::string();
}

std::size_t Match::start(std::size_t i) const
{
  if (!matched(i)) {
    throw Error("Group " + std::to_string(i) + " did not take part in the match");
  }
  return m_spans[i]->first;
}

std::size_t Match::end(std::size_t i) const
{
  if (!matched(i)) {
    throw Error("Group " + std::to_string(i) + " did not take part in the match");
  }
  return m_spans[i]->second;
}

// ---- Regex -------------------------------------------------------------------------------------

struct Regex::Impl
{
  std::string pattern;
  std::shared_ptr<pcre2_code> code;
  std::unique_ptr<pcre2_match_context, decltype(&pcre2_match_context_free)> context{
      nullptr, &pcre2_match_context_free};
  std::size_t groups = 1; // including group 0

  MatchData new_match_data() const
  {
    MatchData data(pcre2_match_data_create_from_pattern(code.get(), nullptr),
                   &pcre2_match_data_free);
    if (!data) {
      throw Error("Out of memory for a match of the regular expression '" + pattern + "'");
    }
    return data;
  }

  // One pcre2_match call. Returns PCRE2's count (> 0) or 0 for "no match"; every other
  // outcome throws.
  int run(std::string_view subject, std::size_t start, uint32_t options,
          pcre2_match_data* data) const
  {
    const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject.data() ? subject.data() : "");
    int rc = pcre2_match(code.get(), bytes, subject.size(), start, options, data, context.get());
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      rc = pcre2_match(code.get(), bytes, subject.size(), start, options | PCRE2_NO_JIT, data,
                       context.get());
    }
    if (rc == PCRE2_ERROR_NOMATCH) {
      return 0;
    }
    if (rc < 0) {
      throw Error("Regular expression '" + pattern + "' failed: " + pcre2_message(rc));
    }
    return rc;
  }

  Match make_match(std::string_view subject, pcre2_match_data* data, int rc) const
  {
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    Match match;
    match.m_spans.reserve(groups);
    match.m_groups.reserve(groups);
    for (std::size_t i = 0; i < groups; ++i) {
      const auto s = span(ovector, rc, i);
      match.m_spans.push_back(s);
      match.m_groups.push_back(s ? std::optional<std::string>(slice(subject, s->first, s->second))
                                 : std::nullopt);
    }
    match.m_names = std::shared_ptr<const void>(code, code.get());
    return match;
  }

  std::optional<Match> match_once(std::string_view subject, std::size_t start,
                                  uint32_t options) const
  {
    if (start > subject.size()) {
      return std::nullopt;
    }
    const MatchData data = new_match_data();
    const int rc = run(subject, start, options, data.get());
    if (rc == 0) {
      return std::nullopt;
    }
    return make_match(subject, data.get(), rc);
  }

  // Calls `visit(data, rc)` for every non-overlapping match from left to right, at most `limit`
  // times when limit > 0. After an empty match the next one may not be empty at the same place,
  // so the scan always moves on; a non-empty match may be followed by an empty one where it
  // ends.
  template <class Visit>
  void for_each(std::string_view subject, std::size_t limit, Visit visit) const
  {
    const MatchData data = new_match_data();
    std::size_t position = 0;
    std::size_t count = 0;
    uint32_t options = 0;
    while (position <= subject.size()) {
      const int rc = run(subject, position, options, data.get());
      if (rc == 0) {
        return;
      }
      const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
      const std::size_t begin = ovector[0];
      const std::size_t end = ovector[1];
      visit(data.get(), rc);
      if (limit > 0 && ++count == limit) {
        return;
      }
      // The subject was checked once; the later calls need not check it again.
      options = PCRE2_NO_UTF_CHECK;
      if (end <= begin || end <= position) {
        options |= PCRE2_NOTEMPTY_ATSTART;
        position = std::max(end, position);
      } else {
        position = end;
      }
    }
  }
};

Regex::Regex(std::string_view pattern, RegexOptions options) : m_impl(std::make_unique<Impl>())
{
  m_impl->pattern = std::string(pattern);

  std::unique_ptr<pcre2_compile_context, decltype(&pcre2_compile_context_free)> compile_context(
      pcre2_compile_context_create(nullptr), &pcre2_compile_context_free);
  if (!compile_context) {
    throw Error("Out of memory compiling the regular expression '" + m_impl->pattern + "'");
  }
  pcre2_set_newline(compile_context.get(), PCRE2_NEWLINE_LF);

  uint32_t flags = PCRE2_UTF;
  if (options.unicode) {
    flags |= PCRE2_UCP;
  }
  if (options.caseless) {
    flags |= PCRE2_CASELESS;
  }
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data() ? pattern.data() : ""),
                    pattern.size(), flags, &error, &offset, compile_context.get());
  if (!code) {
    throw Error("Bad regular expression '" + m_impl->pattern + "' at offset "
                + std::to_string(offset) + ": " + pcre2_message(error));
  }
  m_impl->code = std::shared_ptr<pcre2_code>(code, &pcre2_code_free);
  // JIT is a speed-up only: when it is not available the interpreter runs the pattern.
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);

  uint32_t captures = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
  m_impl->groups = static_cast<std::size_t>(captures) + 1;

  if (options.match_limit > 0) {
    m_impl->context.reset(pcre2_match_context_create(nullptr));
    if (!m_impl->context) {
      throw Error("Out of memory compiling the regular expression '" + m_impl->pattern + "'");
    }
    pcre2_set_match_limit(m_impl->context.get(), options.match_limit);
  }
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

std::optional<Match> Regex::search(std::string_view subject, std::size_t start) const
{
  return m_impl->match_once(subject, start, 0);
}

std::optional<Match> Regex::match_at_start(std::string_view subject) const
{
  return m_impl->match_once(subject, 0, PCRE2_ANCHORED);
}

std::optional<Match> Regex::full_match(std::string_view subject) const
{
  return m_impl->match_once(subject, 0, PCRE2_ANCHORED | PCRE2_ENDANCHORED);
}

std::vector<std::string> Regex::find_all(std::string_view subject) const
{
  std::vector<std::string> out;
  const std::size_t wanted = m_impl->groups > 1 ? 1 : 0;
  m_impl->for_each(subject, 0, [&](pcre2_match_data* data, int rc) {
    const auto s = span(pcre2_get_ovector_pointer(data), rc, wanted);
    out.push_back(s ? slice(subject, s->first, s->second) : std::string());
  });
  return out;
}

std::vector<Match> Regex::find_iter(std::string_view subject) const
{
  std::vector<Match> out;
  m_impl->for_each(subject, 0, [&](pcre2_match_data* data, int rc) {
    out.push_back(m_impl->make_match(subject, data, rc));
  });
  return out;
}

std::vector<std::string> Regex::split(std::string_view subject) const
{
  std::vector<std::string> out;
  std::size_t last = 0;
  m_impl->for_each(subject, 0, [&](pcre2_match_data* data, int) {
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    out.push_back(slice(subject, last, ovector[0]));
    last = std::max<std::size_t>(last, ovector[1]);
  });
  out.push_back(slice(subject, last, subject.size()));
  return out;
}

std::string Regex::sub(std::string_view subject, std::string_view replacement,
                       std::size_t count) const
{
  std::string out;
  out.reserve(subject.size());
  std::size_t last = 0;
  m_impl->for_each(subject, count, [&](pcre2_match_data* data, int) {
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    out += slice(subject, last, ovector[0]);
    out += replacement;
    last = std::max<std::size_t>(last, ovector[1]);
  });
  out += slice(subject, last, subject.size());
  return out;
}

const std::string& Regex::pattern() const
{
  return m_impl->pattern;
}

std::string regex_escape(std::string_view text)
{
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = b >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')
                       || (c >= 'A' && c <= 'Z') || c == '_';
    if (!plain) {
      out.push_back('\\');
    }
    out.push_back(c);
  }
  return out;
}

} // namespace tarnwick::text
