#pragma once

#include <string>
#include <string_view>

#include "tarnwick/olvent/export.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::olvent {

// An arithmetic expression that cannot be evaluated; the message names the fault and quotes
// the expression.
class TARNWICK_OLVENT_EXPORT EvaluationError : public Error
{
public:
  explicit EvaluationError(const std::string& message);
  ~EvaluationError() override;
};

// Evaluates the arithmetic expression `text`: decimal numbers with an optional fraction and
// exponent ("12", "1.5", ".5", "5.", "1.5E-9"), the binary operators + - * / with the usual
// precedence and left to right, unary minus and plus, parentheses; blanks and tabs between
// tokens are skipped. Returns the value as a double.
// Throws EvaluationError for an empty text, any other character (a name, a unit, "**"),
// unbalanced parentheses, input left over after a complete expression (no implicit
// multiplication: "2(3)" is refused), a missing operand and division by zero.
TARNWICK_OLVENT_EXPORT double evaluate_expression(std::string_view text);

} // namespace tarnwick::olvent
