#include "tarnwick/olvent/evaluate.hpp"

#include <cstddef>
#include <string>

#include "tarnwick/text/number.hpp"

namespace tarnwick::olvent {

EvaluationError::EvaluationError(const std::string& message) : Error(message) {}
EvaluationError::~EvaluationError() = default;

namespace {

// Deeper nesting than any test program writes; keeps the recursion off the end of the stack.
constexpr int k_max_nesting = 200;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Recursive-descent parser over one expression text:
//   expression := term (("+" | "-") term)*
//   term       := factor (("*" | "/") factor)*
//   factor     := ("+" | "-")* (number | "(" expression ")")
class Parser
{
public:
  explicit Parser(std::string_view text) : m_text(text) {}

  double parse()
  {
    skip_blanks();
    if (at_end())
      throw EvaluationError("Cannot evaluate an empty expression");
    double value = expression();
    if (!at_end()) {
      if (m_text[m_pos] == ')')
        fail("Unbalanced ')'");
      fail("Unexpected input after a complete expression");
    }
    return value;
  }

private:
  double expression()
  {
    double value = term();
    while (!at_end() && (peek() == '+' || peek() == '-')) {
      char op = next();
      double rhs = term();
      value = op == '+' ? value + rhs : value - rhs;
    }
    return value;
  }

  double term()
  {
    double value = factor();
    while (!at_end() && (peek() == '*' || peek() == '/')) {
      std::size_t op_pos = m_pos;
      char op = next();
      double rhs = factor();
      if (op == '*') {
        value *= rhs;
      } else {
        if (rhs == 0.0) {
          m_pos = op_pos;
          fail("Division by zero");
        }
        value /= rhs;
      }
    }
    return value;
  }

  double factor()
  {
    bool negative = false;
    while (!at_end() && (peek() == '-' || peek() == '+')) {
      if (next() == '-')
        negative = !negative;
    }
    if (at_end())
      fail("Missing operand at the end");
    double value;
    char c = peek();
    if (c == '(') {
      std::size_t open_pos = m_pos;
      next();
      if (++m_depth > k_max_nesting)
        fail("Parentheses nested too deeply");
      value = expression();
      --m_depth;
      if (at_end()) {
        m_pos = open_pos;
        fail("Unbalanced '('");
      }
      if (peek() != ')')
        fail("Expected ')'");
      next();
    } else if (is_digit(c) || c == '.') {
      value = number();
    } else if (c == ')') {
      fail("Missing operand before ')'");
    } else if (c == '*' || c == '/') {
      fail("Missing operand before '" + std::string(1, c) + "'");
    } else {
      fail("Unexpected character");
    }
    return negative ? -value : value;
  }

  // digits ["." digits] | "." digits, then an optional exponent e[+-]digits.
  double number()
  {
    std::size_t start = m_pos;
    std::size_t pos = m_pos;
    std::size_t digits = 0;
    while (pos < m_text.size() && is_digit(m_text[pos])) {
      ++pos;
      ++digits;
    }
    if (pos < m_text.size() && m_text[pos] == '.') {
      ++pos;
      while (pos < m_text.size() && is_digit(m_text[pos])) {
        ++pos;
        ++digits;
      }
    }
    if (digits == 0)
      fail("Unexpected character");
    if (pos < m_text.size() && (m_text[pos] == 'e' || m_text[pos] == 'E')) {
      std::size_t exp = pos + 1;
      if (exp < m_text.size() && (m_text[exp] == '+' || m_text[exp] == '-'))
        ++exp;
      if (exp >= m_text.size() || !is_digit(m_text[exp])) {
        m_pos = pos;
        fail("Malformed exponent");
      }
      while (exp < m_text.size() && is_digit(m_text[exp]))
        ++exp;
      pos = exp;
    }
    auto value = text::parse_float(m_text.substr(start, pos - start));
    if (!value)
      fail("Malformed number");
    m_pos = pos;
    skip_blanks();
    return *value;
  }

  bool at_end() const { return m_pos >= m_text.size(); }
  char peek() const { return m_text[m_pos]; }

  char next()
  {
    char c = m_text[m_pos++];
    skip_blanks();
    return c;
  }

  void skip_blanks()
  {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
      ++m_pos;
  }

  [[noreturn]] void fail(const std::string& what) const
  {
    std::string message = what;
    if (m_pos < m_text.size())
      message += " at position " + std::to_string(m_pos + 1) + " ('" + character_at(m_pos) + "')";
    message += " in expression: " + std::string(m_text);
    throw EvaluationError(message);
  }

  // The whole UTF-8 sequence that starts at byte `pos`, so a message never cuts a character.
  std::string character_at(std::size_t pos) const
  {
    auto lead = static_cast<unsigned char>(m_text[pos]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return std::string(m_text.substr(pos, length));
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
  int m_depth = 0;
};

} // namespace

double evaluate_expression(std::string_view text) { return Parser(text).parse(); }

} // namespace tarnwick::olvent
